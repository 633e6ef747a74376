// What both ways of drawing a triangle share: decoded vertices, colours and channel coding, the
// texture stage and blend arithmetic, and the set-up of one triangle (winding, culling, its
// pixel bounds, the owning edges and the filter it takes). Whatever decides a pixel's bits is
// written once here, so that the span drawer and the per-pixel drawer cannot drift apart.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDrawObjects.h"

namespace d3d::raster {

struct Vertex {
  double X = 0, Y = 0, Rhw = 1;
  DWORD Diffuse = 0xFFFFFFFFu;
  double U = 0, V = 0;
};

// A colour with each component in 0 .. 255.
struct Colour {
  int A = 255, R = 255, G = 255, B = 255;
};

inline Colour FromD3DColor(DWORD c) {
  return {static_cast<int>(c >> 24), static_cast<int>((c >> 16) & 0xFF),
          static_cast<int>((c >> 8) & 0xFF), static_cast<int>(c & 0xFF)};
}

inline int Mul255(int a, int b) { return (a * b + 127) / 255; }

// One channel of a pixel format, widened to 8 bits by repeating its bits.
struct Channel {
  DWORD Mask = 0;
  int Shift = 0;
  int Bits = 0;

  explicit Channel(DWORD mask = 0) : Mask(mask) {
    if (!mask) return;
    while (!((mask >> Shift) & 1u)) ++Shift;
    while (Shift + Bits < 32 && ((mask >> (Shift + Bits)) & 1u)) ++Bits;
  }
  int Decode(DWORD pixel) const {
    if (Bits == 0) return 0;
    DWORD v = (pixel & Mask) >> Shift;
    if (Bits >= 8) return static_cast<int>(v >> (Bits - 8));
    DWORD r = v << (8 - Bits);
    for (int filled = Bits; filled < 8; filled += Bits) r |= r >> Bits;
    return static_cast<int>(r & 0xFF);
  }
  DWORD Encode(int value) const {
    if (Bits == 0) return 0;
    const DWORD v = static_cast<DWORD>(value);
    const DWORD field = Bits >= 8 ? v << (Bits - 8) : v >> (8 - Bits);
    return (field << Shift) & Mask;
  }
};

// A texture's palette and colour key as both texel readers see them: the key compares colours
// (an indexed texture's index), never an alpha channel, over the range from low to high.
struct TextureKey {
  const PALETTEENTRY* Palette = nullptr;
  bool Keyed = false;
  DWORD Mask = 0, Low = 0, High = 0;

