// Device-independent bitmaps: TDIB, a picture of 1, 4, 8, 16, 24 or 32 bits per pixel with its
// colour table, direct access to its rows and a canvas for drawing into it. Copies share one
// pixel store (TDIBSharedImage) until one of them writes; the logical palettes of images with
// the same colours are shared through one cache (TPaletteManager). TDIB reads and writes BMP
// files (run-length-encoded bodies stay compressed until a pixel is needed), the bare body that
// pictures keep in stored forms, and the clipboard's CF_DIB format.
//
// Pixels are kept as BMP files keep them: the bottom row first, rows padded to 4 bytes.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "platform/gdi/Canvas.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Streams.h"

// A packed R-G-B layout, red in the highest bits and blue in the lowest.
struct TDIBPixelFormat {
  int RBitMask = 0, GBitMask = 0, BBitMask = 0;
  int RBitCount = 0, GBitCount = 0, BBitCount = 0;
  int RShift = 0, GShift = 0, BShift = 0;
  int RBitCount2 = 0, GBitCount2 = 0, BBitCount2 = 0;
  friend bool operator==(const TDIBPixelFormat&, const TDIBPixelFormat&) = default;
};

using TRGBQuads = std::array<RGBQUAD, 256>;
using TPaletteEntries = std::array<PALETTEENTRY, 256>;

TDIBPixelFormat MakeDIBPixelFormat(int r, int g, int b);
// The layout of the three masks' widths (the run of 1-bits from each mask's lowest set bit).
TDIBPixelFormat MakeDIBPixelFormatMask(int rMask, int gMask, int bMask);
RGBQUAD MakeRGBQuad(BYTE r, BYTE g, BYTE b);
PALETTEENTRY RGBQuadToPaletteEntry(const RGBQUAD& quad);
RGBQUAD PaletteEntryToRGBQuad(const PALETTEENTRY& entry);
void RGBQuadsToPaletteEntries(const TRGBQuads& quads, TPaletteEntries& entries);
void PaletteEntriesToRGBQuads(const TPaletteEntries& entries, TRGBQuads& quads);
TRGBQuads MakeGreyscaleColorTable();

// One cached logical palette.
class TPaletteItem : public TCollectionItem {
 public:
  explicit TPaletteItem(TCollection* collection) : TCollectionItem(collection) {}
  ~TPaletteItem() override;

  int Checksum = 0;
  HPALETTE Palette = nullptr;  // owned
  int RefCount = 0;
  TRGBQuads ColorTable{};
  int ColorTableCount = 0;
};

// The one cache of logical palettes: images with equal colours share a handle.
class TPaletteManager : public TObject {
 public:
  TPaletteManager();
  ~TPaletteManager() override;

  // A handle with the first `count` colours of `colorTable`, shared with every earlier caller
  // that asked for the same colours; each call takes one reference.
  HPALETTE CreatePalette(const TRGBQuads& colorTable, int count);
  // Gives back one reference to `palette` and clears it; a handle the cache does not hold is
  // left as it is.
  void DeletePalette(HPALETTE& palette);
  // The cache holds this handle (and will delete it itself).
  bool Holds(HPALETTE palette) const;

 private:
  TCollection* FList;
};

TPaletteManager* PaletteManager();

class TDIBSharedImage : public TSharedImage {
 public:
  // The empty image.
  TDIBSharedImage();
  ~TDIBSharedImage() override;

  // A new image of the given geometry; its pixel store (unless compressed) is zero-filled.
  // EInvalidGraphicOperation "Bitcount in invalid (%d)" / "PixelFormat in invalid".
  void NewImage(int width, int height, int bitCount, const TDIBPixelFormat& pixelFormat,
                const TRGBQuads& colorTable, bool memoryImage, bool compressed);
  void Duplicate(TDIBSharedImage* source, bool memoryImage);
  // A copy of `source` with run-length-encoded pixels decoded.
  void Decompress(TDIBSharedImage* source, bool memoryImage);
  // Reads a BMP body (without the 14-byte file header). `pixelOffset`, when not negative, is
  // where the file header says the pixels start; the reader moves there when it lies past
  // the colour table.
  void ReadData(TStream* stream, bool memoryImage, std::int64_t pixelOffset = -1);
  HPALETTE GetPalette();
  void SetColorTable(const TRGBQuads& colorTable);

