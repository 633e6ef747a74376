// Pixel formats of the DirectDraw stand-in's surfaces, apart from the interfaces.
#pragma once

#include "platform/ddraw/DDraw.h"

namespace ddraw {

struct PixelFormat {
  DWORD Flags = 0;  // DDPF_*
  int BitCount = 0;
  DWORD RMask = 0, GMask = 0, BMask = 0, AMask = 0;  // colour channels, or the depth mask

  // 32-bit 8-8-8, 24-bit, 16-bit 5-6-5 (5-5-5 with rgb555) or 8-bit indexed.
  static PixelFormat Rgb(int bitCount, bool rgb555 = false);
  static PixelFormat Indexed(int bitCount);  // 1, 2, 4 or 8
  static PixelFormat Depth(int bitCount);    // 16, 24 or 32
  // A format a surface can be made with, or false.
  static bool FromDD(const DDPIXELFORMAT& pf, PixelFormat& out);
  void ToDD(DDPIXELFORMAT& pf) const;

  int IndexBits() const;  // 1, 2, 4 or 8 for indexed formats, else 0
  bool IsIndexed() const { return IndexBits() != 0; }
  bool IsDepth() const { return (Flags & DDPF_ZBUFFER) != 0; }
  // Whole bytes per pixel; 0 for formats of fewer than 8 bits.
  int BytesPerPixel() const { return BitCount >= 8 ? BitCount / 8 : 0; }
  // The bits a pixel carries; writers clear every other bit (the spare byte of 32-bit RGB).
  DWORD ValueMask() const;

  friend bool operator==(const PixelFormat&, const PixelFormat&) = default;
};

// A pixel of `fmt` as 0x00RRGGBB; indexed pixels look up `palette` (256 entries, or null for
// black).
std::uint32_t PixelToRgb(DWORD pixel, const PixelFormat& fmt, const PALETTEENTRY* palette);

}  // namespace ddraw
