#include "framework/graphics/DXTextureImage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "framework/graphics/DXConsts.h"

namespace {

// Shifts as the processor does them: only the low five bits of the count matter.
DWORD Shl(DWORD V, int N) { return V << (static_cast<unsigned>(N) & 31u); }
DWORD Shr(DWORD V, int N) { return V >> (static_cast<unsigned>(N) & 31u); }

// The largest pixel block a texture image may have (64 MiB: 4096 x 4096 at 32 bits). Sizes come
// from outside bytes; anything larger is taken as damage rather than allocated.
constexpr std::int64_t kMaxImageBytes = std::int64_t{1} << 26;

DWORD LE32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}
WORD LE16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

std::int64_t RowBytes64(std::int64_t Width, std::int64_t BitCount) {
  return (Width * BitCount + 31) / 32 * 4;
}

// True when an image of this geometry may be allocated: nothing negative, rows long enough for
// their pixels, and the block within the limit.
bool GeometryFits(std::int64_t Width, std::int64_t Height, std::int64_t BitCount,
                  std::int64_t WidthBytes) {
  if (Width < 0 || Height < 0 || BitCount < 1 || BitCount > 32 || WidthBytes < 0) return false;
  if (Width > kMaxImageBytes * 8 || Height > kMaxImageBytes) return false;
  const std::int64_t rowLength = WidthBytes == 0 ? RowBytes64(Width, BitCount) : WidthBytes;
  if (rowLength < (Width * BitCount + 7) / 8) return false;
  return rowLength * Height <= kMaxImageBytes;
}

std::vector<TDXTextureImageLoadFunc>*& LoaderSlot() {
  static std::vector<TDXTextureImageLoadFunc>* loaders = nullptr;
  return loaders;
}

void EnsureLoaders() {
  if (LoaderSlot() == nullptr)
    LoaderSlot() = new std::vector<TDXTextureImageLoadFunc>{&TDXTextureImage::LoadDXTStream,
                                                            &TDXTextureImage::LoadDIBStream};
}

// Start and end of the unit: the two loaders are registered, and at the end unregistered and
// the list freed.
struct TextureImageUnit {
  TextureImageUnit() {
    TDXTextureImage::RegisterLoader(&TDXTextureImage::LoadDXTStream);
    TDXTextureImage::RegisterLoader(&TDXTextureImage::LoadDIBStream);
  }
  ~TextureImageUnit() {
    TDXTextureImage::UnregisterLoader(&TDXTextureImage::LoadDXTStream);
    TDXTextureImage::UnregisterLoader(&TDXTextureImage::LoadDIBStream);
    delete LoaderSlot();
    LoaderSlot() = nullptr;
  }
};
const TextureImageUnit TheTextureImageUnit;

