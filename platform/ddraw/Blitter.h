// The pixel work of the DirectDraw stand-in: fills and blits on raw surface memory of whole-byte
// pixels (1 to 4 bytes), with source and destination colour keys, mirroring and nearest-pixel
// stretching. Rectangles here are already checked against the memory they name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win/WinTypes.h"

namespace ddraw {

struct PixelView {
  std::uint8_t* Bits = nullptr;  // top row
  std::ptrdiff_t Pitch = 0;
  int Width = 0;
  int Height = 0;
  int Bytes = 4;     // bytes per pixel, 1 to 4
  DWORD Mask = ~0u;  // the bits a pixel carries; written pixels keep only these

  std::uint8_t* At(int x, int y) const { return Bits + y * Pitch + x * Bytes; }
};

// A colour key: pixels whose value (within the carried bits) lies in Low..High match.
struct KeyRange {
  bool Active = false;
  DWORD Low = 0;
  DWORD High = 0;
};

// Fills `r` (inside dst) with `value` (cut to the carried bits).
void FillPixels(const PixelView& dst, const TRect& r, DWORD value);

struct BlitJob {
  PixelView Dst;
  PixelView Src;
  // The destination pixels to write: a part of DestRect, inside Dst.
  TRect Area;
  // The whole requested rectangles; the scale comes from these, not from what is clipped.
  TRect DestRect;
  TRect SrcRect;
  // SrcRect is given in the coordinates of the source mirrored left-right and/or up-down.
  bool MirrorX = false;
  bool MirrorY = false;
  KeyRange SrcKey;  // source pixels that match are not copied
  KeyRange DstKey;  // only destination pixels that match are written
  // Source and destination share memory: the source is read before anything is written.
  bool SameMemory = false;
};

void BlitPixels(const BlitJob& job);

}  // namespace ddraw
