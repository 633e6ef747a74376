// Pixel memory as GDI draws on it: any of the formats the surfaces and bitmaps use (1, 4 and 8
// bits through a colour table, 16 bits 5-6-5 or 5-5-5, 24 bits, 32 bits), described apart from
// whoever owns the memory. Every TColor reaches a pixel through ColorToPixel, so a colour drawn
// by the canvas, blitted from a bitmap or matched for a colour key lands on the same value.
#pragma once

#include <cstddef>

#include "platform/gdi/Colors.h"
#include "platform/win/WinTypes.h"

// The depths a pixel (and a device-independent bitmap) may have.
inline bool IsPixelBitCount(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

struct TPixelBuffer {
  BYTE* Bits = nullptr;  // first byte of the top row
  int Pitch = 0;         // bytes from a row to the row below; negative for bottom-up memory
  int Width = 0;
  int Height = 0;
  int BitCount = 0;  // 1, 4, 8, 16, 24 or 32
  // Channel masks of 16- and 32-bit pixels; all zero means the default layout (5-5-5 for 16
  // bits, 8-8-8 otherwise). 24-bit pixels are always blue, green, red in memory.
  DWORD RMask = 0;
  DWORD GMask = 0;
  DWORD BMask = 0;
  // Colours of 1-, 4- and 8-bit pixels; indexes past ColorCount read as black.
  RGBQUAD ColorTable[256] = {};
  int ColorCount = 0;

  bool Indexed() const { return BitCount <= 8; }
  BYTE* Row(int y) const { return Bits + static_cast<std::ptrdiff_t>(y) * Pitch; }
  TRect Bounds() const { return {0, 0, Width, Height}; }
  // Has memory and a format the pixel code can draw on.
  bool Usable() const;
};

// Bits of one pixel that carry colour (indexes, or the three channel masks).
DWORD PixelMask(const TPixelBuffer& fmt);

// TColor (system colours resolved) to the raw pixel of the format: channels are truncated to
// their widths (clRed is $F800 at 5-6-5); indexed formats take the nearest colour-table entry
// (the first of equally near ones).
DWORD ColorToPixel(TColor color, const TPixelBuffer& fmt);
// Raw pixel to $00BBGGRR; channels narrower than 8 bits are widened by repeating their bits,
// so ColorToPixel(PixelToColor(p)) == p for every pixel of a direct format.
TColor PixelToColor(DWORD pixel, const TPixelBuffer& fmt);

// Raw access, no clipping: the caller keeps 0 <= x < Width, 0 <= y < Height.
DWORD ReadPixel(const TPixelBuffer& buf, int x, int y);
void WritePixel(const TPixelBuffer& buf, int x, int y, DWORD pixel);

TRect IntersectRects(const TRect& a, const TRect& b);
inline bool RectIsEmpty(const TRect& r) { return r.Left >= r.Right || r.Top >= r.Bottom; }

// Fills the part of `rect` inside `clip` (and the buffer) with a raw pixel.
void FillPixels(const TPixelBuffer& buf, const TRect& clip, const TRect& rect, DWORD pixel);
// Blends `color` over one pixel with coverage 0..255 (text edges); outside `clip` nothing.
void BlendPixel(const TPixelBuffer& buf, const TRect& clip, int x, int y, TColor color, int alpha);

// Raster operations of the blits (source S, destination D).
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;     // S or D
constexpr DWORD SRCAND = 0x008800C6;       // S and D
constexpr DWORD SRCINVERT = 0x00660046;    // S xor D
constexpr DWORD SRCERASE = 0x00440328;     // S and not D
constexpr DWORD NOTSRCCOPY = 0x00330008;   // not S
constexpr DWORD NOTSRCERASE = 0x001100A6;  // not (S or D)
constexpr DWORD MERGEPAINT = 0x00BB0226;   // not S or D
constexpr DWORD DSTINVERT = 0x00550009;    // not D
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// Copies the source rectangle (sx, sy, sw, sh) onto the destination rectangle (dx, dy, dw, dh)
// with nearest-pixel scaling; widths or heights of opposite sign mirror. Source pixels are
// converted to the destination format through their colour, then combined by `rop` on the raw
// destination values. Only what lies inside `clip`, the destination and the source is touched.
// False for an operation it does not know.
bool StretchPixels(const TPixelBuffer& dst, const TRect& clip, int dx, int dy, int dw, int dh,
                   const TPixelBuffer& src, int sx, int sy, int sw, int sh, DWORD rop);