[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Channels

int ChannelLowBit(DWORD Mask) {
  for (int bit = 0; bit <= 30; ++bit)
    if (Mask & (DWORD{1} << bit)) return bit;
  return 31;
}

int ChannelBitCount(DWORD Mask) {
  int count = 0;
  for (int bit = ChannelLowBit(Mask); bit <= 31 && (Mask & (DWORD{1} << bit)); ++bit) ++count;
  return count;
}

TImageChannel MakeChannel(DWORD Mask, bool IndexMode) {
  TImageChannel c;
  c.Mask = Mask;
  c.BitCount = ChannelBitCount(Mask);
  const int low = ChannelLowBit(Mask);
  if (IndexMode) {
    c.ValueMask = Shl(1, c.BitCount) - 1;
    c.RightShift = low;
    c.LeftShift = 0;
    c.Fill = 0;
  } else {
    c.ValueMask = Shl(Shl(1, c.BitCount) - 1, 8 - c.BitCount);
    const int s = low - (8 - c.BitCount);
    c.RightShift = std::max(s, 0);
    c.LeftShift = std::max(-s, 0);
    c.Fill = 8 - c.BitCount;
  }
  return c;
}

DWORD DecodeChannel(const TImageChannel& Channel, DWORD Pixel) {
  const DWORD v = Shl(Shr(Pixel & Channel.Mask, Channel.RightShift), Channel.LeftShift);
  // Only colour channels of 1 to 7 bits have free low bits; they take a copy of the top bits
  // so that a full channel reads as 255.
  if (Channel.Fill <= 0 || Channel.Fill >= 8) return v;
  return v | (v >> (8 - Channel.Fill));
}

DWORD EncodeChannel(const TImageChannel& Channel, DWORD Value) {
  return Shr(Shl(Value, Channel.RightShift), Channel.LeftShift) & Channel.Mask;
}

int RowBytes(int Width, int BitCount) { return static_cast<int>(RowBytes64(Width, BitCount)); }

// ---------------------------------------------------------------------------------------------
// TDXTextureImage

TDXTextureImage::TDXTextureImage() : FSubImages(new TList) {}

TDXTextureImage::TDXTextureImage(TDXTextureImage* AOwner) : TDXTextureImage() {
  Owner = AOwner;
  try {
    Owner->FSubImages->Add(this);
  } catch (...) {
    // The destructor runs after this and must not look for itself in the owner's list.
    Owner = nullptr;
    throw;
  }
}

TDXTextureImage::~TDXTextureImage() {
  Clear();
  delete FSubImages;
  if (Owner != nullptr) Owner->FSubImages->Remove(this);
}

void TDXTextureImage::ClearImage() {
  if (OwnsBits) delete[] Bits;
  ImageKind = ikPalette;
  Width = 0;
  Height = 0;
  BitCount = 0;
  WidthBytes = 0;
  RowStep = 0;
  ImageSize = 0;
  Bits = nullptr;
  TopRow = nullptr;
  OwnsBits = false;
}

void TDXTextureImage::Clear() {
  ClearImage();
  // Each sub-image takes itself out of the list as it goes.
  while (FSubImages->Count() > 0) delete SubImage(FSubImages->Count() - 1);
  GroupKind = 0;
  GroupId = 0;
  Name.clear();
  Transparent = false;
  TransparentColor = 0;
  IndexChannel = {};
  IndexAlphaChannel = {};
  RedChannel = {};
  GreenChannel = {};
  BlueChannel = {};
  AlphaChannel = {};
  Palette.fill(PALETTEENTRY{0, 0, 0, 0});
}

void TDXTextureImage::SetImage(BYTE AImageKind, int AWidth, int AHeight, int ABitCount,
                               int AWidthBytes, int ARowStep, BYTE* ABits, BYTE* ATopRow,
                               int AImageSize, bool AOwnsBits) {
  ClearImage();
  ImageKind = AImageKind;
  Width = AWidth;
  Height = AHeight;
  BitCount = ABitCount;
  WidthBytes = AWidthBytes;
  RowStep = ARowStep;
  Bits = ABits;
  TopRow = ATopRow;
  ImageSize = AImageSize;
  OwnsBits = AOwnsBits;
}

void TDXTextureImage::SetSize(BYTE AImageKind, int AWidth, int AHeight, int ABitCount,
                              int AWidthBytes) {
  ClearImage();
  if (!GeometryFits(AWidth, AHeight, ABitCount, AWidthBytes))
    throw EDXTextureImageError(
        Format("Texture image size is invalid (%dx%d, %d bits)",
               {std::int64_t{AWidth}, std::int64_t{AHeight}, std::int64_t{ABitCount}}));
  if (AWidthBytes == 0) AWidthBytes = RowBytes(AWidth, ABitCount);
  const std::size_t size =
      static_cast<std::size_t>(AWidthBytes) * static_cast<std::size_t>(AHeight);
  BYTE* block = new BYTE[size > 0 ? size : 1]();
  SetImage(AImageKind, AWidth, AHeight, ABitCount, AWidthBytes, AWidthBytes, block, block,
           static_cast<int>(size), true);
}

int TDXTextureImage::GroupCount(int AGroupKind) const {
  int n = 0;
  for (int i = 0; i < SubImageCount(); ++i)
    if (SubImage(i)->GroupKind == AGroupKind) ++n;
  return n;
}

TDXTextureImage* TDXTextureImage::GroupImage(int AGroupKind, int Index) const {
  int n = 0;
  for (int i = 0; i < SubImageCount(); ++i) {
    TDXTextureImage* sub = SubImage(i);
    if (sub->GroupKind != AGroupKind) continue;
    if (n == Index) return sub;
    ++n;
  }
  // The list's own complaint about an index it does not hold.
  return static_cast<TDXTextureImage*>(FSubImages->Items(-1));
}

int TDXTextureImage::FindColor(int R, int G, int B) const {
  if (ImageKind != ikPalette) return 0;
  // The palette has 256 entries whatever the index channel could address.
  const int entries = IndexChannel.BitCount >= 8 ? 256 : 1 << IndexChannel.BitCount;
  int best = 0;
  std::int64_t bestDistance = -1;
  for (int i = 0; i < entries; ++i) {
    const std::int64_t dr = Palette[i].peRed - R, dg = Palette[i].peGreen - G,
                       db = Palette[i].peBlue - B;
    const std::int64_t d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

DWORD TDXTextureImage::Pixels(int X, int Y) const {
  if (X < 0 || X >= Width || Y < 0 || Y >= Height || TopRow == nullptr) return 0;
  const BYTE* row = ScanLine(Y);
  switch (BitCount) {
    case 1:
    case 2:
    case 4: {
      const int perByte = 8 / BitCount;
      const int field = X % perByte;
      const int shift = HighBitFirst ? (perByte - 1 - field) * BitCount : field * BitCount;
      return (row[X / perByte] >> shift) & ((1u << BitCount) - 1);
    }
    case 8:
      return row[X];
    case 16:
      return LE16(row + X * 2);
    case 24: {
      const BYTE* p = row + static_cast<std::intptr_t>(X) * 3;
      return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
             (static_cast<DWORD>(p[2]) << 16);
    }
    case 32:
      return LE32(row + static_cast<std::intptr_t>(X) * 4);
    default:
      return 0;
  }
}

void TDXTextureImage::DoNotify(int A, int B) {
  if (OnNotify) OnNotify(this, A, B);
}

void TDXTextureImage::RegisterLoader(TDXTextureImageLoadFunc Loader) {
  EnsureLoaders();
  auto& list = *LoaderSlot();
  if (std::find(list.begin(), list.end(), Loader) == list.end()) list.push_back(Loader);
}

void TDXTextureImage::UnregisterLoader(TDXTextureImageLoadFunc Loader) {
  EnsureLoaders();
  auto& list = *LoaderSlot();
  list.erase(std::remove(list.begin(), list.end(), Loader), list.end());
}

const std::vector<TDXTextureImageLoadFunc>* TextureImageLoaders() { return LoaderSlot(); }

// ---------------------------------------------------------------------------------------------
// The "dxt:" stream
//
// Chunks are an 8-byte header (dword type, dword size) and size bytes of payload. A payload is
// read only within its chunk, and the chunks of a group only within the group, so a damaged size
// can neither send the reader back over chunks it has read nor make it read one chunk as part
// of two groups; what does not fit is a short stream.

namespace {

constexpr DWORD kDXTVersion = 0x100;
constexpr DWORD kChunkEnd = 0;
constexpr DWORD kChunkGroupEnd = 1;
constexpr DWORD kChunkGroup = 2;
constexpr DWORD kChunkHeader = 0x101;
constexpr DWORD kChunkPixels = 0x102;
constexpr DWORD kChunkGroupInfo = 0x103;
constexpr DWORD kChunkName = 0x104;
constexpr DWORD kChunkTransparent = 0x105;
// Sub-images nest a level or two (mipmap levels of an image); far deeper nesting is damage, and
// freeing a tree that deep would exhaust the stack.
constexpr std::size_t kMaxGroupDepth = 64;

class TDXTReader {
 public:
  explicit TDXTReader(TStream* AStream) : S(AStream), FStreamSize(AStream->Size()) {}

  std::int64_t Position() { return S->Position(); }
  void SeekTo(std::int64_t Pos) { S->Seek(Pos, soFromBeginning); }

  // Exactly Count bytes, none of them at or past Limit (nor past the stream's end).
  void Read(void* Buffer, std::int64_t Count, std::int64_t Limit) {
    const std::int64_t pos = S->Position();
    if (Count < 0 || pos + Count > Limit || pos + Count > FStreamSize) ReadError();
    S->ReadBuffer(Buffer, Count);
  }
  DWORD ReadDWord(std::int64_t Limit) {
    BYTE b[4];
    Read(b, 4, Limit);
    return LE32(b);
  }
  BYTE ReadByte(std::int64_t Limit) {
    BYTE b;
    Read(&b, 1, Limit);
    return b;
  }

  TStream* S;

 private:
  std::int64_t FStreamSize;
};

// One group being read: the image it fills, where its chunks must end, and where the reader
// goes on in the enclosing group once it is done.
struct TGroupFrame {
  TDXTextureImage* Image;
  std::int64_t End;
  std::int64_t Resume;
  // The row length the group's header stored; 0 reads no pixel rows.
  std::int64_t StoredWidthBytes;
};

void ReadHeaderChunk(TDXTReader& r, TGroupFrame& f, std::int64_t Limit) {
  TDXTextureImage* image = f.Image;
  const BYTE kind = r.ReadByte(Limit);
  if (kind != ikPalette && kind != ikRGB) throw EDXTextureImageError(SDXTInvalid);
  const auto width = static_cast<std::int32_t>(r.ReadDWord(Limit));
  const auto height = static_cast<std::int32_t>(r.ReadDWord(Limit));
  const auto bitCount = static_cast<std::int32_t>(r.ReadDWord(Limit));
  const auto widthBytes = static_cast<std::int32_t>(r.ReadDWord(Limit));
  if (!GeometryFits(width, height, bitCount, widthBytes)) throw EDXTextureImageError(SDXTInvalid);
  image->SetSize(kind, width, height, bitCount, widthBytes);
  f.StoredWidthBytes = widthBytes;
  if (kind == ikPalette) {
    const DWORD indexMask = r.ReadDWord(Limit);
    const DWORD alphaMask = r.ReadDWord(Limit);
    image->IndexChannel = MakeChannel(indexMask, true);
    image->IndexAlphaChannel = MakeChannel(alphaMask, false);
    BYTE entries[1024];
    r.Read(entries, sizeof entries, Limit);
    for (int i = 0; i < 256; ++i)
      image->Palette[i] = {entries[i * 4], entries[i * 4 + 1], entries[i * 4 + 2],
                           entries[i * 4 + 3]};
  } else {
    image->RedChannel = MakeChannel(r.ReadDWord(Limit), false);
    image->GreenChannel = MakeChannel(r.ReadDWord(Limit), false);
    image->BlueChannel = MakeChannel(r.ReadDWord(Limit), false);
    image->AlphaChannel = MakeChannel(r.ReadDWord(Limit), false);
  }
}

void ReadPixelChunk(TDXTReader& r, TGroupFrame& f, std::int64_t Limit) {
  const DWORD compression = r.ReadDWord(Limit);
  if (compression != 0) {
    const std::int64_t value = static_cast<std::int32_t>(compression);
    throw EDXTextureImageError(Format("Decompression error (%d)", {value}));
  }
  TDXTextureImage* image = f.Image;
  // Rows are only read into a block that holds them: the header of this group made it.
  if (f.StoredWidthBytes <= 0 || image->Bits == nullptr || f.StoredWidthBytes > image->WidthBytes)
    return;
  for (int y = 0; y < image->Height; ++y) r.Read(image->ScanLine(y), f.StoredWidthBytes, Limit);
}

// Reads the chunks of a group into Root, and of its sub-image groups into new sub-images, up to
// the group's end chunk. Nested groups are kept on a list rather than on the call stack, so a
// deep stream cannot exhaust it.
void ReadGroup(TDXTReader& r, TDXTextureImage* Root, std::int64_t End) {
  std::vector<TGroupFrame> stack{{Root, End, 0, 0}};
  try {
    while (!stack.empty()) {
      TGroupFrame& f = stack.back();
      const DWORD type = r.ReadDWord(f.End);
      const DWORD size = r.ReadDWord(f.End);
      const std::int64_t payload = r.Position();
      const std::int64_t next = payload + size;
      const std::int64_t limit = std::min(next, f.End);
      switch (type) {
        case kChunkGroupEnd: {
          const std::int64_t resume = f.Resume;
          stack.pop_back();
          if (!stack.empty()) r.SeekTo(resume);
          continue;
        }
        case kChunkGroup:
          if (r.ReadDWord(limit) == kDXTVersion) {
            if (stack.size() >= kMaxGroupDepth) throw EDXTextureImageError(SDXTInvalid);
            TDXTextureImage* sub = TDXTextureImage::CreateSub(f.Image);
            stack.push_back({sub, limit, next, 0});
            continue;
          }
          break;
        case kChunkHeader:
          ReadHeaderChunk(r, f, limit);
          break;
        case kChunkPixels:
          ReadPixelChunk(r, f, limit);
          break;
        case kChunkGroupInfo:
          f.Image->GroupKind = static_cast<std::int32_t>(r.ReadDWord(limit));
          f.Image->GroupId = static_cast<std::int32_t>(r.ReadDWord(limit));
          break;
        case kChunkName: {
          // Checked against the stream before the string is made.
          const std::int64_t pos = r.Position();
          if (pos + size > limit || pos + size > r.S->Size()) ReadError();
          std::string name(size, '\0');
          r.Read(name.data(), size, limit);
          f.Image->Name = std::move(name);
          break;
        }
        case kChunkTransparent:
          f.Image->Transparent = r.ReadByte(limit) != 0;
          f.Image->TransparentColor = r.ReadDWord(limit);
          break;
        default:
          break;
      }
      r.SeekTo(next);
    }
  } catch (...) {
    // A sub-image that could not be read whole goes (with those it holds); the root keeps what
    // was read into it.
    if (stack.size() > 1) delete stack[1].Image;
    throw;
  }
}

}  // namespace

void TDXTextureImage::LoadDXTStream(TStream* Stream, TDXTextureImage* Image) {
  TDXTReader r(Stream);
  BYTE header[9];
  Stream->ReadBuffer(header, sizeof header);
  // The magic is a zero-terminated string: "dxt:" and then its terminator.
  if (std::memcmp(header, "dxt:\0", 5) != 0 || LE32(header + 5) != kDXTVersion)
    throw EDXTextureImageError(SDXTInvalid);
  const std::int64_t unbounded = std::numeric_limits<std::int64_t>::max();
  for (;;) {
    const DWORD type = r.ReadDWord(unbounded);
    const DWORD size = r.ReadDWord(unbounded);
    if (type == kChunkEnd) break;
    const std::int64_t payload = r.Position();
    const std::int64_t next = payload + size;
    if (type == kChunkGroup && r.ReadDWord(next) == kDXTVersion) ReadGroup(r, Image, next);
    r.SeekTo(next);
  }
}

// ---------------------------------------------------------------------------------------------
// Bitmap files

namespace {

[[noreturn]] void InvalidDIB() { throw EDXTextureImageError(SDIBInvalid); }

// Writes one pixel of a run-length-encoded picture; pixels off the picture are dropped.
void PutRLEPixel(TDXTextureImage* Image, bool TopDown, std::int64_t X, std::int64_t Line,
                 BYTE Value, bool Rle8) {
  if (X < 0 || X >= Image->Width || Line < 0 || Line >= Image->Height) return;
  const int row = TopDown ? static_cast<int>(Line) : Image->Height - 1 - static_cast<int>(Line);
  BYTE* p = Image->ScanLine(row);
  if (Rle8) {
    p[X] = Value;
  } else {
    BYTE& b = p[X / 2];
    b = (X % 2 == 0) ? static_cast<BYTE>((b & 0x0F) | (Value << 4))
                     : static_cast<BYTE>((b & 0xF0) | (Value & 0x0F));
  }
}

void DecodeRLE(TDXTextureImage* Image, bool TopDown, const std::vector<BYTE>& Data, bool Rle8) {
  const std::size_t size = Data.size();
  std::size_t p = 0;
  std::int64_t x = 0, line = 0;
  while (p + 2 <= size && line < Image->Height) {
    const int count = Data[p], value = Data[p + 1];
    p += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i, ++x)
        PutRLEPixel(Image, TopDown, x, line,
                    Rle8 ? static_cast<BYTE>(value)
                         : static_cast<BYTE>(i % 2 == 0 ? value >> 4 : value & 0x0F),
                    Rle8);
    } else if (value == 0) {
      x = 0;
      ++line;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (p + 2 > size) break;
      x += Data[p];
      line += Data[p + 1];
      p += 2;
    } else {
      const std::size_t bytes = Rle8 ? value : (value + 1) / 2;
      if (p + bytes > size) break;
      for (int i = 0; i < value; ++i, ++x) {
        const BYTE b = Rle8 ? Data[p + i] : Data[p + i / 2];
        PutRLEPixel(Image, TopDown, x, line,
                    Rle8 ? b : static_cast<BYTE>(i % 2 == 0 ? b >> 4 : b & 0x0F), Rle8);
      }
      p += bytes;
    }
    // Codes are word aligned within the data.
    p = (p + 1) & ~std::size_t{1};
  }
}

}  // namespace

void TDXTextureImage::LoadDIBStream(TStream* Stream, TDXTextureImage* Image) {
  BYTE fileHeader[14];
  const std::int64_t got = Stream->Read(fileHeader, sizeof fileHeader);
  if (got == 0) return;
  if (got < static_cast<std::int64_t>(sizeof fileHeader) || LE16(fileHeader) != 0x4D42)
    InvalidDIB();

  BYTE sizeField[4];
  if (Stream->Read(sizeField, 4) < 4) InvalidDIB();
  const DWORD headerSize = LE32(sizeField);
  std::int64_t width = 0, height = 0;
  int bitCount = 0;
  DWORD compression = 0, imageSize = 0, colorsUsed = 0;
  int entrySize = 4;
  if (headerSize == 12) {
    BYTE h[8];
    Stream->ReadBuffer(h, sizeof h);
    width = LE16(h);
    height = LE16(h + 2);
    bitCount = LE16(h + 6);
    entrySize = 3;
  } else if (headerSize == 40) {
    BYTE h[36];
    Stream->ReadBuffer(h, sizeof h);
    width = static_cast<std::int32_t>(LE32(h));
    height = static_cast<std::int32_t>(LE32(h + 4));
    bitCount = LE16(h + 10);
    compression = LE32(h + 12);
    imageSize = LE32(h + 16);
    colorsUsed = LE32(h + 28);
  } else {
    InvalidDIB();
  }

  DWORD redMask, greenMask, blueMask;
  if (compression == 3) {
    BYTE m[12];
    Stream->ReadBuffer(m, sizeof m);
    redMask = LE32(m);
    greenMask = LE32(m + 4);
    blueMask = LE32(m + 8);
  } else if (bitCount == 16) {
    redMask = 0x7C00, greenMask = 0x3E0, blueMask = 0x1F;
  } else {
    redMask = 0xFF0000, greenMask = 0xFF00, blueMask = 0xFF;
  }

  const bool topDown = height < 0;
  if (topDown) height = -height;
  // Bit counts that bitmap files define, and a size a texture can have.
  const bool knownBits = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 ||
                         bitCount == 24 || bitCount == 32;
  if (!knownBits || !GeometryFits(width, height, bitCount, 0)) InvalidDIB();

  const int w = static_cast<int>(width), h = static_cast<int>(height);
  const int rowLength = RowBytes(w, bitCount);
  if (bitCount <= 8) {
    Image->SetSize(ikPalette, w, h, bitCount, rowLength);
    Image->IndexChannel = MakeChannel((DWORD{1} << bitCount) - 1, true);
    Image->HighBitFirst = true;
  } else {
    Image->SetSize(ikRGB, w, h, bitCount, rowLength);
    Image->RedChannel = MakeChannel(redMask, false);
    Image->GreenChannel = MakeChannel(greenMask, false);
    Image->BlueChannel = MakeChannel(blueMask, false);
    const int n =
        Image->RedChannel.BitCount + Image->GreenChannel.BitCount + Image->BlueChannel.BitCount;
    if (n < bitCount)
      Image->AlphaChannel =
          MakeChannel(static_cast<DWORD>(((std::uint64_t{1} << (bitCount - n)) - 1) << n), false);
    Image->HighBitFirst = false;
  }

  std::int64_t entries = colorsUsed;
  if (entries == 0 && bitCount <= 8) entries = std::int64_t{1} << bitCount;
  entries = std::min<std::int64_t>(entries, 256);
  if (entries > 0) {
    BYTE table[256 * 4];
    Stream->ReadBuffer(table, entries * entrySize);
    for (int i = 0; i < entries; ++i) {
      const BYTE* e = table + i * entrySize;
      Image->Palette[i].peRed = e[2];
      Image->Palette[i].peGreen = e[1];
      Image->Palette[i].peBlue = e[0];
    }
  }

  if (compression == 0 || compression == 3) {
    // A picture without columns has no bytes in its rows, however many rows it claims.
    if (Image->WidthBytes > 0)
      for (int i = 0; i < h; ++i)
        Stream->ReadBuffer(Image->ScanLine(topDown ? i : h - 1 - i), Image->WidthBytes);
  } else if ((compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4)) {
    // The encoded bytes must be there before a buffer is made for them.
    if (imageSize > Stream->Size() - Stream->Position()) ReadError();
    std::vector<BYTE> data(imageSize);
    Stream->ReadBuffer(data.data(), imageSize);
    DecodeRLE(Image, topDown, data, compression == 1);
  } else {
    // Run-length data of the wrong bit count would not fit the rows.
    InvalidDIB();
  }
}
