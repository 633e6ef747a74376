#include "framework/graphics/DIB.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "framework/graphics/DIBMasks.h"
#include "framework/graphics/DXConsts.h"
#include "platform/gdi/Clipbrd.h"
#include "platform/rtl/SysUtils.h"

namespace {

DWORD LE32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}
WORD LE16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

// Largest decoded size of a run-length-encoded picture (64 MiB: 8192 x 8192 at 8 bits).
constexpr std::int64_t kMaxDecodedBytes = std::int64_t{1} << 26;

[[noreturn]] void InvalidDIB() { throw EInvalidGraphic(SDIBInvalid); }

// Width of a mask: the run of 1-bits from its lowest set bit, looking at bits 0 to 30.
int MaskWidth(int mask) {
  const auto m = static_cast<std::uint32_t>(mask);
  int bit = 0;
  while (bit <= 30 && !((m >> bit) & 1u)) ++bit;
  if (bit > 30) return 0;
  int width = 0;
  while (bit + width <= 31 && ((m >> (bit + width)) & 1u)) ++width;
  return width;
}

int ToInt(std::int64_t v) {
  return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

std::int64_t ShiftedMask(int bits, int shift) {
  if (bits <= 0 || shift < 0 || shift >= 63) return 0;
  const std::uint64_t ones = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  return static_cast<std::int64_t>(ones << shift);
}

void PutHeader(std::vector<BYTE>& block, const BITMAPINFOHEADER& h) {
  std::memcpy(block.data(), &h, sizeof h);
}

BITMAPINFOHEADER GetHeader(const std::vector<BYTE>& block) {
  BITMAPINFOHEADER h{};
  if (block.size() >= sizeof h) std::memcpy(&h, block.data(), sizeof h);
  return h;
}

TDIBSharedImage*& EmptyImageSlot() {
  static TDIBSharedImage* image = nullptr;
  return image;
}

TPaletteManager*& PaletteManagerSlot() {
  static TPaletteManager* manager = nullptr;
  return manager;
}

// Start and end of the unit: the picture-class registration, then at the end the shared empty
// image and the palette cache.
struct DIBUnit {
  DIBUnit() {
    const TGraphicClass cls{"TDIB", [] { return static_cast<TGraphic*>(new TDIB); }};
    TPicture::RegisterFileFormat("dib", "Device Independent Bitmap", cls);
    // Picture files read by the programs (".bmp") are read by TDIB on this system.
    TPicture::RegisterFileFormat("bmp", "Bitmaps", cls);
    TPicture::RegisterClipboardFormat(CF_DIB, cls);
  }
  ~DIBUnit() {
    TPicture::UnregisterGraphicClass("TDIB");
    delete EmptyImageSlot();
    EmptyImageSlot() = nullptr;
    delete PaletteManagerSlot();
    PaletteManagerSlot() = nullptr;
  }
};

}  // namespace

bool StartDIBUnit() {
  static DIBUnit unit;
  return true;
}

// ---- Colour helpers ----

TDIBPixelFormat MakeDIBPixelFormat(int r, int g, int b) {
  TDIBPixelFormat f;
  f.RBitMask = ToInt(ShiftedMask(r, g + b));
  f.GBitMask = ToInt(ShiftedMask(g, b));
  f.BBitMask = ToInt(ShiftedMask(b, 0));
  f.RBitCount = r;
  f.GBitCount = g;
  f.BBitCount = b;
  f.RShift = r + g + b - 8;
  f.GShift = g + b - 8;
  f.BShift = 8 - b;
  f.RBitCount2 = 8 - r;
  f.GBitCount2 = 8 - g;
  f.BBitCount2 = 8 - b;
  return f;
}

TDIBPixelFormat MakeDIBPixelFormatMask(int rMask, int gMask, int bMask) {
  return MakeDIBPixelFormat(MaskWidth(rMask), MaskWidth(gMask), MaskWidth(bMask));
}

RGBQUAD MakeRGBQuad(BYTE r, BYTE g, BYTE b) { return {b, g, r, 0}; }

