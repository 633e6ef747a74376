// Device-independent bitmaps: geometry and the BMP format at every depth, run-length-encoded
// bodies, damaged headers, copy on write, the palette cache, stored picture data, the clipboard
// and drawing through the canvas.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/graphics/DIB.h"
#include "platform/gdi/Clipbrd.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"
#include "support/Bytes.h"
#include "support/DibFiles.h"

namespace {

std::unique_ptr<TMemoryStream> StreamOf(const std::vector<BYTE>& data) {
  auto s = std::make_unique<TMemoryStream>();
  if (!data.empty()) s->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  s->SetPosition(0);
  return s;
}

std::vector<BYTE> Contents(TMemoryStream& s) {
  return std::vector<BYTE>(s.Memory(), s.Memory() + s.Size());
}

const std::string kInvalid = "EInvalidGraphic: DIB is invalid";

// A test pattern value for pixel (x, y) that fits `bits`.
DWORD Pattern(int x, int y, int bits) {
  const DWORD v = static_cast<DWORD>(x * 7 + y * 13 + x * y);
  switch (bits) {
    case 1:
      return v & 1;
    case 4:
      return v & 0xF;
    case 8:
      return v & 0xFF;
    case 16:
      return (v * 331) & 0x7FFF;
    case 24:
      return (v * 40503) & 0xFFFFFF;
    default:
      return (v * 2654435761u) & 0xFFFFFF;
  }
}

}  // namespace

TEST(DIBGeometry, SizesOfTheStoredForms) {
  TDIB dib;
  dib.SetSize(64, 32, 8);
  TMemoryStream body;
  TPropertyDefs defs;
  dib.DefineProperties(defs);
  const TPropInfo* data = defs.Find("Data");
  ASSERT_NE(data, nullptr);
  data->WriteData(&body);
  EXPECT_EQ(body.Size(), 40 + 1024 + 2048);
  TMemoryStream file;
  dib.SaveToStream(&file);
  EXPECT_EQ(file.Size(), 3126);
  file.SetPosition(2);
  EXPECT_EQ(file.ReadDWord(), 3126u);
  file.SetPosition(10);
  EXPECT_EQ(file.ReadDWord(), 1078u);

  TDIB rgb;
  rgb.SetSize(3, 2, 24);
  EXPECT_EQ(rgb.BitmapInfoSize(), 40);
  EXPECT_EQ(rgb.WidthBytes(), 12);
  EXPECT_EQ(rgb.NextLine(), -12);
  TDIB hi;
  hi.PixelFormat = MakeDIBPixelFormat(5, 6, 5);
  hi.SetSize(3, 2, 16);
  EXPECT_EQ(hi.BitmapInfoSize(), 52);
  EXPECT_EQ(hi.PaletteCount(), 0);
}

TEST(DIBGeometry, PixelFormats) {
  const TDIBPixelFormat f = MakeDIBPixelFormat(5, 6, 5);
  EXPECT_EQ(f.RBitMask, 0xF800);
  EXPECT_EQ(f.GBitMask, 0x07E0);
  EXPECT_EQ(f.BBitMask, 0x001F);
  EXPECT_EQ(f.RShift, 8);
  EXPECT_EQ(f.GShift, 3);
  EXPECT_EQ(f.BShift, 3);
  EXPECT_EQ(MakeDIBPixelFormatMask(0xF800, 0x07E0, 0x001F), f);
  // Only the widths count; the masks come out in the R-G-B layout.
  EXPECT_EQ(MakeDIBPixelFormatMask(0x1F, 0x7E0, 0xF800), f);
  EXPECT_EQ(MakeDIBPixelFormatMask(0, 0, 0).RBitCount, 0);
  EXPECT_EQ(MakeDIBPixelFormat(8, 8, 8).RBitMask, 0xFF0000);
  const RGBQUAD q = MakeRGBQuad(1, 2, 3);
  EXPECT_EQ(q.rgbRed, 1);
  EXPECT_EQ(q.rgbBlue, 3);
  const PALETTEENTRY e = RGBQuadToPaletteEntry(q);
  EXPECT_EQ(e.peRed, 1);
  EXPECT_EQ(e.peBlue, 3);
}

TEST(DIBGeometry, WidthAndHeightSetters) {
  TDIB dib;
  dib.SetWidth(10);
  EXPECT_EQ(dib.Width(), 10);
  EXPECT_EQ(dib.Height(), 1);
  EXPECT_EQ(dib.BitCount(), 8);
  EXPECT_EQ(dib.ColorTable[200].rgbGreen, 200);  // greyscale
  dib.SetHeight(4);
  EXPECT_EQ(dib.Height(), 4);
  dib.SetWidth(0);
  EXPECT_TRUE(dib.Empty());
  EXPECT_THROW(dib.SetSize(4, 4, 7), EInvalidGraphicOperation);
  try {
    dib.SetSize(4, 4, 12);
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message, "Bitcount in invalid (12)");
  }
}