  TextureKey(ddraw::Surface& texture, bool useKey) {
    const ddraw::PixelFormat& f = texture.Format();
    if (f.IsIndexed()) {
      Palette = texture.AttachedPalette() ? texture.AttachedPalette()->Entries() : nullptr;
      Mask = f.ValueMask();
    } else {
      Mask = f.RMask | f.GMask | f.BMask;
    }
    DDCOLORKEY key;
    Keyed = useKey && texture.SourceKey(key);
    if (Keyed) {
      Low = key.dwColorSpaceLowValue & Mask;
      High = std::max(key.dwColorSpaceHighValue & Mask, Low);
    }
  }
  bool Hides(DWORD raw) const {
    const DWORD k = raw & Mask;
    return k >= Low && k <= High;
  }
};

inline DWORD ReadRaw(const std::uint8_t* row, int x, int bitCount) {
  switch (bitCount) {
    case 1:
    case 2:
    case 4: {
      // Texels of less than a byte go least significant bits first.
      const int perByte = 8 / bitCount;
      return (row[x / perByte] >> ((x % perByte) * bitCount)) & ((1u << bitCount) - 1);
    }
    case 8:
      return row[x];
    case 16:
      return static_cast<DWORD>(row[x * 2] | (row[x * 2 + 1] << 8));
    case 24: {
      const std::uint8_t* p = row + x * 3;
      return static_cast<DWORD>(p[0] | (p[1] << 8) | (p[2] << 16));
    }
    case 32: {
      std::uint32_t v;
      std::memcpy(&v, row + x * 4, 4);  // pixels are little-endian, as is the machine
      return v;
    }
    default:
      return 0;
  }
}

inline void WriteRaw(std::uint8_t* row, int x, int bitCount, DWORD value) {
  if (bitCount == 32) {
    std::memcpy(row + x * 4, &value, 4);
    return;
  }
  const int bytes = bitCount / 8;
  std::uint8_t* p = row + x * bytes;
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline int Address(int i, int size, DWORD mode) {
  if (i >= 0 && i < size) return i;
  switch (mode) {
    case D3DTADDRESS_CLAMP:
      return std::clamp(i, 0, size - 1);
    case D3DTADDRESS_MIRROR: {
      const int period = 2 * size;
      int m = i % period;
      if (m < 0) m += period;
      return m < size ? m : period - 1 - m;
    }
    default: {
      int m = i % size;
      return m < 0 ? m + size : m;
    }
  }
}

// The index of the texel under a coordinate already rounded down to whole texels, for a texture
// of Size texels addressed by Mode (Address then takes it into the texture). Indices of a sane
// size pass as they are; one beyond the range of int (a perspective divide by almost nothing, or
// a huge thin triangle whose edge values lost their precision) is brought near the texture in
// double first, keeping the texel it stands for: a clamped index to just beside the texture, a
// repeated or mirrored one by whole periods of the pattern. Not a number takes texel 0.
inline int TexelIndex(double whole, int size, DWORD mode) {
  constexpr double kSane = 1 << 30;
  if (whole > -kSane && whole < kSane) return static_cast<int>(whole);
  if (std::isnan(whole)) return 0;
  if (mode == D3DTADDRESS_CLAMP) return whole < 0 ? -1 : size;
  if (std::isinf(whole)) return 0;
  return static_cast<int>(std::fmod(whole, 2.0 * size));
}

// A colour channel interpolated across a triangle, rounded half up and held to 0 .. 255 while
// still a double: the edge values of a huge, thin triangle can lose enough precision to carry
// the weights far outside 0 .. 1.
inline int RoundChannel(double value) {
  const double r = value + 0.5;
  return r > 0 ? static_cast<int>(std::min(r, 255.0)) : 0;
}

// One argument of a texture stage operation.
inline Colour Argument(DWORD arg, const Colour& diffuse, const Colour& texel) {
  Colour c = (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE ? texel : diffuse;
  if (arg & D3DTA_ALPHAREPLICATE) c.R = c.G = c.B = c.A;
  if (arg & D3DTA_COMPLEMENT) c = {255 - c.A, 255 - c.R, 255 - c.G, 255 - c.B};
  return c;
}

inline int Operate(DWORD op, int a1, int a2, int current) {
  switch (op) {
    case D3DTOP_DISABLE:
      return current;
    case D3DTOP_SELECTARG1:
      return a1;
    case D3DTOP_SELECTARG2:
      return a2;
    case D3DTOP_MODULATE2X:
      return std::min(255, 2 * Mul255(a1, a2));
    case D3DTOP_MODULATE4X:
      return std::min(255, 4 * Mul255(a1, a2));
    case D3DTOP_ADD:
      return std::min(255, a1 + a2);
    case D3DTOP_MODULATE:
    default:
      return Mul255(a1, a2);
  }
}

inline int BlendFactor(DWORD factor, int srcC, int srcA, int dstC, int dstA, bool forSource) {
  switch (factor) {
    case D3DBLEND_ZERO:
      return 0;
    case D3DBLEND_ONE:
      return 255;
    case D3DBLEND_SRCCOLOR:
      return srcC;
    case D3DBLEND_INVSRCCOLOR:
      return 255 - srcC;
    case D3DBLEND_SRCALPHA:
      return srcA;
    case D3DBLEND_INVSRCALPHA:
      return 255 - srcA;
    case D3DBLEND_DESTALPHA:
      return dstA;
    case D3DBLEND_INVDESTALPHA:
      return 255 - dstA;
    case D3DBLEND_DESTCOLOR:
      return dstC;
    case D3DBLEND_INVDESTCOLOR:
      return 255 - dstC;
    case D3DBLEND_SRCALPHASAT:
      return std::min(srcA, 255 - dstA);
    default:
      // A factor never set reads as the device's defaults: the source whole, nothing kept.
      return forSource ? 255 : 0;
  }
}

// The states of stage 0 that turn a texel and the vertex colour into the source colour.
struct StageOps {
  DWORD ColorOp = 0, ColorArg1 = 0, ColorArg2 = 0, AlphaOp = 0, AlphaArg1 = 0, AlphaArg2 = 0;
};

inline Colour StageOutput(const StageOps& s, const Colour& diffuse, const Colour& texel) {
  Colour src;
  const Colour c1 = Argument(s.ColorArg1, diffuse, texel),
               c2 = Argument(s.ColorArg2, diffuse, texel);
  src.R = Operate(s.ColorOp, c1.R, c2.R, diffuse.R);
  src.G = Operate(s.ColorOp, c1.G, c2.G, diffuse.G);
  src.B = Operate(s.ColorOp, c1.B, c2.B, diffuse.B);
  src.A = Operate(s.AlphaOp, Argument(s.AlphaArg1, diffuse, texel).A,
                  Argument(s.AlphaArg2, diffuse, texel).A, diffuse.A);
  return src;
}

// Twice the signed area of (a, b, p): positive when p lies to the right of a -> b on the
// screen.
inline double Edge(const Vertex& a, const Vertex& b, double px, double py) {
  return (b.X - a.X) * (py - a.Y) - (b.Y - a.Y) * (px - a.X);
}

// One triangle ready to draw: its vertices in clockwise order, the edge opposite each vertex
// and whether that edge owns the pixels on it (top and left edges do), and the pixels of the
// target its bounding box covers.
struct Triangle {
  const Vertex* V[3] = {};
  const Vertex* EdgeFrom[3] = {};
  const Vertex* EdgeTo[3] = {};
  bool TopLeft[3] = {};
  double TwiceArea = 0, InverseArea = 0;
  int X0 = 0, Y0 = 0, X1 = -1, Y1 = -1;
  bool Linear = false;  // the filter this triangle's texture scale asks for
};

// False when the triangle draws nothing: a vertex not finite, no area, culled, or wholly off
// the target. TexW and TexH are 0 without a texture.
inline bool SetUpTriangle(const Vertex& a, const Vertex& b, const Vertex& c, DWORD cull,
                          int targetW, int targetH, int texW, int texH, bool magLinear,
                          bool minLinear, Triangle& t) {
  for (const Vertex* v : {&a, &b, &c})
    if (!std::isfinite(v->X) || !std::isfinite(v->Y) || !std::isfinite(v->U) ||
        !std::isfinite(v->V) || !std::isfinite(v->Rhw))
      return false;
  const double area = Edge(a, b, c.X, c.Y);
  if (area == 0 || !std::isfinite(area)) return false;
  // Positive area winds clockwise on the screen (y grows downward).
  if ((cull == D3DCULL_CW && area > 0) || (cull == D3DCULL_CCW && area < 0)) return false;
  const Vertex* v0 = &a;
  const Vertex* v1 = area > 0 ? &b : &c;
  const Vertex* v2 = area > 0 ? &c : &b;
  t.V[0] = v0, t.V[1] = v1, t.V[2] = v2;
  t.TwiceArea = std::abs(area);
  t.InverseArea = 1 / t.TwiceArea;

  const double minX = std::min({v0->X, v1->X, v2->X}), maxX = std::max({v0->X, v1->X, v2->X});
  const double minY = std::min({v0->Y, v1->Y, v2->Y}), maxY = std::max({v0->Y, v1->Y, v2->Y});
  // Cut to the target while still in double: a vertex far off the target has no int of its own,
  // and a box that lies wholly beside the target must end here, not in a walk over its rows.
  const double x0 = std::max(0.0, std::ceil(minX)), y0 = std::max(0.0, std::ceil(minY));
  const double x1 = std::min<double>(targetW - 1, std::floor(maxX));
  const double y1 = std::min<double>(targetH - 1, std::floor(maxY));
  if (!(x0 <= x1 && y0 <= y1)) return false;
  t.X0 = static_cast<int>(x0), t.Y0 = static_cast<int>(y0);
  t.X1 = static_cast<int>(x1), t.Y1 = static_cast<int>(y1);

  const Vertex* from[3] = {v1, v2, v0};
  const Vertex* to[3] = {v2, v0, v1};
  for (int e = 0; e < 3; ++e) {
    t.EdgeFrom[e] = from[e], t.EdgeTo[e] = to[e];
    const double dx = to[e]->X - from[e]->X, dy = to[e]->Y - from[e]->Y;
    t.TopLeft[e] = (dy == 0 && dx > 0) || dy < 0;
  }

  // Texture scale decides between the magnifying and the minifying filter.
  t.Linear = magLinear;
  if (texW > 0) {
    const double du =
        std::abs((v1->U - v0->U) * (v2->V - v0->V) - (v2->U - v0->U) * (v1->V - v0->V));
    const double texels = du * texW * texH;
    if (texels > t.TwiceArea) t.Linear = minLinear;
  }
  return true;
}

// Whether pixel (x, y) belongs to the triangle, with the edge values there.
inline bool Inside(const Triangle& t, int x, int y, double w[3]) {
  for (int e = 0; e < 3; ++e) {
    w[e] = Edge(*t.EdgeFrom[e], *t.EdgeTo[e], x, y);
    if (w[e] < 0 || (w[e] == 0 && !t.TopLeft[e])) return false;
  }
  return true;
}

// Texture coordinates at a pixel of a triangle drawn without perspective, from its edge values.
inline void AffineTexCoords(const Triangle& t, const double w[3], double& u, double& v) {
  const double l0 = w[0] * t.InverseArea, l1 = w[1] * t.InverseArea, l2 = w[2] * t.InverseArea;
  u = l0 * t.V[0]->U + l1 * t.V[1]->U + l2 * t.V[2]->U;
  v = l0 * t.V[0]->V + l1 * t.V[1]->V + l2 * t.V[2]->V;
}

// Calls Draw(a, b, c) for each triangle of a list, strip or fan, in drawing order. Every
// second triangle of a strip is turned round so that all wind the same way.
template <class Fn>
void ForEachTriangle(D3DPRIMITIVETYPE type, const Vertex* v, DWORD n, Fn&& Draw) {
  switch (type) {
    case D3DPT_TRIANGLELIST:
      for (DWORD i = 0; i + 2 < n; i += 3) Draw(v[i], v[i + 1], v[i + 2]);
      break;
    case D3DPT_TRIANGLESTRIP:
      for (DWORD i = 0; i + 2 < n; ++i) {
        if (i % 2 == 0)
          Draw(v[i], v[i + 1], v[i + 2]);
        else
          Draw(v[i + 1], v[i], v[i + 2]);
      }
      break;
    case D3DPT_TRIANGLEFAN:
      for (DWORD i = 1; i + 1 < n; ++i) Draw(v[0], v[i], v[i + 1]);
      break;
    default:
      break;
  }
}

}  // namespace d3d::raster