PALETTEENTRY RGBQuadToPaletteEntry(const RGBQUAD& q) {
  return {q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
}

RGBQUAD PaletteEntryToRGBQuad(const PALETTEENTRY& e) { return {e.peBlue, e.peGreen, e.peRed, 0}; }

void RGBQuadsToPaletteEntries(const TRGBQuads& quads, TPaletteEntries& entries) {
  for (std::size_t i = 0; i < quads.size(); ++i) entries[i] = RGBQuadToPaletteEntry(quads[i]);
}

void PaletteEntriesToRGBQuads(const TPaletteEntries& entries, TRGBQuads& quads) {
  for (std::size_t i = 0; i < entries.size(); ++i) quads[i] = PaletteEntryToRGBQuad(entries[i]);
}

TRGBQuads MakeGreyscaleColorTable() {
  TRGBQuads t;
  for (int i = 0; i < 256; ++i) {
    const BYTE v = static_cast<BYTE>(i);
    t[i] = {v, v, v, 0};
  }
  return t;
}

// ---- Palette cache ----

TPaletteItem::~TPaletteItem() {
  if (Palette) DeleteObject(Palette);
}

TPaletteManager::TPaletteManager() : FList(new TCollection(CollectionItemClass<TPaletteItem>())) {}

TPaletteManager::~TPaletteManager() { delete FList; }

HPALETTE TPaletteManager::CreatePalette(const TRGBQuads& colorTable, int count) {
  count = std::clamp(count, 0, 256);
  int checksum = count;
  for (int i = 0; i < count; ++i)
    checksum += colorTable[i].rgbRed + colorTable[i].rgbGreen + colorTable[i].rgbBlue;
  for (int i = 0; i < FList->Count(); ++i) {
    auto* item = static_cast<TPaletteItem*>(FList->Items(i));
    if (item->Checksum == checksum && item->ColorTableCount == count &&
        std::memcmp(item->ColorTable.data(), colorTable.data(), sizeof(RGBQUAD) * count) == 0) {
      ++item->RefCount;
      return item->Palette;
    }
  }
  std::vector<BYTE> block(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY), 0);
  const WORD version = 0x300, entries = static_cast<WORD>(count);
  std::memcpy(block.data() + offsetof(LOGPALETTE, palVersion), &version, sizeof version);
  std::memcpy(block.data() + offsetof(LOGPALETTE, palNumEntries), &entries, sizeof entries);
  for (int i = 0; i < count; ++i) {
    const PALETTEENTRY e = RGBQuadToPaletteEntry(colorTable[i]);
    std::memcpy(block.data() + offsetof(LOGPALETTE, palPalEntry) + i * sizeof e, &e, sizeof e);
  }
  HPALETTE palette = ::CreatePalette(reinterpret_cast<LOGPALETTE*>(block.data()));
  auto* item = static_cast<TPaletteItem*>(FList->Add());
  item->Checksum = checksum;
  item->ColorTable = colorTable;
  item->ColorTableCount = count;
  item->Palette = palette;
  item->RefCount = 1;
  return palette;
}

void TPaletteManager::DeletePalette(HPALETTE& palette) {
  if (!palette) return;
  for (int i = 0; i < FList->Count(); ++i) {
    auto* item = static_cast<TPaletteItem*>(FList->Items(i));
    if (item->Palette == palette) {
      palette = nullptr;
      if (--item->RefCount <= 0) delete item;
      return;
    }
  }
}

bool TPaletteManager::Holds(HPALETTE palette) const {
  if (!palette) return false;
  for (int i = 0; i < FList->Count(); ++i)
    if (static_cast<TPaletteItem*>(FList->Items(i))->Palette == palette) return true;
  return false;
}

TPaletteManager* PaletteManager() {
  StartDIBUnit();
  TPaletteManager*& slot = PaletteManagerSlot();
  if (!slot) slot = new TPaletteManager;
  return slot;
}

// ---- Shared image ----

TDIBSharedImage::TDIBSharedImage() { Reset(); }

void TDIBSharedImage::Reset() {
  BitCount = 0;
  BitmapInfo.clear();
  BitmapInfoSize = 0;
  ChangePalette = false;
  ColorTable = MakeGreyscaleColorTable();
  ColorTablePos = 0;
  Compressed = false;
  DC = nullptr;
  DIBSection = nullptr;
  Height = 0;
  MemoryImage = true;
  NextLine = 0;
  OldHandle = nullptr;
  Palette = nullptr;
  PaletteCount = 0;
  PBits = nullptr;
  PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  Size = 0;
  TopPBits = nullptr;
  Width = 0;
  WidthBytes = 0;
  FBlock.reset();
}

void TDIBSharedImage::FreeStore() {
  if (DIBSection) {
    if (DC) SelectObject(DC, OldHandle);
    DeleteObject(DIBSection);
    DIBSection = nullptr;
  }
  FBlock.reset();
  if (Palette && PaletteManagerSlot()) PaletteManagerSlot()->DeletePalette(Palette);
  Palette = nullptr;
  if (DC) DeleteDC(DC);
  DC = nullptr;
}

TDIBSharedImage::~TDIBSharedImage() { FreeStore(); }

void TDIBSharedImage::FreeBlock::operator()(BYTE* p) const { std::free(p); }