TEST(DIBGeometry, NewPixelStoresStartZeroed) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    TDIB dib;
    if (bits == 16) dib.PixelFormat = MakeDIBPixelFormat(5, 6, 5);
    dib.SetSize(37, 9, bits);
    TMemoryStream s;
    dib.SaveToStream(&s);
    const auto bytes = Contents(s);
    const std::size_t pixels = static_cast<std::size_t>(dib.Size());
    for (std::size_t i = bytes.size() - pixels; i < bytes.size(); ++i)
      ASSERT_EQ(bytes[i], 0) << bits << " bits, byte " << i;
    // The canvas's DIB section starts zeroed as well.
    EXPECT_EQ(dib.Canvas()->Pixels(36, 8), clBlack);
  }
}

TEST(DIBFiles, RoundTripsAtEveryDepth) {
  struct Case {
    int bits;
    TDIBPixelFormat format;
  };
  const Case cases[] = {{1, MakeDIBPixelFormat(8, 8, 8)},  {4, MakeDIBPixelFormat(8, 8, 8)},
                        {8, MakeDIBPixelFormat(8, 8, 8)},  {16, MakeDIBPixelFormat(5, 5, 5)},
                        {16, MakeDIBPixelFormat(5, 6, 5)}, {24, MakeDIBPixelFormat(8, 8, 8)},
                        {32, MakeDIBPixelFormat(8, 8, 8)}};
  for (const Case& c : cases) {
    TDIB dib;
    dib.PixelFormat = c.format;
    for (int i = 0; i < 256; ++i) dib.ColorTable[i] = MakeRGBQuad(i, 255 - i, i / 2);
    dib.SetSize(13, 5, c.bits);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) dib.SetPixels(x, y, Pattern(x, y, c.bits));
    TMemoryStream s;
    dib.SaveToStream(&s);
    s.SetPosition(0);
    TDIB back;
    back.LoadFromStream(&s);
    ASSERT_EQ(back.Width(), 13);
    ASSERT_EQ(back.Height(), 5);
    ASSERT_EQ(back.BitCount(), c.bits);
    EXPECT_EQ(back.NowPixelFormat(), c.format) << c.bits;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(back.Pixels(x, y), Pattern(x, y, c.bits)) << c.bits;
    if (c.bits <= 8) {
      EXPECT_EQ(std::memcmp(back.ColorTable.data(), dib.ColorTable.data(), 4 << c.bits), 0);
    }
  }
}

// Pixels land in the bytes where other programs reading the file look for them: the first
// pixel in the most significant bit or nibble, words and double words little-endian, 24-bit
// values with their lowest byte last.
TEST(DIBFiles, PixelsMatchTheStoredBytes) {
  struct Case {
    int bits;
    DWORD value;
    int x;
    std::vector<BYTE> bytes;  // the top row's first bytes after writing `value` at x
  };
  const Case cases[] = {{1, 1, 0, {0x80}},
                        {1, 1, 9, {0x00, 0x40}},
                        {4, 0xC, 0, {0xC0}},
                        {4, 0x5, 3, {0x00, 0x05}},
                        {8, 0xAB, 1, {0x00, 0xAB}},
                        {16, 0x1234, 1, {0, 0, 0x34, 0x12}},
                        {24, 0x010203, 1, {0, 0, 0, 0x01, 0x02, 0x03}},
                        {32, 0x11223344, 0, {0x44, 0x33, 0x22, 0x11}}};
  for (const Case& c : cases) {
    TDIB dib;
    if (c.bits == 16) dib.PixelFormat = MakeDIBPixelFormat(5, 6, 5);
    dib.SetSize(16, 2, c.bits);
    dib.SetPixels(c.x, 0, c.value);
    EXPECT_EQ(dib.Pixels(c.x, 0), c.value) << c.bits;
    const BYTE* top = dib.TopPBits();
    for (std::size_t i = 0; i < c.bytes.size(); ++i)
      EXPECT_EQ(top[i], c.bytes[i]) << c.bits << " bits, byte " << i;
    // The top row is the last one stored.
    EXPECT_EQ(top, dib.PBits() + dib.WidthBytes());
  }
}

