// Texture images: channels, geometry and pixel access, the sub-image tree, the "dxt:" stream
// (well formed and damaged) and the second bitmap reader.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DXTextureImage.h"
#include "graphics/TextureTestSupport.h"

namespace {

using texture_test::Bytes;
using texture_test::DXTWriter;

std::unique_ptr<TMemoryStream> StreamOf(const std::vector<BYTE>& data) {
  auto s = std::make_unique<TMemoryStream>();
  if (!data.empty()) s->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  s->SetPosition(0);
  return s;
}

void LoadDXT(const std::vector<BYTE>& data, TDXTextureImage& image) {
  auto s = StreamOf(data);
  TDXTextureImage::LoadDXTStream(s.get(), &image);
}

void LoadDIB(const std::vector<BYTE>& data, TDXTextureImage& image) {
  auto s = StreamOf(data);
  TDXTextureImage::LoadDIBStream(s.get(), &image);
}

template <class Load>
std::string ErrorOf(Load load) {
  try {
    load();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  }
  return "no error";
}

// ---------------------------------------------------------------------------------------------
// Channels

TEST(ImageChannel, ColourChannelsComeOutAsBytesWithTheirTopBitsRepeated) {
  const TImageChannel red = MakeChannel(0x7C00, false);
  EXPECT_EQ(red.BitCount, 5);
  EXPECT_EQ(red.ValueMask, 0xF8u);
  EXPECT_EQ(red.RightShift, 7);
  EXPECT_EQ(red.LeftShift, 0);
  EXPECT_EQ(red.Fill, 3);
  EXPECT_EQ(DecodeChannel(red, 0x7C00), 255u);
  EXPECT_EQ(DecodeChannel(red, 16u << 10), 132u);  // 10000 -> 10000100
  EXPECT_EQ(DecodeChannel(red, 1u << 10), 8u);
  EXPECT_EQ(DecodeChannel(red, 0x83FF), 0u);  // other channels' bits do not leak in
  EXPECT_EQ(EncodeChannel(red, 255), 0x7C00u);
  EXPECT_EQ(EncodeChannel(red, 132), 16u << 10);

  // A narrow channel at bit 0 is shifted left into the byte.
  const TImageChannel blue = MakeChannel(0x7, false);
  EXPECT_EQ(blue.RightShift, 0);
  EXPECT_EQ(blue.LeftShift, 5);
  EXPECT_EQ(DecodeChannel(blue, 0x7), 0xFCu);
  EXPECT_EQ(EncodeChannel(blue, 0xE0), 0x7u);

  const TImageChannel alpha = MakeChannel(0xFF000000u, false);
  EXPECT_EQ(alpha.BitCount, 8);
  EXPECT_EQ(DecodeChannel(alpha, 0xAB123456u), 0xABu);
  EXPECT_EQ(EncodeChannel(alpha, 0xAB), 0xAB000000u);
}

TEST(ImageChannel, IndexChannelsGiveTheBareValue) {
  const TImageChannel index = MakeChannel(0xF0, true);
  EXPECT_EQ(index.BitCount, 4);
  EXPECT_EQ(index.ValueMask, 0xFu);
  EXPECT_EQ(index.RightShift, 4);
  EXPECT_EQ(index.LeftShift, 0);
  EXPECT_EQ(index.Fill, 0);
  EXPECT_EQ(DecodeChannel(index, 0xA5), 0xAu);
  EXPECT_EQ(EncodeChannel(index, 0x3), 0x30u);
}

TEST(ImageChannel, EmptyAndTopBitMasks) {
  EXPECT_EQ(ChannelLowBit(0), 31);
  EXPECT_EQ(ChannelBitCount(0), 0);
  EXPECT_EQ(ChannelLowBit(0x80000000u), 31);
  EXPECT_EQ(ChannelBitCount(0x80000000u), 1);
  EXPECT_EQ(ChannelBitCount(0xFFFFFFFFu), 32);
  EXPECT_EQ(ChannelBitCount(0x0F0F), 4);  // only the first run counts
  const TImageChannel none = MakeChannel(0, false);
  EXPECT_EQ(DecodeChannel(none, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(EncodeChannel(none, 0xFF), 0u);
}

// ---------------------------------------------------------------------------------------------
// Geometry, pixels and the sub-image tree

TEST(DXTextureImage, SetSizeMakesAPaddedTopDownBlock) {
  TDXTextureImage image;
  image.HighBitFirst = true;
  image.SetSize(ikPalette, 9, 3, 1, 0);
  EXPECT_EQ(image.WidthBytes, 4);
  EXPECT_EQ(image.RowStep, 4);
  EXPECT_EQ(image.ImageSize, 12);
  EXPECT_EQ(image.TopRow, image.Bits);
  EXPECT_TRUE(image.OwnsBits);
  EXPECT_EQ(image.ScanLine(2), image.Bits + 8);
  image.ClearImage();
  EXPECT_EQ(image.Bits, nullptr);
  EXPECT_EQ(image.Width, 0);
  EXPECT_FALSE(image.OwnsBits);
  EXPECT_TRUE(image.HighBitFirst);  // not part of the image's geometry

  EXPECT_THROW(image.SetSize(ikRGB, -1, 4, 32, 0), EDXTextureImageError);
  EXPECT_THROW(image.SetSize(ikRGB, 100000, 100000, 32, 0), EDXTextureImageError);
}

TEST(DXTextureImage, PixelsAtEveryBitCount) {
  TDXTextureImage image;
  image.SetSize(ikPalette, 8, 1, 1, 0);
  image.Bits[0] = 0x81;  // 1000 0001
  EXPECT_EQ(image.Pixels(0, 0), 1u);
  EXPECT_EQ(image.Pixels(1, 0), 0u);
  EXPECT_EQ(image.Pixels(7, 0), 1u);
  image.Bits[0] = 0x01;
  image.HighBitFirst = true;
  EXPECT_EQ(image.Pixels(0, 0), 0u);
  EXPECT_EQ(image.Pixels(7, 0), 1u);

  image.SetSize(ikPalette, 4, 1, 2, 0);
  image.Bits[0] = 0x1B;  // 00 01 10 11
  image.HighBitFirst = false;
  EXPECT_EQ(image.Pixels(0, 0), 3u);
  EXPECT_EQ(image.Pixels(3, 0), 0u);
  image.HighBitFirst = true;
  EXPECT_EQ(image.Pixels(0, 0), 0u);
  EXPECT_EQ(image.Pixels(1, 0), 1u);

  image.SetSize(ikPalette, 3, 1, 4, 0);
  image.Bits[0] = 0xAB;
  image.Bits[1] = 0xCD;
  image.HighBitFirst = false;
  EXPECT_EQ(image.Pixels(0, 0), 0xBu);
  EXPECT_EQ(image.Pixels(2, 0), 0xDu);
  image.HighBitFirst = true;
  EXPECT_EQ(image.Pixels(0, 0), 0xAu);
  EXPECT_EQ(image.Pixels(2, 0), 0xCu);

  image.SetSize(ikRGB, 2, 2, 16, 0);
  image.ScanLine(1)[2] = 0x34;
  image.ScanLine(1)[3] = 0x12;
  EXPECT_EQ(image.Pixels(1, 1), 0x1234u);

  image.SetSize(ikRGB, 2, 1, 24, 0);
  const BYTE rgb[6] = {1, 2, 3, 4, 5, 6};
  std::copy(rgb, rgb + 6, image.Bits);
  EXPECT_EQ(image.Pixels(1, 0), 0x060504u);

  image.SetSize(ikRGB, 1, 1, 32, 0);
  image.Bits[0] = 0x78, image.Bits[1] = 0x56, image.Bits[2] = 0x34, image.Bits[3] = 0x12;
  EXPECT_EQ(image.Pixels(0, 0), 0x12345678u);
  EXPECT_EQ(image.Pixels(-1, 0), 0u);
  EXPECT_EQ(image.Pixels(1, 0), 0u);
  EXPECT_EQ(image.Pixels(0, 1), 0u);

  image.SetSize(ikRGB, 4, 1, 3, 0);  // no pixel format of that width
  image.Bits[0] = 0xFF;
  EXPECT_EQ(image.Pixels(0, 0), 0u);
}

TEST(DXTextureImage, WrappedMemoryWithABottomUpRowStep) {
  BYTE rows[2][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}};  // stored bottom row first
  TDXTextureImage image;
  image.SetImage(ikPalette, 4, 2, 8, 4, -4, &rows[0][0], &rows[1][0], 8, false);
  EXPECT_EQ(image.Pixels(0, 0), 5u);
  EXPECT_EQ(image.Pixels(3, 1), 4u);
  image.Clear();  // not owned: nothing freed
  EXPECT_EQ(rows[1][0], 5);
}

TEST(DXTextureImage, SubImagesBelongToTheirOwner) {
  TDXTextureImage top;
  TDXTextureImage* a = TDXTextureImage::CreateSub(&top);
  TDXTextureImage* b = TDXTextureImage::CreateSub(&top);
  TDXTextureImage* c = TDXTextureImage::CreateSub(&top);
  TDXTextureImage::CreateSub(b);  // grandchild, freed with b
  a->GroupKind = 1;
  c->GroupKind = 1;
  EXPECT_EQ(a->Owner, &top);
  EXPECT_EQ(top.SubImageCount(), 3);
  EXPECT_EQ(top.GroupCount(1), 2);
  EXPECT_EQ(top.GroupCount(0), 1);
  EXPECT_EQ(top.GroupCount(7), 0);
  EXPECT_EQ(top.GroupImage(1, 0), a);
  EXPECT_EQ(top.GroupImage(1, 1), c);
  EXPECT_EQ(top.GroupImage(0, 0), b);
  EXPECT_EQ(ErrorOf([&] { top.GroupImage(1, 2); }), "EListError: List index out of bounds (-1)");
  EXPECT_THROW(top.SubImage(3), EListError);

  delete b;
  EXPECT_EQ(top.SubImageCount(), 2);
  EXPECT_EQ(top.SubImage(1), c);

  top.Name = "x";
  top.Transparent = true;
  top.Palette[255].peBlue = 9;
  top.RedChannel = MakeChannel(0xFF, false);
  top.Clear();
  EXPECT_EQ(top.SubImageCount(), 0);
  EXPECT_EQ(top.Name, "");
  EXPECT_FALSE(top.Transparent);
  EXPECT_EQ(top.Palette[255].peBlue, 0);
  EXPECT_EQ(top.RedChannel, TImageChannel{});
}

TEST(DXTextureImage, FindColorLooksOnlyAtAddressableEntries) {
  TDXTextureImage image;
  image.ImageKind = ikPalette;
  image.IndexChannel = MakeChannel(0x3, true);  // 4 entries
  image.Palette[0] = {0, 0, 0, 0};
  image.Palette[1] = {100, 100, 100, 0};
  image.Palette[2] = {110, 100, 100, 0};
  image.Palette[3] = {255, 255, 255, 0};
  image.Palette[4] = {105, 100, 100, 0};         // exact, but beyond the index range
  EXPECT_EQ(image.FindColor(105, 100, 100), 1);  // tie: the lower index
  EXPECT_EQ(image.FindColor(108, 100, 100), 2);
  EXPECT_EQ(image.FindColor(250, 250, 250), 3);
  image.IndexChannel = MakeChannel(0, true);  // one entry
  EXPECT_EQ(image.FindColor(255, 255, 255), 0);
  image.IndexChannel = MakeChannel(0xFF, true);
  EXPECT_EQ(image.FindColor(105, 100, 100), 4);
  image.ImageKind = ikRGB;
  EXPECT_EQ(image.FindColor(105, 100, 100), 0);
}

TEST(DXTextureImage, LoaderListHoldsBothLoadersOnce) {
  const auto* loaders = TextureImageLoaders();
  ASSERT_NE(loaders, nullptr);
  ASSERT_EQ(loaders->size(), 2u);
  EXPECT_EQ((*loaders)[0], &TDXTextureImage::LoadDXTStream);
  EXPECT_EQ((*loaders)[1], &TDXTextureImage::LoadDIBStream);
  TDXTextureImage::RegisterLoader(&TDXTextureImage::LoadDIBStream);
  EXPECT_EQ(loaders->size(), 2u);
  TDXTextureImage::UnregisterLoader(&TDXTextureImage::LoadDXTStream);
  TDXTextureImage::RegisterLoader(&TDXTextureImage::LoadDXTStream);
  EXPECT_EQ((*loaders)[1], &TDXTextureImage::LoadDXTStream);
  TDXTextureImage::UnregisterLoader(&TDXTextureImage::LoadDXTStream);
  TDXTextureImage::UnregisterLoader(&TDXTextureImage::LoadDIBStream);
  TDXTextureImage::RegisterLoader(&TDXTextureImage::LoadDXTStream);
  TDXTextureImage::RegisterLoader(&TDXTextureImage::LoadDIBStream);
  EXPECT_EQ((*loaders)[0], &TDXTextureImage::LoadDXTStream);
}

// ---------------------------------------------------------------------------------------------
// The "dxt:" stream

TEST(DXTStream, ReadsAnRGBImageWithItsNameKeyAndMipmapLevel) {
  DXTWriter w;
  w.BeginGroup();
  w.Name("Ball");
  w.Transparency(true, 0x00FF00FF);
  w.RGBHeader(2, 2, 32, 8, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  w.Pixels32({0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00});
  w.BeginGroup();
  w.GroupInfo(1, 7);
  w.RGBHeader(1, 1, 32, 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  w.Pixels32({0xCAFEBABE});
  w.EndGroup();
  w.EndGroup();
  w.End();

  TDXTextureImage image;
  LoadDXT(w.Data(), image);
  EXPECT_EQ(image.ImageKind, ikRGB);
  EXPECT_EQ(image.Width, 2);
  EXPECT_EQ(image.Height, 2);
  EXPECT_EQ(image.BitCount, 32);
  EXPECT_EQ(image.WidthBytes, 8);
  EXPECT_EQ(image.Name, "Ball");
  EXPECT_TRUE(image.Transparent);
  EXPECT_EQ(image.TransparentColor, 0x00FF00FFu);
  EXPECT_EQ(image.Pixels(0, 0), 0x11223344u);
  EXPECT_EQ(image.Pixels(1, 1), 0xDDEEFF00u);
  EXPECT_EQ(DecodeChannel(image.GreenChannel, image.Pixels(1, 0)), 0x77u);
  EXPECT_EQ(image.AlphaChannel.Mask, 0xFF000000u);
  ASSERT_EQ(image.GroupCount(1), 1);
  TDXTextureImage* level = image.GroupImage(1, 0);
  EXPECT_EQ(level->GroupId, 7);
  EXPECT_EQ(level->Owner, &image);
  EXPECT_EQ(level->Pixels(0, 0), 0xCAFEBABEu);
}

TEST(DXTStream, PaletteImagesKeepTheirChannelsAndEntries) {
  DXTWriter w;
  w.BeginGroup();
  std::vector<PALETTEENTRY> palette(256, PALETTEENTRY{0, 0, 0, 0});
  palette[1] = {10, 20, 30, 40};
  palette[15] = {200, 210, 220, 230};
  w.PaletteHeader(3, 1, 4, 2, 0x0F, 0, palette);
  w.Rows({{0x1F, 0x01}});  // 4-bit pixels, low nibble first
  w.EndGroup();
  w.End();

  TDXTextureImage image;
  LoadDXT(w.Data(), image);
  EXPECT_EQ(image.ImageKind, ikPalette);
  EXPECT_EQ(image.WidthBytes, 2);  // as stored
  EXPECT_FALSE(image.HighBitFirst);
  EXPECT_EQ(image.IndexChannel.BitCount, 4);
  EXPECT_EQ(image.IndexAlphaChannel.Mask, 0u);
  EXPECT_EQ(image.Pixels(0, 0), 0xFu);
  EXPECT_EQ(image.Pixels(1, 0), 0x1u);
  EXPECT_EQ(image.Pixels(2, 0), 0x1u);
  EXPECT_EQ(image.Palette[1].peGreen, 20);
  EXPECT_EQ(image.Palette[15].peFlags, 230);  // copied as it stands
}

TEST(DXTStream, ChunksThatAreNotReadAreSkippedBySize) {
  DXTWriter w;
  w.Chunk(1, {});  // a top-level end-of-group is not the end
  w.Chunk(0x999, {1, 2, 3});
  w.BeginGroup(0x200);  // wrong version: skipped whole
  w.Name("Skipped");
  w.EndGroup();
  w.BeginGroup();
  w.Chunk(0x7777, {9, 9, 9, 9, 9});
  w.ChunkWithPadding(0x104, {'A', 'B'}, 0);
  w.ChunkWithPadding(0x105, {1, 0x44, 0x33, 0x22, 0x11}, 3);  // payload longer than read
  w.BeginGroup(0x101);  // nested group of another version: skipped
  w.Name("Nested");
  w.EndGroup();
  w.EndGroup();
  w.BeginGroup();  // a second group adds to the same image
  w.Name("Second");
  w.EndGroup();
  w.End();

  TDXTextureImage image;
  LoadDXT(w.Data(), image);
  EXPECT_EQ(image.Name, "Second");
  EXPECT_TRUE(image.Transparent);
  EXPECT_EQ(image.TransparentColor, 0x11223344u);
  EXPECT_EQ(image.SubImageCount(), 0);
}

TEST(DXTStream, AnEndRightAfterTheHeaderLeavesTheImageAlone) {
  DXTWriter w;
  w.End();
  TDXTextureImage image;
  image.Name = "kept";
  image.SetSize(ikRGB, 1, 1, 32, 0);
  LoadDXT(w.Data(), image);
  EXPECT_EQ(image.Name, "kept");
  EXPECT_EQ(image.Width, 1);
}

TEST(DXTStream, BadMagicVersionKindOrCompression) {
  TDXTextureImage image;
  const std::string invalid = "EDXTextureImageError: DXT file is invalid";
  std::vector<BYTE> data = DXTWriter().End().Data();
  data[4] = 'x';  // the terminator of "dxt:"
  EXPECT_EQ(ErrorOf([&] { LoadDXT(data, image); }), invalid);
  data = DXTWriter().End().Data();
  data[0] = 'D';
  EXPECT_EQ(ErrorOf([&] { LoadDXT(data, image); }), invalid);
  data = DXTWriter().End().Data();
  data[6] = 2;  // version 0x200
  EXPECT_EQ(ErrorOf([&] { LoadDXT(data, image); }), invalid);

  DXTWriter kind;
  kind.BeginGroup();
  kind.Chunk(0x101, Bytes().U8(2).U32(1).U32(1).U32(32).U32(0).U32(0).U32(0).U32(0).U32(0).Data);
  kind.EndGroup();
  EXPECT_EQ(ErrorOf([&] { LoadDXT(kind.End().Data(), image); }), invalid);

  DXTWriter packed;
  packed.BeginGroup();
  packed.RGBHeader(1, 1, 32, 0, 0xFF0000, 0xFF00, 0xFF, 0);
  packed.Chunk(0x102, Bytes().U32(3).U32(0).Data);
  packed.EndGroup();
  EXPECT_EQ(ErrorOf([&] { LoadDXT(packed.End().Data(), image); }),
            "EDXTextureImageError: Decompression error (3)");
}

TEST(DXTStream, ZeroRowLengthAllocatesRowsAndReadsNoPixels) {
  DXTWriter w;
  w.BeginGroup();
  w.RGBHeader(3, 2, 16, 0, 0x7C00, 0x3E0, 0x1F, 0);
  w.Chunk(0x102, Bytes().U32(0).Data);
  w.Name("after");
  w.EndGroup();
  w.End();
  TDXTextureImage image;
  LoadDXT(w.Data(), image);
  EXPECT_EQ(image.WidthBytes, 8);
  EXPECT_EQ(image.Pixels(2, 1), 0u);
  EXPECT_EQ(image.Name, "after");
}

TEST(DXTStream, AShortStreamKeepsWhatWasReadAndDropsTheBrokenSubImage) {
  DXTWriter w;
  w.BeginGroup();
  w.Name("top");
  w.BeginGroup();
  w.Name("sub");
  w.RGBHeader(4, 4, 32, 16, 0xFF0000, 0xFF00, 0xFF, 0);
  w.Pixels32({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  w.EndGroup();
  w.EndGroup();
  w.End();
  std::vector<BYTE> data = w.Data();
  data.resize(data.size() - 40);  // cut inside the sub-image's pixels
  TDXTextureImage image;
  EXPECT_THROW(LoadDXT(data, image), EReadError);
  EXPECT_EQ(image.Name, "top");
  EXPECT_EQ(image.SubImageCount(), 0);
  // Cut inside the 9-byte header.
  data.resize(6);
  EXPECT_THROW(LoadDXT(data, image), EReadError);
}

TEST(DXTStream, RowsShorterThanTheirPixelsAreRefused) {
  DXTWriter w;
  w.BeginGroup();
  w.RGBHeader(4, 1, 32, 8, 0xFF0000, 0xFF00, 0xFF, 0);  // 16 bytes of pixels in 8
  w.Pixels32({1, 2});
  w.EndGroup();
  TDXTextureImage image;
  EXPECT_EQ(ErrorOf([&] { LoadDXT(w.End().Data(), image); }),
            "EDXTextureImageError: DXT file is invalid");
}

TEST(DXTStream, HugeSizesAreRefusedBeforeAnythingIsAllocated) {
  for (const auto& [width, height] :
       std::vector<std::pair<std::uint32_t, std::uint32_t>>{{65536, 65536}, {0xFFFFFFFFu, 1}}) {
    DXTWriter w;
    w.BeginGroup();
    w.RGBHeader(width, height, 32, 0, 0xFF0000, 0xFF00, 0xFF, 0);
    w.EndGroup();
    TDXTextureImage image;
    EXPECT_EQ(ErrorOf([&] { LoadDXT(w.End().Data(), image); }),
              "EDXTextureImageError: DXT file is invalid");
  }
}

TEST(DXTStream, NestedChunksMustLieInsideTheirGroup) {
  // Groups whose sizes cover only their version: their chunks would be read once inside and
  // once again after the group, doubling the work at every level.
  Bytes b;
  b.Raw({'d', 'x', 't', ':', 0}).U32(0x100);
  for (int i = 0; i < 40; ++i) b.U32(2).U32(4).U32(0x100);
  for (int i = 0; i < 41; ++i) b.U32(1).U32(0);
  b.U32(0).U32(0);
  TDXTextureImage image;
  EXPECT_THROW(LoadDXT(b.Data, image), EReadError);
  EXPECT_EQ(image.SubImageCount(), 0);
}

TEST(DXTStream, DeepNestingIsRefused) {
  DXTWriter ok;
  ok.BeginGroup();
  for (int i = 0; i < 20; ++i) ok.BeginGroup();
  for (int i = 0; i < 20; ++i) ok.EndGroup();
  ok.EndGroup();
  TDXTextureImage image;
  LoadDXT(ok.End().Data(), image);
  int depth = 0;
  for (TDXTextureImage* p = &image; p->SubImageCount() > 0; p = p->SubImage(0)) ++depth;
  EXPECT_EQ(depth, 20);

  DXTWriter deep;
  deep.BeginGroup();
  for (int i = 0; i < 5000; ++i) deep.BeginGroup();
  for (int i = 0; i < 5000; ++i) deep.EndGroup();
  deep.EndGroup();
  TDXTextureImage other;
  EXPECT_THROW(LoadDXT(deep.End().Data(), other), EDXTextureImageError);
  EXPECT_EQ(other.SubImageCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Bitmap files

TEST(TextureBitmap, EmptyShortAndForeignFiles) {
  TDXTextureImage image;
  image.Name = "kept";
  LoadDIB({}, image);
  EXPECT_EQ(image.Name, "kept");
  EXPECT_EQ(image.Width, 0);

  const std::string invalid = "EDXTextureImageError: DIB is invalid";
  EXPECT_EQ(ErrorOf([&] { LoadDIB({'B', 'M', 0, 0}, image); }), invalid);
  std::vector<BYTE> file = Bytes::File(Bytes().Info(1, 1, 24).Zeros(4)).Data;
  file[1] = 'A';
  EXPECT_EQ(ErrorOf([&] { LoadDIB(file, image); }), invalid);
  file = Bytes::File(Bytes().U32(64).Zeros(60)).Data;  // header of another size
  EXPECT_EQ(ErrorOf([&] { LoadDIB(file, image); }), invalid);
  file = Bytes::File(Bytes().U16(40)).Data;  // header size cut short
  EXPECT_EQ(ErrorOf([&] { LoadDIB(file, image); }), invalid);
  file = Bytes::File(Bytes().U32(40).Zeros(10)).Data;  // header body cut short
  EXPECT_THROW(LoadDIB(file, image), EReadError);
}

TEST(TextureBitmap, TwoColoursWidthNineHighBitFirst) {
  Bytes body;
  body.Info(9, 2, 1).Raw({0, 0, 0, 0, 0xFF, 0x80, 0x40, 0});
  body.Raw({0x80, 0x00, 0, 0});  // bottom row: pixel 0 set
  body.Raw({0x00, 0x80, 0, 0});  // top row: pixel 8 set
  TDXTextureImage image;
  LoadDIB(Bytes::File(body).Data, image);
  EXPECT_EQ(image.ImageKind, ikPalette);
  EXPECT_EQ(image.WidthBytes, 4);
  EXPECT_TRUE(image.HighBitFirst);
  EXPECT_EQ(image.IndexChannel.Mask, 1u);
  EXPECT_EQ(image.Pixels(0, 1), 1u);
  EXPECT_EQ(image.Pixels(1, 1), 0u);
  EXPECT_EQ(image.Pixels(8, 0), 1u);
  EXPECT_EQ(image.Pixels(0, 0), 0u);
  EXPECT_EQ(image.Palette[1].peRed, 0x40);
  EXPECT_EQ(image.Palette[1].peGreen, 0x80);
  EXPECT_EQ(image.Palette[1].peBlue, 0xFF);
}

TEST(TextureBitmap, RowOrderAndDefaultMasks) {
  // 24 bits, bottom-up: the last stored row is row 0.
  Bytes up;
  up.Info(1, 2, 24).Raw({1, 2, 3, 0}).Raw({4, 5, 6, 0});
  TDXTextureImage image;
  LoadDIB(Bytes::File(up).Data, image);
  EXPECT_EQ(image.ImageKind, ikRGB);
  EXPECT_FALSE(image.HighBitFirst);
  EXPECT_EQ(image.Pixels(0, 0), 0x060504u);
  EXPECT_EQ(image.Pixels(0, 1), 0x030201u);
  EXPECT_EQ(image.RedChannel.Mask, 0xFF0000u);
  EXPECT_EQ(image.AlphaChannel.Mask, 0u);

  // Top-down (negative height).
  Bytes down;
  down.Info(1, -2, 24).Raw({1, 2, 3, 0}).Raw({4, 5, 6, 0});
  LoadDIB(Bytes::File(down).Data, image);
  EXPECT_EQ(image.Height, 2);
  EXPECT_EQ(image.Pixels(0, 0), 0x030201u);

  // 16 bits: 5-5-5 with a 1-bit alpha on top.
  Bytes x555;
  x555.Info(1, 1, 16).U16(0xFFFF).U16(0);
  LoadDIB(Bytes::File(x555).Data, image);
  EXPECT_EQ(image.RedChannel.Mask, 0x7C00u);
  EXPECT_EQ(image.AlphaChannel.Mask, 0x8000u);

  // 32 bits: 8-bit alpha in the top byte.
  Bytes argb;
  argb.Info(1, 1, 32).U32(0x80102030);
  LoadDIB(Bytes::File(argb).Data, image);
  EXPECT_EQ(image.AlphaChannel.Mask, 0xFF000000u);
  EXPECT_EQ(DecodeChannel(image.AlphaChannel, image.Pixels(0, 0)), 0x80u);

  // Bit fields 5-6-5 leave no bits for alpha.
  Bytes r565;
  r565.Info(1, 1, 16, 3).U32(0xF800).U32(0x7E0).U32(0x1F).U16(0x07E0).U16(0);
  TDXTextureImage fresh;
  LoadDIB(Bytes::File(r565).Data, fresh);
  EXPECT_EQ(fresh.GreenChannel.BitCount, 6);
  EXPECT_EQ(fresh.AlphaChannel.Mask, 0u);
  EXPECT_EQ(DecodeChannel(fresh.GreenChannel, fresh.Pixels(0, 0)), 255u);
}

TEST(TextureBitmap, CoreHeaderAndColourTableCount) {
  Bytes core;
  core.U32(12).U16(2).U16(1).U16(1).U16(8);
  core.Raw({10, 20, 30, 40, 50, 60});  // 3-byte entries; 256 expected, the file ends early
  TDXTextureImage image;
  EXPECT_THROW(LoadDIB(Bytes::File(core).Data, image), EReadError);
  EXPECT_EQ(image.Width, 2);  // the header was taken

  Bytes full;
  full.U32(12).U16(2).U16(1).U16(1).U16(4);
  for (int i = 0; i < 16; ++i) full.Raw({static_cast<unsigned>(i), 0, 0xAA});
  full.Raw({0x21, 0, 0, 0});
  LoadDIB(Bytes::File(full).Data, image);
  EXPECT_EQ(image.Palette[15].peBlue, 15);
  EXPECT_EQ(image.Palette[15].peRed, 0xAA);
  EXPECT_EQ(image.Pixels(0, 0), 2u);
  EXPECT_EQ(image.Pixels(1, 0), 1u);

  // Colours used above 256 stop at 256.
  Bytes many;
  many.Info(1, 1, 8, 0, 0, 1000);
  for (int i = 0; i < 256; ++i) many.U32(static_cast<std::uint32_t>(i));
  many.Raw({255, 0, 0, 0});
  LoadDIB(Bytes::File(many).Data, image);
  EXPECT_EQ(image.Pixels(0, 0), 255u);
  EXPECT_EQ(image.Palette[255].peBlue, 255);
}

TEST(TextureBitmap, RunLengthEncodedPictures) {
  // RLE8, width 3, height 1: one run of three 0x41.
  Bytes rle8;
  rle8.Info(3, 1, 8, 1, 6, 1).U32(0).Raw({3, 0x41, 0, 0, 0, 1});
  TDXTextureImage image;
  LoadDIB(Bytes::File(rle8).Data, image);
  EXPECT_EQ(image.Pixels(0, 0), 0x41u);
  EXPECT_EQ(image.Pixels(2, 0), 0x41u);

  // RLE4, 5 x 2 bottom-up: a padded literal, runs alternating their nibbles, a delta.
  const std::vector<unsigned> codes = {0, 5,    0x12, 0x34, 0x50, 0,  // literal 1 2 3 4 5, padded
                                       0, 0,                          // end of line
                                       2, 0x9A,                       // 9 A at columns 0, 1
                                       0, 2,    1,    0,              // delta: one column on
                                       2, 0x78,                       // 7 8 at columns 3, 4
                                       0, 0,    3,    0xFF};          // past the last line: nothing
  Bytes rle4;
  rle4.Info(5, 2, 4, 2, static_cast<std::uint32_t>(codes.size()), 16);
  for (int i = 0; i < 16; ++i) rle4.U32(0);
  for (unsigned c : codes) rle4.U8(c);
  LoadDIB(Bytes::File(rle4).Data, image);
  const std::vector<DWORD> bottom = {1, 2, 3, 4, 5}, top = {9, 0xA, 0, 7, 8};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(image.Pixels(x, 1), bottom[x]) << x;  // line 0 is the bottom row
    EXPECT_EQ(image.Pixels(x, 0), top[x]) << x;
  }
  EXPECT_EQ(image.ScanLine(1)[2], 0x50);  // column 4 in the high nibble, the low one untouched
}

TEST(TextureBitmap, RunLengthCodesPastTheRowsAreDropped) {
  // Runs longer than the row, deltas beyond the picture and literals cut by the buffer's end.
  Bytes rle8;
  const std::vector<unsigned> codes = {255, 7, 0, 2, 250, 0, 9, 8, 0, 0, 0, 200, 1, 2};
  rle8.Info(4, 2, 8, 1, static_cast<std::uint32_t>(codes.size()), 1).U32(0);
  for (unsigned c : codes) rle8.U8(c);
  TDXTextureImage image;
  LoadDIB(Bytes::File(rle8).Data, image);
  EXPECT_EQ(image.Pixels(0, 1), 7u);
  EXPECT_EQ(image.Pixels(3, 1), 7u);
  EXPECT_EQ(image.Pixels(0, 0), 0u);
  EXPECT_EQ(image.Pixels(3, 0), 0u);
}

TEST(TextureBitmap, BrokenFieldsAreInvalid) {
  const std::string invalid = "EDXTextureImageError: DIB is invalid";
  TDXTextureImage image;
  // Compression 4 is refused once the header and colour table are in.
  Bytes jpeg;
  jpeg.Info(2, 2, 8, 4, 0, 2).U32(0x00112233).U32(0);
  EXPECT_EQ(ErrorOf([&] { LoadDIB(Bytes::File(jpeg).Data, image); }), invalid);
  EXPECT_EQ(image.Width, 2);
  EXPECT_EQ(image.Palette[0].peRed, 0x11);

  Bytes negative;
  negative.Info(-4, 1, 8);
  EXPECT_EQ(ErrorOf([&] { LoadDIB(Bytes::File(negative).Data, image); }), invalid);
  Bytes odd;
  odd.Info(4, 1, 7);
  EXPECT_EQ(ErrorOf([&] { LoadDIB(Bytes::File(odd).Data, image); }), invalid);
  Bytes huge;
  huge.Info(0x7FFFFFFF, 0x7FFFFFFF, 32);
  EXPECT_EQ(ErrorOf([&] { LoadDIB(Bytes::File(huge).Data, image); }), invalid);
  Bytes lowest;
  lowest.Info(1, static_cast<std::int32_t>(0x80000000u), 8);
  EXPECT_EQ(ErrorOf([&] { LoadDIB(Bytes::File(lowest).Data, image); }), invalid);
  // Run-length data of a bit count it cannot describe.
  Bytes mismatch;
  mismatch.Info(4, 1, 4, 1, 2).Zeros(64).Raw({0, 1});
  EXPECT_EQ(ErrorOf([&] { LoadDIB(Bytes::File(mismatch).Data, image); }), invalid);
  // An image size beyond the file is a short stream, not a large buffer.
  Bytes lying;
  lying.Info(4, 1, 8, 1, 0xFFFFFFF0u, 1).U32(0).Raw({0, 1});
  EXPECT_THROW(LoadDIB(Bytes::File(lying).Data, image), EReadError);
  // A picture without columns reads no rows, however many it claims.
  Bytes empty;
  empty.Info(0, 1 << 25, 24);
  LoadDIB(Bytes::File(empty).Data, image);
  EXPECT_EQ(image.Height, 1 << 25);
  EXPECT_EQ(image.ImageSize, 0);
  // Rows cut short.
  Bytes cut;
  cut.Info(2, 2, 24).Zeros(10);
  EXPECT_THROW(LoadDIB(Bytes::File(cut).Data, image), EReadError);
}

}  // namespace