void TDIBSharedImage::AllocateBlock(std::size_t bytes) {
  // Every new store starts zero-filled, so nothing stale ever reaches a file or a form. (Large
  // zeroed blocks come from the system untouched: only the pages written cost memory.)
  FBlock.reset(static_cast<BYTE*>(std::calloc(bytes == 0 ? 1 : bytes, 1)));
  if (!FBlock) throw EOutOfMemory("Out of memory");
}

void TDIBSharedImage::NewImage(int width, int height, int bitCount,
                               const TDIBPixelFormat& pixelFormat, const TRGBQuads& colorTable,
                               bool memoryImage, bool compressed) {
  FreeStore();
  Reset();

  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
    case 32:
      if (pixelFormat.RBitMask != 0xFF0000 || pixelFormat.GBitMask != 0x00FF00 ||
          pixelFormat.BBitMask != 0x0000FF)
        throw EInvalidGraphicOperation(SPixelFormatInvalid);
      break;
    case 16:
      if (!(pixelFormat.RBitMask == 0x7C00 && pixelFormat.GBitMask == 0x03E0 &&
            pixelFormat.BBitMask == 0x001F) &&
          !(pixelFormat.RBitMask == 0xF800 && pixelFormat.GBitMask == 0x07E0 &&
            pixelFormat.BBitMask == 0x001F))
        throw EInvalidGraphicOperation(SPixelFormatInvalid);
      break;
    default:
      throw EInvalidGraphicOperation(Format(SBitCountInvalid, {std::int64_t{bitCount}}));
  }

  const std::int64_t widthBytes = ((std::int64_t{std::max(width, 0)} * bitCount + 31) >> 5) << 2;
  const std::int64_t size = widthBytes * std::max(height, 0);
  if (widthBytes > std::numeric_limits<int>::max() || size > std::numeric_limits<int>::max())
    throw EOutOfMemory("Out of memory");

  BitCount = bitCount;
  Height = height;
  Width = width;
  WidthBytes = static_cast<int>(widthBytes);
  NextLine = -WidthBytes;
  Size = static_cast<int>(size);
  PixelFormat = pixelFormat;
  PaletteCount = bitCount <= 8 ? 1 << bitCount : 0;

  const bool masks = bitCount == 16 || bitCount == 32;
  BitmapInfoSize = 40 + (masks ? 12 : 0) + 4 * PaletteCount;
  BitmapInfo.assign(BitmapInfoSize, 0);
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bitCount);
  if (masks)
    h.biCompression = BI_BITFIELDS;
  else if (bitCount == 4 && compressed)
    h.biCompression = BI_RLE4;
  else if (bitCount == 8 && compressed)
    h.biCompression = BI_RLE8;
  else
    h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(Size);
  PutHeader(BitmapInfo, h);
  if (masks) {
    const DWORD m[3] = {static_cast<DWORD>(pixelFormat.RBitMask),
                        static_cast<DWORD>(pixelFormat.GBitMask),
                        static_cast<DWORD>(pixelFormat.BBitMask)};
    std::memcpy(BitmapInfo.data() + 40, m, sizeof m);
    ColorTablePos = 52;
  } else {
    ColorTablePos = 40;
  }

  ColorTable = colorTable;
  if (PaletteCount > 0)
    std::memcpy(BitmapInfo.data() + ColorTablePos, ColorTable.data(), 4 * PaletteCount);
  ChangePalette = true;

  Compressed = h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4;
  MemoryImage = memoryImage || Compressed;

  if (!Compressed) {
    if (MemoryImage) {
      AllocateBlock(static_cast<std::size_t>(Size));
      PBits = FBlock.get();
    } else {
      DC = CreateCompatibleDC(nullptr);
      void* bits = nullptr;
      DIBSection = CreateDIBSection(DC, reinterpret_cast<const BITMAPINFO*>(BitmapInfo.data()),
                                    DIB_RGB_COLORS, &bits, nullptr, 0);
      if (!DIBSection) throw EOutOfResources(Format(SCannotMade, {std::string("DIB")}));
      OldHandle = SelectObject(DC, DIBSection);
      PBits = static_cast<BYTE*>(bits);
    }
    TopPBits = Height > 0 ? PBits + static_cast<std::ptrdiff_t>(Height - 1) * WidthBytes : PBits;
  }
}