TEST(DIBFiles, TopDownFilesGiveTheSameImage) {
  // A 2 x 3 24-bit picture: rows of 8 bytes.
  const std::vector<std::vector<unsigned>> rowsTopFirst = {
      {1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 10, 11, 12, 0, 0}, {13, 14, 15, 16, 17, 18, 0, 0}};
  Bytes up, down;
  up.Info(2, 3, 24);
  down.Info(2, -3, 24);
  for (int i = 2; i >= 0; --i)
    for (unsigned b : rowsTopFirst[i]) up.U8(b);
  for (int i = 0; i < 3; ++i)
    for (unsigned b : rowsTopFirst[i]) down.U8(b);
  auto a = ReadDibBody(up);
  auto b = ReadDibBody(down);
  EXPECT_EQ(b->Height(), 3);
  EXPECT_EQ(std::memcmp(a->PBits(), b->PBits(), 24), 0);
  // Pixels(0, 0) is the top row: bytes 1, 2, 3 (blue, green, red) read as $010203.
  EXPECT_EQ(b->Pixels(0, 0), 0x010203u);
  EXPECT_EQ(a->Pixels(1, 2), 0x101112u);
}

TEST(DIBFiles, SixteenBitMasks) {
  Bytes plain;
  plain.Info(1, 1, 16).Zeros(4);
  EXPECT_EQ(ReadDibBody(plain)->NowPixelFormat(), MakeDIBPixelFormat(5, 5, 5));
  Bytes masked;
  masked.Info(1, 1, 16, 3).U32(0xF800).U32(0x07E0).U32(0x001F).Zeros(4);
  EXPECT_EQ(ReadDibBody(masked)->NowPixelFormat(), MakeDIBPixelFormat(5, 6, 5));
  Bytes odd;
  odd.Info(1, 1, 16, 3).U32(0x0F00).U32(0x00F0).U32(0x000F).Zeros(4);
  EXPECT_EQ(DibErrorOf(odd), "EInvalidGraphicOperation: PixelFormat in invalid");
}

TEST(DIBFiles, CoreHeadersAndColourCounts) {
  Bytes core, info;
  core.U32(12).U16(2).U16(1).U16(1).U16(8);
  info.Info(2, 1, 8);
  for (int i = 0; i < 256; ++i) {
    core.Raw({static_cast<unsigned>(i), static_cast<unsigned>(255 - i), 9u});
    info.Raw({static_cast<unsigned>(i), static_cast<unsigned>(255 - i), 9u, 0u});
  }
  core.Raw({5, 6, 0, 0});
  info.Raw({5, 6, 0, 0});
  auto a = ReadDibBody(core);
  auto b = ReadDibBody(info);
  EXPECT_EQ(std::memcmp(a->ColorTable.data(), b->ColorTable.data(), 1024), 0);
  EXPECT_EQ(a->Pixels(1, 0), 6u);

  // More than 256 used colours: the extra entries are skipped and the pixels still found.
  Bytes many;
  many.Info(2, 1, 8, 0, 0, 300);
  for (int i = 0; i < 300; ++i) many.Raw({static_cast<unsigned>(i & 0xFF), 0u, 0u, 0u});
  many.Raw({7, 8, 0, 0});
  auto m = ReadDibBody(many);
  EXPECT_EQ(m->ColorTable[255].rgbBlue, 255);
  EXPECT_EQ(m->Pixels(0, 0), 7u);
  EXPECT_EQ(m->Pixels(1, 0), 8u);

  // Fewer: the rest of the table stays zero.
  Bytes few;
  few.Info(1, 1, 8, 0, 0, 16);
  for (int i = 0; i < 16; ++i) few.Raw({1, 2, 3, 0});
  few.Zeros(4);
  auto f = ReadDibBody(few);
  EXPECT_EQ(f->ColorTable[15].rgbRed, 3);
  EXPECT_EQ(f->ColorTable[16].rgbRed, 0);
  EXPECT_EQ(f->ColorTable[255].rgbBlue, 0);
}

TEST(DIBFiles, PixelOffsetPastTheTableIsHonoured) {
  Bytes body;
  body.Info(1, 1, 24).Zeros(6).Raw({1, 2, 3, 0});
  // 14 + 40 + 6 bytes of padding: the pixels start at 60.
  auto s = StreamOf(Bytes::File(body, 60).Data);
  TDIB dib;
  dib.LoadFromStream(s.get());
  EXPECT_EQ(dib.Pixels(0, 0), 0x010203u);
}

