// The part of a texture that one drawing samples, made ready once for the drawing: texel
// (i, j), whatever the texture's addressing makes of it, as one A8R8G8B8 word, with a flag for
// the texels the colour key takes out. A border of two texels round the sampled coordinates
// holds the bilinear filter's neighbours and any rounding of the coordinates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3d/D3D.h"

namespace ddraw {
class Surface;
}

namespace d3d::raster {

struct Texels {
  std::vector<std::uint32_t> Words;  // A8R8G8B8
  std::vector<std::uint8_t> Keyed;   // 1 for a texel the key takes out, when HasKey
  bool HasKey = false;
  int I0 = 0, J0 = 0, Width = 0, Height = 0;
  int TexW = 0, TexH = 0;

  std::ptrdiff_t Index(int i, int j) const {
    return static_cast<std::ptrdiff_t>(j - J0) * Width + (i - I0);
  }
  bool Holds(int i, int j) const { return i >= I0 && j >= J0 && i < I0 + Width && j < J0 + Height; }
};

// Fills Out with texels I0 .. I1 by J0 .. J1 of Texture; false when that region is too large to
// copy for one drawing. The buffers only grow, so that a Texels kept between drawings reuses
// its memory.
bool PrepareTexels(ddraw::Surface& Texture, bool UseKey, DWORD AddressU, DWORD AddressV, int I0,
                   int I1, int J0, int J1, Texels& Out);

inline std::uint32_t Pack(int a, int r, int g, int b) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(r) << 16 |
         static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b);
}

}  // namespace d3d::raster