void TDIBSharedImage::Duplicate(TDIBSharedImage* source, bool memoryImage) {
  if (source->Size == 0) {
    FreeStore();
    Reset();
    MemoryImage = memoryImage;
    return;
  }
  NewImage(source->Width, source->Height, source->BitCount, source->PixelFormat, source->ColorTable,
           memoryImage, source->Compressed);
  if (Compressed) {
    const DWORD bytes = GetHeader(source->BitmapInfo).biSizeImage;
    AllocateBlock(bytes);
    std::memcpy(FBlock.get(), source->PBits, bytes);
    PBits = FBlock.get();
    Size = static_cast<int>(bytes);
    BITMAPINFOHEADER h = GetHeader(BitmapInfo);
    h.biSizeImage = bytes;
    PutHeader(BitmapInfo, h);
  } else {
    std::memcpy(PBits, source->PBits, static_cast<std::size_t>(Size));
  }
}

void TDIBSharedImage::Decompress(TDIBSharedImage* source, bool memoryImage) {
  if (!source->Compressed) {
    Duplicate(source, memoryImage);
    return;
  }
  NewImage(source->Width, source->Height, source->BitCount, source->PixelFormat, source->ColorTable,
           memoryImage, false);
  const bool rle8 = GetHeader(source->BitmapInfo).biCompression == BI_RLE8;
  DecodeRLE(source->PBits, static_cast<std::size_t>(std::max(source->Size, 0)), rle8);
}

// Run-length-encoded pixels, bottom row first. Decoding ends at the end-of-bitmap marker, at
// the end of the data (also in the middle of an item) and past the last row; runs, literals
// and deltas that leave a row or the image lose the pixels outside it.
void TDIBSharedImage::DecodeRLE(const BYTE* data, std::size_t size, bool rle8) {
  const std::int64_t w = Width, h = Height;
  std::int64_t x = 0, y = 0;
  auto put = [&](std::int64_t px, DWORD v) {
    if (px < 0 || px >= w || y < 0 || y >= h) return;
    BYTE* row = PBits + y * WidthBytes;
    if (rle8) {
      row[px] = static_cast<BYTE>(v);
    } else {
      BYTE& b = row[px >> 1];
      b = (px & 1) ? static_cast<BYTE>((b & 0xF0) | (v & 0x0F))
                   : static_cast<BYTE>((b & 0x0F) | ((v & 0x0F) << 4));
    }
  };
  std::size_t pos = 0;
  while (pos + 2 <= size && y < h) {
    const BYTE count = data[pos], value = data[pos + 1];
    pos += 2;
    if (count > 0) {
      for (int i = 0; i < count && x < w; ++i, ++x)
        put(x, rle8 ? value : ((i & 1) ? value & 0x0F : value >> 4));
      if (x > w) x = w;
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (pos + 2 > size) break;
      x = std::min<std::int64_t>(x + data[pos], w);
      y += data[pos + 1];
      pos += 2;
    } else {
      const std::size_t bytes = rle8 ? value : (value + 1u) / 2;
      if (pos + bytes > size) break;
      for (int i = 0; i < value && x < w; ++i, ++x) {
        const BYTE b = data[pos + (rle8 ? i : i / 2)];
        put(x, rle8 ? b : ((i & 1) ? b & 0x0F : b >> 4));
      }
      pos += bytes;
    }
    pos = (pos + 1) & ~std::size_t{1};
  }
}