TEST(DIBFiles, DamagedHeadersAreRefused) {
  Bytes noWidth;
  noWidth.Info(0, 1, 8).Zeros(1024 + 4);
  EXPECT_EQ(DibErrorOf(noWidth), kInvalid);
  Bytes negativeWidth;
  negativeWidth.Info(-5, 1, 24).Zeros(64);
  EXPECT_EQ(DibErrorOf(negativeWidth), kInvalid);
  Bytes noHeight;
  noHeight.Info(4, 0, 24).Zeros(64);
  EXPECT_EQ(DibErrorOf(noHeight), kInvalid);
  Bytes minHeight;
  minHeight.Info(4, INT32_MIN, 24).Zeros(64);
  EXPECT_EQ(DibErrorOf(minHeight), kInvalid);
  // A header promising far more pixels than the file holds allocates nothing.
  Bytes huge;
  huge.Info(0x7FFFFFFF, 0x7FFFFFFF, 32).Zeros(16);
  EXPECT_EQ(DibErrorOf(huge), kInvalid);
  Bytes shortPixels;
  shortPixels.Info(4, 4, 24).Zeros(47);
  EXPECT_EQ(DibErrorOf(shortPixels), kInvalid);
  Bytes headerSize;
  headerSize.U32(108).Zeros(200);
  EXPECT_EQ(DibErrorOf(headerSize), kInvalid);
  Bytes compression;
  compression.Info(1, 1, 24, 4).Zeros(4);
  EXPECT_EQ(DibErrorOf(compression), kInvalid);
  Bytes bits;
  bits.Info(1, 1, 2).Zeros(64);
  EXPECT_EQ(DibErrorOf(bits), "EInvalidGraphicOperation: Bitcount in invalid (2)");
  // Run-length encoding only at its own depth, and never empty.
  Bytes rle8At4;
  rle8At4.Info(2, 2, 4, 1, 4).Zeros(64).Raw({0, 0, 0, 1});
  EXPECT_EQ(DibErrorOf(rle8At4), kInvalid);
  Bytes rle4At8;
  rle4At8.Info(2, 2, 8, 2, 4).Zeros(1024).Raw({0, 0, 0, 1});
  EXPECT_EQ(DibErrorOf(rle4At8), kInvalid);
  Bytes rleAt24;
  rleAt24.Info(2, 2, 24, 1, 4).Raw({0, 0, 0, 1});
  EXPECT_EQ(DibErrorOf(rleAt24), kInvalid);
  Bytes emptyRle;
  emptyRle.Info(2, 2, 8, 1, 0).Zeros(1024);
  EXPECT_EQ(DibErrorOf(emptyRle), kInvalid);
  // Nor may a few bytes of run-length data stand for gigabytes of pixels.
  Bytes vastRle;
  vastRle.Info(100000, 100000, 8, 1, 4).Zeros(1024).Raw({0, 0, 0, 1});
  EXPECT_EQ(DibErrorOf(vastRle), kInvalid);
  Bytes longRle;
  longRle.Info(2, 2, 8, 1, 100).Zeros(1024).Raw({0, 0, 0, 1});
  EXPECT_EQ(DibErrorOf(longRle), kInvalid);
  // A body cut inside the header is a read error of the stream.
  Bytes cut;
  cut.U32(40).U32(5);
  EXPECT_EQ(DibErrorOf(cut).rfind("EReadError", 0), 0u);
}