  int BitCount = 0;
  std::vector<BYTE> BitmapInfo;  // header, masks (16 and 32 bits), colour table
  int BitmapInfoSize = 0;
  bool ChangePalette = false;
  TRGBQuads ColorTable{};
  int ColorTablePos = 0;
  bool Compressed = false;
  HDC DC = nullptr;
  HBITMAP DIBSection = nullptr;
  int Height = 0;
  bool MemoryImage = true;
  int NextLine = 0;
  HGDIOBJ OldHandle = nullptr;
  HPALETTE Palette = nullptr;
  int PaletteCount = 0;
  BYTE* PBits = nullptr;  // the bottom row
  TDIBPixelFormat PixelFormat;
  int Size = 0;
  BYTE* TopPBits = nullptr;  // the top row (none for compressed images)
  int Width = 0;
  int WidthBytes = 0;

 protected:
  void FreeHandle() override {}

 private:
  void Reset();
  void FreeStore();
  void AllocateBlock(std::size_t bytes);
  void DecodeRLE(const BYTE* data, std::size_t size, bool rle8);

  struct FreeBlock {
    void operator()(BYTE* p) const;
  };
  std::unique_ptr<BYTE, FreeBlock> FBlock;  // memory images and compressed data
};

// The shared empty image; never freed by releases.
TDIBSharedImage* EmptyDIBImage();

class TDIB : public TGraphic {
 public:
  TDIB();
  ~TDIB() override;

  void Assign(TPersistent* source) override;
  void Clear();
  void SetSize(int width, int height, int bitCount);
  void UpdatePalette();
  // Prepares for writing: afterwards the image is this TDIB's own, decoded, and (unless
  // `memoryImage`) a DIB section that the canvas can draw on.
  void Changing(bool memoryImage);
  void SetImage(TDIBSharedImage* value);
  TDIBSharedImage* Image() const { return FImage; }

  int BitCount() const { return FBitCount; }
  int Size() const { return FSize; }
  int WidthBytes() const { return FWidthBytes; }
  int NextLine() const { return FNextLine; }
  // Row addresses for writing: the image is made this TDIB's own first.
  BYTE* PBits();
  BYTE* TopPBits();
  // Y = 0 is the top row. Outside the image reads 0 and writes nothing.
  DWORD Pixels(int x, int y);
  void SetPixels(int x, int y, DWORD value);
  TCanvas* Canvas();
  int PaletteCount() const { return FImage->PaletteCount; }
  int BitmapInfoSize() const { return FImage->BitmapInfoSize; }
  const TDIBPixelFormat& NowPixelFormat() const { return FNowPixelFormat; }

  // The colours the program edits; UpdatePalette gives them to the image.
  TRGBQuads ColorTable{};
  // The format SetSize makes new images in.
  TDIBPixelFormat PixelFormat;

  void SetWidth(int value) override;
  void SetHeight(int value) override;
  // Takes the palette's first 256 colours; the handle is the TDIB's to delete from then on
  // (unless the palette cache holds it).
  void SetPalette(HPALETTE value) override;

  void LoadFromStream(TStream* stream) override;
  void SaveToStream(TStream* stream) override;
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;
  void DefineProperties(TPropertyDefs& defs) override;

 protected:
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return FSize == 0; }
  int GetWidth() override { return FWidth; }
  int GetHeight() override { return FHeight; }
  HPALETTE GetPalette() override;
  void ReadData(TStream* stream) override;
  void WriteData(TStream* stream) override;

 private:
  void ReadImage(TStream* stream, std::int64_t pixelOffset);
  void DecompressForReading();
  void Refresh();

  TCanvas* FCanvas = nullptr;
  TDIBSharedImage* FImage = nullptr;
  int FBitCount = 0;
  int FHeight = 0;
  int FNextLine = 0;
  TDIBPixelFormat FNowPixelFormat;
  BYTE* FPBits = nullptr;
  int FSize = 0;
  BYTE* FTopPBits = nullptr;
  int FWidth = 0;
  int FWidthBytes = 0;
};

// A read-only stream over the bytes of a global memory block (the clipboard's).
class TGlobalMemoryStream : public TMemoryStream {
 public:
  explicit TGlobalMemoryStream(HANDLE handle);
  ~TGlobalMemoryStream() override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;

  HANDLE Handle;
};

// Registers TDIB with the picture class ("dib", "bmp" and CF_DIB) once per program; every
// program that includes this header does so at start-up.
bool StartDIBUnit();
inline const bool DIBUnitStarted = StartDIBUnit();