void TDIBSharedImage::ReadData(TStream* stream, bool memoryImage, std::int64_t pixelOffset) {
  BYTE buf[36];
  const std::int64_t got = stream->Read(buf, 4);
  if (got == 0) {
    FreeStore();
    Reset();
    MemoryImage = memoryImage;
    return;
  }
  if (got < 4) InvalidDIB();
  const DWORD headerSize = LE32(buf);
  std::int64_t width, height;
  int bitCount;
  DWORD compression = BI_RGB, sizeImage = 0, clrUsed = 0;
  int entrySize;
  if (headerSize == 12) {
    stream->ReadBuffer(buf, 8);
    width = LE16(buf);
    height = LE16(buf + 2);
    bitCount = LE16(buf + 6);
    entrySize = 3;
  } else if (headerSize == 40) {
    stream->ReadBuffer(buf, 36);
    width = static_cast<std::int32_t>(LE32(buf));
    height = static_cast<std::int32_t>(LE32(buf + 4));
    bitCount = LE16(buf + 10);
    compression = LE32(buf + 12);
    sizeImage = LE32(buf + 16);
    clrUsed = LE32(buf + 28);
    entrySize = 4;
  } else {
    InvalidDIB();
  }
  if (compression > BI_BITFIELDS) InvalidDIB();
  if (!IsPixelBitCount(bitCount))
    throw EInvalidGraphicOperation(Format(SBitCountInvalid, {std::int64_t{bitCount}}));
  // Sizes from the header are not trusted: no empty or negative widths, no empty heights, and
  // run-length encoding only at the depth it is made for.
  if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min()) InvalidDIB();
  if ((compression == BI_RLE8 && bitCount != 8) || (compression == BI_RLE4 && bitCount != 4))
    InvalidDIB();

  TDIBPixelFormat pixelFormat;
  DWORD masks[3] = {};
  bool moveChannels = false;
  if (compression == BI_BITFIELDS) {
    stream->ReadBuffer(buf, 12);
    for (int c = 0; c < 3; ++c) masks[c] = LE32(buf + 4 * c);
    // The image keeps the channels' widths in its own order; where the file puts them
    // elsewhere, its pixels are moved there once read. Masks that describe no layout at all
    // would give colours nobody meant.
    const bool direct = bitCount >= 16;
    if (direct && !DIBMasksDescribeALayout(masks, bitCount)) InvalidDIB();
    pixelFormat = MakeDIBPixelFormatMask(static_cast<int>(masks[0]), static_cast<int>(masks[1]),
                                         static_cast<int>(masks[2]));
    moveChannels = direct && !DIBMasksAre(masks, pixelFormat);
  } else {
    pixelFormat = bitCount == 16 ? MakeDIBPixelFormat(5, 5, 5) : MakeDIBPixelFormat(8, 8, 8);
  }

  std::int64_t entries = clrUsed;
  if (clrUsed == 0 && bitCount <= 8) entries = std::int64_t{1} << bitCount;
  TRGBQuads table{};
  const std::int64_t kept = std::min<std::int64_t>(entries, 256);
  // A count beyond what a table holds is only believed when the file really has that many
  // entries; a damaged count is an invalid picture, not a short read in the middle of it.
  if (entries > kept && entries * entrySize > stream->Size() - stream->Position()) InvalidDIB();
  for (std::int64_t i = 0; i < kept; ++i) {
    stream->ReadBuffer(buf, entrySize);
    table[i] = {buf[0], buf[1], buf[2], entrySize == 4 ? buf[3] : BYTE{0}};
  }
  // Entries past the 256 a table can hold are skipped; the file holds them all (checked above).
  if (entries > kept) stream->Seek((entries - kept) * entrySize, soFromCurrent);
  // Pixels that a file places past the colour table are read from where it places them.
  if (pixelOffset >= 0 && pixelOffset > stream->Position()) {
    if (pixelOffset > stream->Size()) InvalidDIB();
    stream->SetPosition(pixelOffset);
  }

  const bool compressed = compression == BI_RLE8 || compression == BI_RLE4;
  const std::int64_t rows = height < 0 ? -height : height;
  const std::int64_t widthBytes = ((width * bitCount + 31) >> 5) << 2;
  const std::int64_t left = stream->Size() - stream->Position();
  if (compressed) {
    if (sizeImage == 0 || static_cast<std::int64_t>(sizeImage) > left) InvalidDIB();
    // A few bytes of run-length data can name an image of gigabytes; pictures larger than
    // this are not read.
    if (widthBytes > kMaxDecodedBytes / rows) InvalidDIB();
  } else {
    // Both factors are below 2^35, so compare by division rather than risk the product.
    if (widthBytes > left / rows) InvalidDIB();
    if (widthBytes * rows > std::numeric_limits<int>::max()) InvalidDIB();
  }

  NewImage(static_cast<int>(width), static_cast<int>(rows), bitCount, pixelFormat, table,
           memoryImage, compressed);
  if (compressed) {
    AllocateBlock(sizeImage);
    stream->ReadBuffer(FBlock.get(), sizeImage);
    PBits = FBlock.get();
    Size = static_cast<int>(sizeImage);
    BITMAPINFOHEADER h = GetHeader(BitmapInfo);
    h.biSizeImage = sizeImage;
    PutHeader(BitmapInfo, h);
  } else if (height > 0) {
    stream->ReadBuffer(PBits, Size);
  } else {
    for (std::int64_t i = 0; i < rows; ++i) stream->ReadBuffer(TopPBits + i * NextLine, WidthBytes);
  }
  if (moveChannels) MoveDIBChannels(PBits, Width, Height, WidthBytes, BitCount, masks, PixelFormat);
}

HPALETTE TDIBSharedImage::GetPalette() {
  if (PaletteCount == 0) return nullptr;
  if (ChangePalette) {
    ChangePalette = false;
    PaletteManager()->DeletePalette(Palette);
    Palette = PaletteManager()->CreatePalette(ColorTable, PaletteCount);
  }
  return Palette;
}

void TDIBSharedImage::SetColorTable(const TRGBQuads& colorTable) {
  ColorTable = colorTable;
  ChangePalette = true;
  if (Size > 0 && PaletteCount > 0) {
    if (DC) SetDIBColorTable(DC, 0, 256, ColorTable.data());
    std::memcpy(BitmapInfo.data() + ColorTablePos, ColorTable.data(), 4 * PaletteCount);
  }
}