TEST(DIBFiles, StreamsShorterThanAHeader) {
  TDIB dib;
  dib.SetSize(2, 2, 8);
  auto empty = StreamOf({});
  dib.LoadFromStream(empty.get());  // nothing there: the picture stays
  EXPECT_EQ(dib.Width(), 2);
  auto tiny = StreamOf({'B', 'M', 0});
  EXPECT_THROW(dib.LoadFromStream(tiny.get()), EInvalidGraphic);
  auto notBmp = StreamOf({'P', 'K', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0});
  EXPECT_THROW(dib.LoadFromStream(notBmp.get()), EInvalidGraphic);
  EXPECT_EQ(dib.Width(), 2);
  // A body of 1 to 3 bytes is damaged; a body of none is an empty picture.
  auto three = StreamOf({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0});
  EXPECT_THROW(dib.LoadFromStream(three.get()), EInvalidGraphic);
  auto headerOnly = StreamOf({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  dib.LoadFromStream(headerOnly.get());
  EXPECT_TRUE(dib.Empty());
}

TEST(DIBRunLength, Rle8ItemsAndPadding) {
  // Run of three 5s, delta (2, 1), run of two 7s, end of line, end of bitmap.
  Bytes body;
  body.Info(8, 3, 8, 1, 12).Zeros(1024).Raw({3, 5, 0, 2, 2, 1, 2, 7, 0, 0, 0, 1});
  auto dib = ReadDibBody(body);
  EXPECT_TRUE(dib->Image()->Compressed);
  EXPECT_EQ(dib->Size(), 12);
  // Bottom row (y = 2 from the top): 5, 5, 5, then 0.
  EXPECT_EQ(dib->Pixels(0, 2), 5u);
  EXPECT_EQ(dib->Pixels(2, 2), 5u);
  EXPECT_EQ(dib->Pixels(3, 2), 0u);
  // Row 1 from the bottom: pixels 5 and 6 set to 7.
  EXPECT_EQ(dib->Pixels(5, 1), 7u);
  EXPECT_EQ(dib->Pixels(6, 1), 7u);
  EXPECT_EQ(dib->Pixels(4, 1), 0u);
  EXPECT_EQ(dib->Pixels(7, 1), 0u);
  EXPECT_FALSE(dib->Image()->Compressed);

  // A literal of three bytes is padded to four.
  Bytes literal;
  literal.Info(4, 1, 8, 1, 8).Zeros(1024).Raw({0, 3, 9, 8, 7, 0, 1, 6});
  auto l = ReadDibBody(literal);
  EXPECT_EQ(l->Pixels(0, 0), 9u);
  EXPECT_EQ(l->Pixels(2, 0), 7u);
  EXPECT_EQ(l->Pixels(3, 0), 6u);
}

TEST(DIBRunLength, Rle4NibblesAndOddRuns) {
  // Run of 5 alternating $A/$B; end of line; literal of 3 nibbles 1, 2, 3 (two bytes); end.
  Bytes body;
  body.Info(6, 2, 4, 2, 10).Zeros(64).Raw({5, 0xAB, 0, 0, 0, 3, 0x12, 0x30, 0, 1});
  auto dib = ReadDibBody(body);
  const DWORD bottom[] = {0xA, 0xB, 0xA, 0xB, 0xA, 0};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(dib->Pixels(x, 1), bottom[x]) << x;
  EXPECT_EQ(dib->Pixels(0, 0), 1u);
  EXPECT_EQ(dib->Pixels(1, 0), 2u);
  EXPECT_EQ(dib->Pixels(2, 0), 3u);
  EXPECT_EQ(dib->Pixels(3, 0), 0u);
}

// A run begins with the high nibble of its value whatever the parity of x; the pixel's own
// place in the row decides which nibble of the stored byte it lands in.
TEST(DIBRunLength, Rle4RunFromAnOddPixel) {
  Bytes body;
  body.Info(6, 1, 4, 2, 8).Zeros(64).Raw({0, 2, 1, 0, 3, 0xAB, 0, 1});
  auto dib = ReadDibBody(body);
  const DWORD row[] = {0, 0xA, 0xB, 0xA, 0, 0};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(dib->Pixels(x, 0), row[x]) << x;
  const BYTE* bits = dib->TopPBits();
  EXPECT_EQ(bits[0], 0x0A);
  EXPECT_EQ(bits[1], 0xBA);
  EXPECT_EQ(bits[2], 0x00);
}

TEST(DIBRunLength, OverrunsAreClippedAndDecodingEndsAtTheData) {
  // A run longer than the row, a delta out of the image, then more data that would write
  // past the last row.
  Bytes body;
  body.Info(3, 2, 8, 1, 16).Zeros(1024).Raw({200, 4, 0, 0, 0, 2, 250, 250, 3, 9, 0, 0, 5, 1, 0, 1});
  auto dib = ReadDibBody(body);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(dib->Pixels(x, 1), 4u);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(dib->Pixels(x, 0), 0u);
  // No end-of-bitmap marker and a literal running past the end of the data.
  Bytes cut;
  cut.Info(4, 1, 8, 1, 5).Zeros(1024).Raw({2, 6, 0, 9, 1});
  auto c = ReadDibBody(cut);
  EXPECT_EQ(c->Pixels(1, 0), 6u);
  EXPECT_EQ(c->Pixels(2, 0), 0u);
  // End of line past the last row.
  Bytes rows;
  rows.Info(1, 1, 8, 1, 8).Zeros(1024).Raw({0, 0, 0, 0, 1, 3, 0, 1});
  EXPECT_EQ(ReadDibBody(rows)->Pixels(0, 0), 0u);
}

TEST(DIBRunLength, CompressedImagesStayCompressedThroughCopiesAndSaving) {
  Bytes body;
  body.Info(4, 1, 8, 1, 4);
  for (unsigned i = 0; i < 256; ++i) body.Raw({i, i, i, 0});
  body.Raw({4, 3, 0, 1});
  auto dib = ReadDibBody(body);
  TDIB copy;
  copy.Assign(dib.get());
  TMemoryStream s;
  copy.SaveToStream(&s);
  EXPECT_EQ(s.Size(), 14 + 40 + 1024 + 4);
  s.SetPosition(14 + 16);
  EXPECT_EQ(s.ReadDWord(), 1u);  // biCompression
  EXPECT_TRUE(dib->Image()->Compressed);
  // A canvas drawing of a compressed picture decodes it first.
  TDIB target;
  target.SetSize(4, 1, 24);
  target.Canvas()->Draw(0, 0, dib.get());
  EXPECT_EQ(target.Pixels(3, 0), 0x030303u);
}

TEST(DIBCopyOnWrite, WritesLeaveTheOtherCopy) {
  TDIB a;
  a.SetSize(4, 4, 8);
  a.SetPixels(1, 1, 9);
  TDIB b;
  b.Assign(&a);
  EXPECT_EQ(a.Image(), b.Image());
  b.SetPixels(1, 1, 3);
  EXPECT_NE(a.Image(), b.Image());
  EXPECT_EQ(a.Pixels(1, 1), 9u);
  EXPECT_EQ(b.Pixels(1, 1), 3u);
  // Row access is writing access too.
  TDIB c;
  c.Assign(&a);
  c.PBits()[0] = 77;
  EXPECT_EQ(a.PBits()[0], 0);
  // Drawing on the canvas of a copy changes only that copy.
  TDIB d;
  d.Assign(&a);
  d.Canvas()->Brush()->SetColor(clWhite);
  d.Canvas()->FillRect({0, 0, 4, 4});
  EXPECT_EQ(d.Pixels(1, 1), 255u);
  EXPECT_EQ(a.Pixels(1, 1), 9u);
  // And the canvas of a TDIB whose copy was drawn on earlier follows the new image.
  TDIB e;
  e.Assign(&d);
  d.Canvas()->Brush()->SetColor(clBlack);
  d.Canvas()->FillRect({0, 0, 1, 1});
  EXPECT_EQ(d.Pixels(0, 0), 0u);
  EXPECT_EQ(e.Pixels(0, 0), 255u);
}

TEST(DIBPalettes, EqualColoursShareOnePalette) {
  TDIB a, b, c;
  for (TDIB* d : {&a, &b, &c}) d->SetSize(2, 2, 8);
  c.ColorTable[5] = MakeRGBQuad(1, 2, 3);
  c.UpdatePalette();
  HPALETTE pa = a.Palette();
  EXPECT_NE(pa, nullptr);
  EXPECT_EQ(b.Palette(), pa);
  EXPECT_NE(c.Palette(), pa);
  EXPECT_TRUE(PaletteManager()->Holds(pa));
  TDIB rgb;
  rgb.SetSize(2, 2, 24);
  EXPECT_EQ(rgb.Palette(), nullptr);
}

TEST(DIBPalettes, SetPaletteTakesItsHandleButNeverTheCachesOwn) {
  TDIB a;
  a.SetSize(2, 2, 8);
  a.ColorTable[1] = MakeRGBQuad(200, 0, 0);
  a.UpdatePalette();
  HPALETTE shared = a.Palette();
  TDIB b;
  b.SetSize(2, 2, 8);
  b.SetPalette(shared);
  EXPECT_TRUE(IsLiveObject(shared));  // still the cache's
  EXPECT_EQ(b.ColorTable[1].rgbRed, 200);
  EXPECT_EQ(b.Palette(), shared);
  // A handle of the program's own is deleted by the call; the same colours again do not copy
  // the image.
  std::vector<BYTE> block(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY), 0);
  auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 256;
  PALETTEENTRY entries[256];
  RGBQuadsToPaletteEntries(b.ColorTable, *reinterpret_cast<TPaletteEntries*>(entries));
  std::memcpy(block.data() + offsetof(LOGPALETTE, palPalEntry), entries, sizeof entries);
  HPALETTE own = CreatePalette(lp);
  TDIBSharedImage* before = b.Image();
  b.SetPalette(own);
  EXPECT_FALSE(IsLiveObject(own));
  EXPECT_EQ(b.Image(), before);
}

TEST(DIBPalettes, CacheCountsReferences) {
  TRGBQuads table = MakeGreyscaleColorTable();
  table[0] = MakeRGBQuad(9, 9, 9);
  HPALETTE p1 = PaletteManager()->CreatePalette(table, 16);
  HPALETTE p2 = PaletteManager()->CreatePalette(table, 16);
  EXPECT_EQ(p1, p2);
  HPALETTE p3 = PaletteManager()->CreatePalette(table, 17);
  EXPECT_NE(p1, p3);
  PaletteManager()->DeletePalette(p1);
  EXPECT_EQ(p1, nullptr);
  EXPECT_TRUE(IsLiveObject(p2));
  PaletteManager()->DeletePalette(p2);
  EXPECT_FALSE(PaletteManager()->Holds(p2));
  EXPECT_TRUE(PaletteManager()->Holds(p3));
  HPALETTE stranger = reinterpret_cast<HPALETTE>(&table);
  PaletteManager()->DeletePalette(stranger);  // not the cache's: left as it is
  EXPECT_EQ(stranger, reinterpret_cast<HPALETTE>(&table));
  PaletteManager()->DeletePalette(p3);
}

TEST(DIBStoredData, PictureDataRoundTrip) {
  TPicture picture;
  auto* dib = new TDIB;
  dib->SetSize(64, 32, 8);
  dib->ColorTable[3] = MakeRGBQuad(10, 20, 30);
  dib->UpdatePalette();
  dib->SetPixels(5, 6, 3);
  picture.SetGraphic(dib);
  delete dib;
  TPropertyDefs defs;
  picture.DefineProperties(defs);
  const TPropInfo* data = defs.Find("Data");
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(data->HasData);
  TMemoryStream s;
  data->WriteData(&s);
  EXPECT_EQ(s.Size(), 3117);
  const auto bytes = Contents(s);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), std::string("\x04TDIB"));

  TPicture back;
  TPropertyDefs backDefs;
  back.DefineProperties(backDefs);
  s.SetPosition(0);
  backDefs.Find("Data")->ReadData(&s);
  auto* read = dynamic_cast<TDIB*>(back.Graphic());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Pixels(5, 6), 3u);
  EXPECT_EQ(read->ColorTable[3].rgbGreen, 20);

  // The class name picks the graphic class; an unknown one is refused.
  auto bad = StreamOf({4, 'T', 'X', 'Y', 'Z', 0, 0, 0, 0});
  EXPECT_THROW(backDefs.Find("Data")->ReadData(bad.get()), EInvalidGraphic);
  EXPECT_EQ(back.Graphic(), read);
}

