// The GDI calls the framework makes on device contexts, bitmaps and palettes, over our own pixel
// code. A device context draws either into the bitmap selected into it (memory DCs, as the
// bitmap classes make them) or straight into pixel memory that somebody else owns (the surfaces
// hand one out from GetDC); either way it never owns what it draws on, so one canvas class
// serves both.
//
// Handles are pointers to live objects; every call checks that a handle is live, so a handle
// that was deleted, or never made here, is refused instead of followed.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/gdi/PixelBuffer.h"
#include "platform/win/WinTypes.h"

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// A header followed, in the same block, by the three masks (BI_BITFIELDS) and the colour table.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// A header followed, in the same block, by palNumEntries entries.
struct LOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  void* bmBits;
};

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3];
  HANDLE dshSection;
  DWORD dsOffset;
};

constexpr DWORD BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1;
constexpr int BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4;
constexpr int DEFAULT_PALETTE = 15;
constexpr int GDI_ERROR = -1;

class TDeviceContext;

class TGdiObject {
 public:
  virtual ~TGdiObject() = default;
  bool Stock = false;  // stock objects are never deleted
};

class TGdiPalette final : public TGdiObject {
 public:
  std::vector<PALETTEENTRY> Entries;
};

class TGdiBitmap final : public TGdiObject {
 public:
  TPixelBuffer Buffer;        // describes Memory
  std::vector<BYTE> Memory;   // owned pixels, zero-filled when made
  bool IsDIBSection = false;  // else a device bitmap (32 bits per pixel)
  BITMAPINFOHEADER Header{};  // as made (DIB sections)
  DWORD Masks[3] = {};        // as made (DIB sections with BI_BITFIELDS)
  TDeviceContext* SelectedInto = nullptr;
};

using HGDIOBJ = TGdiObject*;
using HPALETTE = TGdiPalette*;
using HBITMAP = TGdiBitmap*;
using HDC = TDeviceContext*;

class TDeviceContext {
 public:
  // The pixels drawn on, or nullptr when there is nothing to draw on (a memory DC holding only
  // its stock bitmap still has a 1 x 1 target, as in GDI).
  const TPixelBuffer* Target() const;
  // Drawing is confined to this rectangle (device coordinates, inside the target).
  TRect ClipRect() const;

  TGdiBitmap* Bitmap = nullptr;  // selected bitmap of a memory DC
  bool OverMemory = false;       // made over caller memory
  TPixelBuffer Memory;           // that memory
  HPALETTE Palette = nullptr;    // selected logical palette (recorded; the target's own colours
                                 // decide how colours map)
  int StretchMode = BLACKONWHITE;
};

// A memory DC with the stock 1 x 1 monochrome bitmap selected.
HDC CreateCompatibleDC(HDC dc);
// A DC that draws straight into `target`, which must outlive it.
HDC CreateSurfaceDC(const TPixelBuffer& target);
BOOL DeleteDC(HDC dc);
bool IsLiveDC(HDC dc);

// Selects a bitmap into a memory DC and returns the one it replaces (nullptr on failure: not a
// memory DC, not a bitmap, or a bitmap selected into another DC).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj);
// FALSE for handles that are not live, stock objects, and bitmaps still selected into a DC.
BOOL DeleteObject(HGDIOBJ obj);
bool IsLiveObject(HGDIOBJ obj);
HGDIOBJ GetStockObject(int index);

// A DIB section: pixels zero-filled, `*bits` set to the bottom row of a bottom-up image (the top
// row of a top-down one). nullptr for a header it cannot take.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
// A 32-bit device bitmap, zero-filled.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// Fills a BITMAP (any bitmap) or a DIBSECTION (DIB sections only, when `size` allows it);
// returns the bytes written, 0 for a bad handle.
int GetObject(HGDIOBJ obj, int size, void* out);

HPALETTE CreatePalette(const LOGPALETTE* logPalette);
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC dc);

int SetStretchBltMode(HDC dc, int mode);
int GetStretchBltMode(HDC dc);

BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                DWORD rop);
// Blits from packed DIB memory described by `info` (BI_RGB or BI_BITFIELDS; compressed bodies
// are refused). (sx, sy) count from the image's top row, whichever order its rows are stored
// in. Returns the rows drawn, or 0 on failure.
int StretchDIBits(HDC dst, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);

// The colour table of the DIB section selected into `dc`.
UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors);
UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors);

// Drawing happens at once here; kept for the callers that flush before touching pixels.
BOOL GdiFlush();

COLORREF GetPixel(HDC dc, int x, int y);  // CLR_INVALID outside the clip rectangle
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);

// Describes the pixels of a packed DIB (BI_RGB or BI_BITFIELDS, 1 to 32 bits per pixel).
// False for a header it cannot take.
bool DescribeDIB(const BITMAPINFO* info, const void* bits, TPixelBuffer& out);