TDIBSharedImage* EmptyDIBImage() {
  StartDIBUnit();
  TDIBSharedImage*& slot = EmptyImageSlot();
  if (!slot) {
    slot = new TDIBSharedImage;
    slot->Reference();
  }
  return slot;
}

// ---- TDIB ----

TDIB::TDIB() { SetImage(EmptyDIBImage()); }

TDIB::~TDIB() {
  SetImage(EmptyDIBImage());
  if (FImage) FImage->Release();
  FImage = nullptr;
  delete FCanvas;
}

void TDIB::Refresh() {
  ColorTable = FImage->ColorTable;
  PixelFormat = FImage->PixelFormat;
  FBitCount = FImage->BitCount;
  FHeight = FImage->Height;
  FNextLine = FImage->NextLine;
  FNowPixelFormat = FImage->PixelFormat;
  FPBits = FImage->PBits;
  FSize = FImage->Size;
  FTopPBits = FImage->TopPBits;
  FWidth = FImage->Width;
  FWidthBytes = FImage->WidthBytes;
}

void TDIB::SetImage(TDIBSharedImage* value) {
  if (value == FImage) return;
  if (FCanvas) FCanvas->SetHandle(nullptr);
  if (FImage) FImage->Release();
  FImage = value;
  FImage->Reference();
  if (FCanvas) FCanvas->SetHandle(FImage->DC);
  Refresh();
}

void TDIB::Clear() { SetImage(EmptyDIBImage()); }

void TDIB::Changing(bool memoryImage) {
  if (FImage->RefCount() <= 1 && !FImage->Compressed && (memoryImage || !FImage->MemoryImage))
    return;
  auto* image = new TDIBSharedImage;
  try {
    image->Decompress(FImage, memoryImage && FImage->MemoryImage);
  } catch (...) {
    delete image;
    throw;
  }
  SetImage(image);
}

void TDIB::DecompressForReading() {
  if (!FImage->Compressed) return;
  auto* image = new TDIBSharedImage;
  try {
    image->Decompress(FImage, FImage->MemoryImage);
  } catch (...) {
    delete image;
    throw;
  }
  SetImage(image);
}

BYTE* TDIB::PBits() {
  Changing(true);
  GdiFlush();
  return FPBits;
}

BYTE* TDIB::TopPBits() {
  Changing(true);
  GdiFlush();
  return FTopPBits;
}

DWORD TDIB::Pixels(int x, int y) {
  DecompressForReading();
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight || !FTopPBits) return 0;
  const BYTE* row = FTopPBits + static_cast<std::ptrdiff_t>(y) * FNextLine;
  switch (FBitCount) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (x & 1) ? row[x >> 1] & 0x0Fu : row[x >> 1] >> 4;
    case 8:
      return row[x];
    case 16:
      return static_cast<DWORD>(row[2 * x] | (row[2 * x + 1] << 8));
    case 24: {
      const BYTE* p = row + 3 * x;
      return (static_cast<DWORD>(p[0]) << 16) | (static_cast<DWORD>(p[1]) << 8) | p[2];
    }
    case 32: {
      DWORD v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
    default:
      return 0;
  }
}

void TDIB::SetPixels(int x, int y, DWORD value) {
  Changing(true);
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight || !FTopPBits) return;
  BYTE* row = FTopPBits + static_cast<std::ptrdiff_t>(y) * FNextLine;
  switch (FBitCount) {
    case 1: {
      const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
      row[x >> 3] = (value & 1u) ? (row[x >> 3] | bit) : (row[x >> 3] & static_cast<BYTE>(~bit));
      break;
    }
    case 4: {
      BYTE& b = row[x >> 1];
      b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | (value & 0x0F))
                  : static_cast<BYTE>((b & 0x0F) | ((value & 0x0F) << 4));
      break;
    }
    case 8:
      row[x] = static_cast<BYTE>(value);
      break;
    case 16:
      row[2 * x] = static_cast<BYTE>(value);
      row[2 * x + 1] = static_cast<BYTE>(value >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<BYTE>(value >> 16);
      row[3 * x + 1] = static_cast<BYTE>(value >> 8);
      row[3 * x + 2] = static_cast<BYTE>(value);
      break;
    case 32:
      std::memcpy(row + 4 * x, &value, 4);
      break;
    default:
      break;
  }
}