// A component holding a picture, as the image list's items do. (Outside any namespace: stored
// forms name it by its class name.)
class TPictureHolder : public TComponent {
 public:
  explicit TPictureHolder(TComponent* owner) : TComponent(owner) {}
  void DefineProperties(TPropertyDefs& defs) override {
    TComponent::DefineProperties(defs);
    defs.Persistent("Picture", &Picture);
  }
  TPicture Picture;
};

TEST(DIBStoredData, PicturesTravelThroughStoredForms) {
  TPictureHolder holder(nullptr);
  holder.SetName("Holder");
  auto* dib = new TDIB;
  dib->SetSize(5, 3, 8);
  dib->SetPixels(4, 2, 200);
  holder.Picture.SetGraphic(dib);
  delete dib;
  const std::string text = WriteStoredForm(&holder);
  EXPECT_NE(text.find("Picture.Data"), std::string::npos) << text;
  TPictureHolder back(nullptr);
  ReadStoredForm(&back, text);
  auto* read = dynamic_cast<TDIB*>(back.Picture.Graphic());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Pixels(4, 2), 200u);
  EXPECT_EQ(WriteStoredForm(&back), text);
}

TEST(DIBStoredData, WholeFileUnderTheDIBProperty) {
  TDIB source;
  source.SetSize(3, 3, 24);
  source.SetPixels(2, 2, 0x123456);
  TMemoryStream file;
  source.SaveToStream(&file);
  file.SetPosition(0);
  TDIB dib;
  TPropertyDefs defs;
  dib.DefineProperties(defs);
  const TPropInfo* prop = defs.Find("DIB");
  ASSERT_NE(prop, nullptr);
  EXPECT_FALSE(prop->HasData);
  prop->ReadData(&file);
  EXPECT_EQ(dib.Pixels(2, 2), 0x123456u);
}