TCanvas* TDIB::Canvas() {
  if (FCanvas && FCanvas->HandleAllocated()) return FCanvas;
  if (FImage->MemoryImage) {
    auto* image = new TDIBSharedImage;
    try {
      image->Decompress(FImage, false);
    } catch (...) {
      delete image;
      throw;
    }
    SetImage(image);
  }
  if (!FCanvas) {
    // The same canvas object serves every image this TDIB holds; it only changes handles.
    FCanvas = new TCanvas;
    FCanvas->OnChanging = [this](TObject*) { Changing(false); };
  }
  FCanvas->SetHandle(FImage->DC);
  return FCanvas;
}

void TDIB::SetSize(int width, int height, int bitCount) {
  if (width == FWidth && height == FHeight && bitCount == FBitCount &&
      FImage->PixelFormat.RBitMask == PixelFormat.RBitMask &&
      FImage->PixelFormat.GBitMask == PixelFormat.GBitMask &&
      FImage->PixelFormat.BBitMask == PixelFormat.BBitMask)
    return;
  if (width <= 0 || height <= 0) {
    Clear();
    return;
  }
  auto* image = new TDIBSharedImage;
  try {
    image->NewImage(width, height, bitCount, PixelFormat, ColorTable, FImage->MemoryImage, false);
  } catch (...) {
    delete image;
    throw;
  }
  SetImage(image);
  PaletteModified = true;
}

void TDIB::SetWidth(int value) {
  if (value <= 0)
    Clear();
  else if (Empty())
    SetSize(value, std::max(FHeight, 1), 8);
  else
    SetSize(value, FHeight, FBitCount);
}

void TDIB::SetHeight(int value) {
  if (value <= 0)
    Clear();
  else if (Empty())
    SetSize(std::max(FWidth, 1), value, 8);
  else
    SetSize(FWidth, value, FBitCount);
}

HPALETTE TDIB::GetPalette() { return FImage->GetPalette(); }

void TDIB::SetPalette(HPALETTE value) {
  TPaletteEntries entries{};
  GetPaletteEntries(value, 0, 256, entries.data());
  // The handle becomes ours to delete, unless the palette cache owns it (a handle taken from
  // another image's Palette): deleting that one would leave the cache holding a dead handle.
  if (!PaletteManagerSlot() || !PaletteManagerSlot()->Holds(value)) DeleteObject(value);
  PaletteEntriesToRGBQuads(entries, ColorTable);
  UpdatePalette();
}

void TDIB::UpdatePalette() {
  if (std::memcmp(ColorTable.data(), FImage->ColorTable.data(), sizeof(RGBQUAD) * 256) == 0) return;
  const TRGBQuads wanted = ColorTable;
  Changing(true);
  ColorTable = wanted;
  FImage->SetColorTable(ColorTable);
  PaletteModified = true;
}

void TDIB::Assign(TPersistent* source) {
  if (!source) {
    Clear();
    return;
  }
  if (auto* dib = dynamic_cast<TDIB*>(source)) {
    if (dib != this) SetImage(dib->FImage);
    return;
  }
  if (auto* picture = dynamic_cast<TPicture*>(source)) {
    if (picture->Graphic())
      Assign(picture->Graphic());
    else
      Clear();
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    TPaletteEntries entries{};
    GetPaletteEntries(bitmap->Palette(), 0, 256, entries.data());
    PaletteEntriesToRGBQuads(entries, ColorTable);
    UpdatePalette();
    DIBSECTION ds{};
    const int got = GetObject(bitmap->Handle(), sizeof ds, &ds);
    int bits;
    if (got == static_cast<int>(sizeof(DIBSECTION))) {
      bits = ds.dsBm.bmBitsPixel;
      PixelFormat = bits > 8 && bits < 24
                        ? MakeDIBPixelFormatMask(static_cast<int>(ds.dsBitfields[0]),
                                                 static_cast<int>(ds.dsBitfields[1]),
                                                 static_cast<int>(ds.dsBitfields[2]))
                        : MakeDIBPixelFormat(8, 8, 8);
    } else if (got == static_cast<int>(sizeof(BITMAP))) {
      bits = ds.dsBm.bmBitsPixel;
      PixelFormat = bits == 16 ? MakeDIBPixelFormat(5, 5, 5) : MakeDIBPixelFormat(8, 8, 8);
    } else {
      return;
    }
    SetSize(bitmap->Width(), bitmap->Height(), bits);
    if (FSize > 0) std::memset(PBits(), 0, static_cast<std::size_t>(FSize));
    Canvas()->Draw(0, 0, bitmap);
    return;
  }
  if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    SetSize(graphic->Width(), graphic->Height(), 24);
    if (FSize > 0) std::memset(PBits(), 0, static_cast<std::size_t>(FSize));
    Canvas()->Draw(0, 0, graphic);
    return;
  }
  TGraphic::Assign(source);
}