TEST(DIBPictures, FilesByExtension) {
  const std::string dir = ::testing::TempDir();
  TDIB dib;
  dib.SetSize(5, 4, 24);
  dib.SetPixels(0, 0, 0x0000FF);
  dib.SaveToFile(dir + "/boss.bmp");
  TPicture picture;
  picture.LoadFromFile(dir + "/boss.bmp");
  auto* read = dynamic_cast<TDIB*>(picture.Graphic());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(read->Pixels(0, 0), 0x0000FFu);
  EXPECT_THROW(picture.LoadFromFile(dir + "/missing.bmp"), EFOpenError);
  try {
    picture.LoadFromFile(dir + "/boss.xyz");
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "Unknown picture file extension (.xyz)");
  }
  EXPECT_EQ(picture.Graphic(), read);  // failures keep the picture
  EXPECT_NE(TPicture::FileFormat("DIB"), nullptr);
}

TEST(DIBPictures, ClipboardRoundTrip) {
  TDIB dib;
  dib.SetSize(3, 2, 8);
  dib.SetPixels(2, 1, 44);
  Clipboard()->Assign(&dib);
  EXPECT_TRUE(Clipboard()->HasFormat(CF_DIB));
  TPicture picture;
  picture.Assign(Clipboard());
  auto* read = dynamic_cast<TDIB*>(picture.Graphic());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Pixels(2, 1), 44u);
  Clipboard()->Clear();
}