void TDIB::Draw(TCanvas* canvas, const TRect& rect) {
  if (FSize < 1) return;
  // Run-length-encoded pixels are decoded before they are drawn.
  DecompressForReading();
  HDC dc = canvas->Handle();
  HPALETTE oldPalette = nullptr;
  const bool colours = FImage->PaletteCount >= 1;
  if (colours) {
    oldPalette = SelectPalette(dc, GetPalette(), FALSE_);
    RealizePalette(dc);
  }
  const int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
  GdiFlush();
  auto restore = [&] {
    SetStretchBltMode(dc, oldMode);
    if (colours && oldPalette) SelectPalette(dc, oldPalette, FALSE_);
  };
  try {
    if (FImage->MemoryImage)
      StretchDIBits(dc, rect.Left, rect.Top, rect.Width(), rect.Height(), 0, 0, FWidth, FHeight,
                    FImage->PBits, reinterpret_cast<const BITMAPINFO*>(FImage->BitmapInfo.data()),
                    DIB_RGB_COLORS, canvas->CopyMode);
    else
      StretchBlt(dc, rect.Left, rect.Top, rect.Width(), rect.Height(), FImage->DC, 0, 0, FWidth,
                 FHeight, canvas->CopyMode);
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

void TDIB::ReadImage(TStream* stream, std::int64_t pixelOffset) {
  auto* image = new TDIBSharedImage;
  try {
    image->ReadData(stream, FImage->MemoryImage, pixelOffset);
  } catch (...) {
    delete image;
    throw;
  }
  SetImage(image);
}

void TDIB::ReadData(TStream* stream) { ReadImage(stream, -1); }

void TDIB::WriteData(TStream* stream) {
  if (Empty()) return;
  GdiFlush();
  stream->WriteBuffer(FImage->BitmapInfo.data(), FImage->BitmapInfoSize);
  const DWORD bytes = GetHeader(FImage->BitmapInfo).biSizeImage;
  stream->WriteBuffer(FImage->PBits, bytes);
}

void TDIB::LoadFromStream(TStream* stream) {
  BYTE header[14];
  const std::int64_t start = stream->Position();
  const std::int64_t got = stream->Read(header, 14);
  if (got == 0) return;
  if (got < 14 || LE16(header) != 19778) InvalidDIB();
  ReadImage(stream, start + LE32(header + 10));
}

void TDIB::SaveToStream(TStream* stream) {
  if (Empty()) return;
  const DWORD bytes = GetHeader(FImage->BitmapInfo).biSizeImage;
  BYTE header[14] = {'B', 'M'};
  const DWORD fileSize = 14 + static_cast<DWORD>(FImage->BitmapInfoSize) + bytes;
  const DWORD offset = 14 + static_cast<DWORD>(FImage->BitmapInfoSize);
  for (int i = 0; i < 4; ++i) {
    header[2 + i] = static_cast<BYTE>(fileSize >> (8 * i));
    header[10 + i] = static_cast<BYTE>(offset >> (8 * i));
  }
  stream->WriteBuffer(header, 14);
  WriteData(stream);
}

void TDIB::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  format = CF_DIB;
  palette = nullptr;
  TMemoryStream stream;
  WriteData(&stream);
  data = GlobalAlloc(GHND, static_cast<std::size_t>(stream.Size()));
  if (!data) throw EOutOfMemory("Out of memory");
  void* p = GlobalLock(data);
  if (stream.Size() > 0) std::memcpy(p, stream.Memory(), static_cast<std::size_t>(stream.Size()));
  GlobalUnlock(data);
}

void TDIB::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  TGlobalMemoryStream stream(data);
  ReadData(&stream);
}

void TDIB::DefineProperties(TPropertyDefs& defs) {
  TGraphic::DefineProperties(defs);
  // An older form of the stored data: a whole BMP file. Read when present, never written.
  defs.DefineBinaryProperty(
      "DIB", [this](TStream* s) { LoadFromStream(s); }, nullptr, false);
}

// ---- TGlobalMemoryStream ----

TGlobalMemoryStream::TGlobalMemoryStream(HANDLE handle) : Handle(handle) {
  const void* p = GlobalLock(handle);
  const std::size_t size = GlobalSize(handle);
  SetSize(static_cast<std::int64_t>(size));
  if (p && size > 0) std::memcpy(Memory(), p, size);
  Seek(0, soFromBeginning);
}

TGlobalMemoryStream::~TGlobalMemoryStream() { GlobalUnlock(Handle); }

std::int64_t TGlobalMemoryStream::Write(const void*, std::int64_t) { return 0; }