TEST(DIBDrawing, MatchingAColourOnAFiveSixFiveTarget) {
  // What colour keys rely on: a one-pixel 8-bit picture of clRed drawn on a 5-6-5 target.
  std::vector<BYTE> memory(4, 0);
  TPixelBuffer target;
  target.Bits = memory.data();
  target.Pitch = 4;
  target.Width = 2;
  target.Height = 1;
  target.BitCount = 16;
  target.RMask = 0xF800, target.GMask = 0x07E0, target.BMask = 0x001F;
  HDC dc = CreateSurfaceDC(target);
  TCanvas canvas;
  canvas.SetHandle(dc);
  TDIB dib;
  dib.SetSize(1, 1, 8);
  const TColor rgb = ColorToRGB(clRed);
  dib.ColorTable[0] = MakeRGBQuad(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
  dib.UpdatePalette();
  dib.SetPixels(0, 0, 0);
  canvas.Draw(0, 0, &dib);
  EXPECT_EQ(ReadPixel(target, 0, 0), 0xF800u);
  EXPECT_EQ(ReadPixel(target, 1, 0), 0u);
  canvas.SetHandle(nullptr);
  DeleteDC(dc);
}

TEST(DIBDrawing, StretchedOntoAnotherDIB) {
  TDIB small;
  small.SetSize(2, 1, 32);
  small.SetPixels(0, 0, 0xFF0000);
  small.SetPixels(1, 0, 0x00FF00);
  TDIB big;
  big.SetSize(4, 2, 24);
  big.Canvas()->StretchDraw({0, 0, 4, 2}, &small);
  EXPECT_EQ(big.Pixels(1, 1), 0x0000FFu);  // red, read back blue-green-red
  EXPECT_EQ(big.Pixels(3, 0), 0x00FF00u);
}

TEST(DIBAssign, FromBitmapsAndPictures) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf16bit);
  bitmap.SetSize(3, 2);
  bitmap.Canvas()->SetPixels(2, 1, clRed);
  TDIB dib;
  dib.Assign(&bitmap);
  EXPECT_EQ(dib.BitCount(), 16);
  EXPECT_EQ(dib.NowPixelFormat(), MakeDIBPixelFormat(5, 6, 5));
  EXPECT_EQ(dib.Pixels(2, 1), 0xF800u);
  TBitmap device;  // a 32-bit device bitmap
  device.SetSize(2, 2);
  device.Canvas()->SetPixels(0, 0, clBlue);
  dib.Assign(&device);
  EXPECT_EQ(dib.BitCount(), 32);
  EXPECT_EQ(dib.Pixels(0, 0), 0x0000FFu);
  TBitmap empty;
  dib.Assign(&empty);  // no handle: the assignment ends early
  EXPECT_EQ(dib.BitCount(), 32);
  TPicture none;
  dib.Assign(&none);
  EXPECT_TRUE(dib.Empty());
  TFont font;
  EXPECT_THROW(dib.Assign(&font), EConvertError);
}

TEST(DIBText, JapaneseAndLatinLeaveInkWhereTheyAreDrawn) {
  TDIB dib;
  dib.SetSize(360, 100, 24);
  TCanvas* c = dib.Canvas();
  c->Brush()->SetColor(clBlack);
  c->FillRect({0, 0, 360, 100});
  c->Brush()->SetStyle(bsClear);
  c->Font()->SetName("Myriad Apple");
  c->Font()->SetStyle({fsBold});
  c->Font()->SetSize(20);
  c->Font()->SetColor(clWhite);
  const TSize latin = c->TextExtent("iMorvane");
  c->TextOut(10, 5, "iMorvane");
  const TSize kana = c->TextExtent("セーブしますか？");
  c->TextOut(10, 50, "セーブしますか？");
  EXPECT_GT(kana.cx, latin.cx);
  auto ink = [&](const TRect& r) {
    int n = 0;
    for (int y = r.Top; y < r.Bottom; ++y)
      for (int x = r.Left; x < r.Right; ++x) n += dib.Pixels(x, y) != 0;
    return n;
  };
  const int latinInk = ink(Bounds(10, 5, latin.cx, latin.cy));
  const int kanaInk = ink(Bounds(10, 50, kana.cx, kana.cy));
  EXPECT_GT(latinInk, 300);
  EXPECT_GT(kanaInk, 600);
  EXPECT_EQ(ink({0, 0, 360, 100}), latinInk + kanaInk);
  // Every character of the Japanese line leaves ink in its eighth of the cell.
  for (int i = 0; i < 8; ++i)
    EXPECT_GT(ink(Bounds(10 + kana.cx * i / 8, 50, kana.cx / 8, kana.cy)), 20) << i;
}
