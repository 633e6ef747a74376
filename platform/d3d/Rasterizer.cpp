#include "platform/d3d/Rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/ddraw/DDrawObjects.h"

namespace d3d {

namespace {

struct Vertex {
  double X = 0, Y = 0, Rhw = 1;
  DWORD Diffuse = 0xFFFFFFFFu;
  double U = 0, V = 0;
};

// A colour with each component in 0 .. 255.
struct Colour {
  int A = 255, R = 255, G = 255, B = 255;
};

Colour FromD3DColor(DWORD c) {
  return {static_cast<int>(c >> 24), static_cast<int>((c >> 16) & 0xFF),
          static_cast<int>((c >> 8) & 0xFF), static_cast<int>(c & 0xFF)};
}

int Mul255(int a, int b) { return (a * b + 127) / 255; }

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

DWORD ReadRaw(const std::uint8_t* row, int x, int bitCount) {
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

void WriteRaw(std::uint8_t* row, int x, int bitCount, DWORD value) {
  if (bitCount == 32) {
    std::memcpy(row + x * 4, &value, 4);
    return;
  }
  const int bytes = bitCount / 8;
  std::uint8_t* p = row + x * bytes;
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int Address(int i, int size, DWORD mode) {
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

// Reads the texture of stage 0: texels as colours, with the colour key.
class TextureReader {
 public:
  TextureReader(ddraw::Surface& texture, bool useKey, DWORD addressU, DWORD addressV)
      : Store(texture.Store()),
        Format(texture.Format()),
        Red(Format.RMask),
        Green(Format.GMask),
        Blue(Format.BMask),
        Alpha(Format.AMask),
        AddressU(addressU),
        AddressV(addressV) {
    if (Format.IsIndexed()) {
      Palette = texture.AttachedPalette() ? texture.AttachedPalette()->Entries() : nullptr;
      KeyMask = Format.ValueMask();
    } else {
      // The key compares colours; an alpha channel is not part of it.
      KeyMask = Format.RMask | Format.GMask | Format.BMask;
    }
    DDCOLORKEY key;
    Keyed = useKey && texture.SourceKey(key);
    if (Keyed) {
      KeyLow = key.dwColorSpaceLowValue & KeyMask;
      KeyHigh = std::max(key.dwColorSpaceHighValue & KeyMask, KeyLow);
    }
  }

  int Width() const { return Store.Width; }
  int Height() const { return Store.Height; }

  // The texel at (i, j) after addressing; false when it is keyed out.
  bool Texel(int i, int j, Colour& out) const {
    i = Address(i, Store.Width, AddressU);
    j = Address(j, Store.Height, AddressV);
    const DWORD raw = ReadRaw(Store.Row(j), i, Format.BitCount);
    if (Keyed) {
      const DWORD k = raw & KeyMask;
      if (k >= KeyLow && k <= KeyHigh) return false;
    }
    if (Format.IsIndexed()) {
      if (Palette) {
        const PALETTEENTRY& e = Palette[raw & 0xFF];
        out = {255, e.peRed, e.peGreen, e.peBlue};
      } else {
        out = {255, 0, 0, 0};
      }
      return true;
    }
    out = {Alpha.Bits ? Alpha.Decode(raw) : 255, Red.Decode(raw), Green.Decode(raw),
           Blue.Decode(raw)};
    return true;
  }

  // Nearest texel to (u, v); false when keyed out.
  bool Point(double u, double v, Colour& out) const {
    const int i = static_cast<int>(std::floor(u * Store.Width));
    const int j = static_cast<int>(std::floor(v * Store.Height));
    return Texel(i, j, out);
  }

  // The four texels around (u, v) weighted by nearness. Keyed texels take no part; the pixel is
  // keyed out when they would weigh half or more, so keyed edges stay sharp and unfringed.
  bool Bilinear(double u, double v, Colour& out) const {
    const double x = u * Store.Width - 0.5, y = v * Store.Height - 0.5;
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int i0 = static_cast<int>(fx0), j0 = static_cast<int>(fy0);
    const double fx = x - fx0, fy = y - fy0;
    const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    double a = 0, r = 0, g = 0, b = 0, total = 0;
    for (int k = 0; k < 4; ++k) {
      if (w[k] <= 0) continue;
      Colour c;
      if (!Texel(i0 + (k & 1), j0 + (k >> 1), c)) continue;
      a += w[k] * c.A, r += w[k] * c.R, g += w[k] * c.G, b += w[k] * c.B;
      total += w[k];
    }
    if (total < 0.5) return false;
    out = {static_cast<int>(a / total + 0.5), static_cast<int>(r / total + 0.5),
           static_cast<int>(g / total + 0.5), static_cast<int>(b / total + 0.5)};
    return true;
  }

 private:
  ddraw::PixelStore& Store;
  ddraw::PixelFormat Format;
  Channel Red, Green, Blue, Alpha;
  DWORD AddressU, AddressV;
  const PALETTEENTRY* Palette = nullptr;
  bool Keyed = false;
  DWORD KeyMask = 0, KeyLow = 0, KeyHigh = 0;
};

// One argument of a texture stage operation.
Colour Argument(DWORD arg, const Colour& diffuse, const Colour& texel) {
  Colour c = (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE ? texel : diffuse;
  if (arg & D3DTA_ALPHAREPLICATE) c.R = c.G = c.B = c.A;
  if (arg & D3DTA_COMPLEMENT) c = {255 - c.A, 255 - c.R, 255 - c.G, 255 - c.B};
  return c;
}

int Operate(DWORD op, int a1, int a2, int current) {
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

int BlendFactor(DWORD factor, int srcC, int srcA, int dstC, int dstA, bool forSource) {
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

class TriangleRasterizer {
 public:
  TriangleRasterizer(ddraw::Surface& target, const RasterStates& states,
                     const TextureReader* texture)
      : Target(target.Store()),
        Format(target.Format()),
        Red(Format.RMask),
        Green(Format.GMask),
        Blue(Format.BMask),
        Alpha(Format.AMask),
        WriteMask(Format.ValueMask()),
        Texture(texture) {
    const auto& rs = *states.Render;
    const auto& ts = *states.Stage0;
    Blend = rs[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
    SrcBlend = rs[D3DRENDERSTATE_SRCBLEND];
    DestBlend = rs[D3DRENDERSTATE_DESTBLEND];
    Cull = rs[D3DRENDERSTATE_CULLMODE];
    ColorOp = ts[D3DTSS_COLOROP];
    ColorArg1 = ts[D3DTSS_COLORARG1];
    ColorArg2 = ts[D3DTSS_COLORARG2];
    AlphaOp = ts[D3DTSS_ALPHAOP];
    AlphaArg1 = ts[D3DTSS_ALPHAARG1];
    AlphaArg2 = ts[D3DTSS_ALPHAARG2];
    MagLinear = ts[D3DTSS_MAGFILTER] == D3DTFG_LINEAR;
    MinLinear = ts[D3DTSS_MINFILTER] == D3DTFN_LINEAR;
  }

  void Draw(const Vertex& a, const Vertex& b, const Vertex& c) {
    for (const Vertex* v : {&a, &b, &c})
      if (!std::isfinite(v->X) || !std::isfinite(v->Y) || !std::isfinite(v->U) ||
          !std::isfinite(v->V) || !std::isfinite(v->Rhw))
        return;
    const double area = Edge(a, b, c.X, c.Y);
    if (area == 0) return;
    // Positive area winds clockwise on the screen (y grows downward).
    if ((Cull == D3DCULL_CW && area > 0) || (Cull == D3DCULL_CCW && area < 0)) return;
    const Vertex* v0 = &a;
    const Vertex* v1 = area > 0 ? &b : &c;
    const Vertex* v2 = area > 0 ? &c : &b;
    const double twiceArea = std::abs(area);
    const double inverseArea = 1 / twiceArea;

    const double minX = std::min({v0->X, v1->X, v2->X}), maxX = std::max({v0->X, v1->X, v2->X});
    const double minY = std::min({v0->Y, v1->Y, v2->Y}), maxY = std::max({v0->Y, v1->Y, v2->Y});
    const int x0 = static_cast<int>(std::max(0.0, std::ceil(minX)));
    const int y0 = static_cast<int>(std::max(0.0, std::ceil(minY)));
    const int x1 = static_cast<int>(std::min<double>(Target.Width - 1, std::floor(maxX)));
    const int y1 = static_cast<int>(std::min<double>(Target.Height - 1, std::floor(maxY)));
    if (x0 > x1 || y0 > y1) return;

    // Edges opposite each vertex, and whether each is a top or left edge (which owns the
    // pixels lying on it).
    const Vertex* edgeFrom[3] = {v1, v2, v0};
    const Vertex* edgeTo[3] = {v2, v0, v1};
    bool topLeft[3];
    for (int e = 0; e < 3; ++e) {
      const double dx = edgeTo[e]->X - edgeFrom[e]->X, dy = edgeTo[e]->Y - edgeFrom[e]->Y;
      topLeft[e] = (dy == 0 && dx > 0) || dy < 0;
    }

    // Texture scale decides between the magnifying and the minifying filter.
    bool linear = MagLinear;
    if (Texture) {
      const double du =
          std::abs((v1->U - v0->U) * (v2->V - v0->V) - (v2->U - v0->U) * (v1->V - v0->V));
      const double texels = du * Texture->Width() * Texture->Height();
      if (texels > twiceArea) linear = MinLinear;
    }
    const bool perspective = v0->Rhw != v1->Rhw || v0->Rhw != v2->Rhw;
    const bool flat = v0->Diffuse == v1->Diffuse && v0->Diffuse == v2->Diffuse;
    const Colour flatDiffuse = FromD3DColor(v0->Diffuse);
    const Colour d[3] = {FromD3DColor(v0->Diffuse), FromD3DColor(v1->Diffuse),
                         FromD3DColor(v2->Diffuse)};

    for (int y = y0; y <= y1; ++y) {
      std::uint8_t* row = Target.Row(y);
      for (int x = x0; x <= x1; ++x) {
        double w[3];
        bool inside = true;
        for (int e = 0; e < 3; ++e) {
          w[e] = Edge(*edgeFrom[e], *edgeTo[e], x, y);
          if (w[e] < 0 || (w[e] == 0 && !topLeft[e])) {
            inside = false;
            break;
          }
        }
        if (!inside) continue;
        const double l0 = w[0] * inverseArea, l1 = w[1] * inverseArea, l2 = w[2] * inverseArea;
        Colour diffuse = flatDiffuse;
        if (!flat) {
          diffuse.A = static_cast<int>(l0 * d[0].A + l1 * d[1].A + l2 * d[2].A + 0.5);
          diffuse.R = static_cast<int>(l0 * d[0].R + l1 * d[1].R + l2 * d[2].R + 0.5);
          diffuse.G = static_cast<int>(l0 * d[0].G + l1 * d[1].G + l2 * d[2].G + 0.5);
          diffuse.B = static_cast<int>(l0 * d[0].B + l1 * d[1].B + l2 * d[2].B + 0.5);
        }
        Colour texel;
        if (Texture) {
          double u, v;
          if (perspective) {
            const double q = l0 * v0->Rhw + l1 * v1->Rhw + l2 * v2->Rhw;
            if (q == 0) continue;
            u = (l0 * v0->U * v0->Rhw + l1 * v1->U * v1->Rhw + l2 * v2->U * v2->Rhw) / q;
            v = (l0 * v0->V * v0->Rhw + l1 * v1->V * v1->Rhw + l2 * v2->V * v2->Rhw) / q;
          } else {
            u = l0 * v0->U + l1 * v1->U + l2 * v2->U;
            v = l0 * v0->V + l1 * v1->V + l2 * v2->V;
          }
          if (!(linear ? Texture->Bilinear(u, v, texel) : Texture->Point(u, v, texel))) continue;
        }
        Shade(row, x, diffuse, texel);
      }
    }
  }

 private:
  // Twice the signed area of (a, b, p): positive when p lies to the right of a -> b on the
  // screen.
  static double Edge(const Vertex& a, const Vertex& b, double px, double py) {
    return (b.X - a.X) * (py - a.Y) - (b.Y - a.Y) * (px - a.X);
  }

  void Shade(std::uint8_t* row, int x, const Colour& diffuse, const Colour& texel) {
    Colour src;
    const Colour c1 = Argument(ColorArg1, diffuse, texel), c2 = Argument(ColorArg2, diffuse, texel);
    src.R = Operate(ColorOp, c1.R, c2.R, diffuse.R);
    src.G = Operate(ColorOp, c1.G, c2.G, diffuse.G);
    src.B = Operate(ColorOp, c1.B, c2.B, diffuse.B);
    src.A = Operate(AlphaOp, Argument(AlphaArg1, diffuse, texel).A,
                    Argument(AlphaArg2, diffuse, texel).A, diffuse.A);

    const DWORD old = ReadRaw(row, x, Format.BitCount);
    Colour out = src;
    if (Blend) {
      const Colour dst{Alpha.Bits ? Alpha.Decode(old) : 255, Red.Decode(old), Green.Decode(old),
                       Blue.Decode(old)};
      auto mix = [&](int s, int dc) {
        const int fs = BlendFactor(SrcBlend, s, src.A, dc, dst.A, true);
        const int fd = BlendFactor(DestBlend, s, src.A, dc, dst.A, false);
        return std::min(255, (s * fs + dc * fd + 127) / 255);
      };
      out.R = mix(src.R, dst.R);
      out.G = mix(src.G, dst.G);
      out.B = mix(src.B, dst.B);
      out.A = mix(src.A, dst.A);
    }
    const DWORD value =
        Red.Encode(out.R) | Green.Encode(out.G) | Blue.Encode(out.B) | Alpha.Encode(out.A);
    // Bits no channel carries (the spare byte of 32-bit pixels) are written as 0.
    WriteRaw(row, x, Format.BitCount, value & WriteMask);
  }

  ddraw::PixelStore& Target;
  ddraw::PixelFormat Format;
  Channel Red, Green, Blue, Alpha;
  DWORD WriteMask;
  const TextureReader* Texture;
  bool Blend = false;
  DWORD SrcBlend = 0, DestBlend = 0, Cull = 0;
  DWORD ColorOp = 0, ColorArg1 = 0, ColorArg2 = 0, AlphaOp = 0, AlphaArg1 = 0, AlphaArg2 = 0;
  bool MagLinear = false, MinLinear = false;
};

}  // namespace

HRESULT Rasterize(ddraw::Surface& Target, const RasterStates& States, D3DPRIMITIVETYPE Type,
                  DWORD VertexFormat, const void* Vertices, DWORD VertexCount) {
  if ((VertexFormat & D3DFVF_POSITION_MASK) != D3DFVF_XYZRHW) return DDERR_INVALIDPARAMS;
  if (Type != D3DPT_TRIANGLELIST && Type != D3DPT_TRIANGLESTRIP && Type != D3DPT_TRIANGLEFAN)
    return D3DERR_INVALIDPRIMITIVETYPE;
  if (!Vertices || VertexCount < 3) return DDERR_INVALIDPARAMS;
  const ddraw::PixelFormat& target = Target.Format();
  if (target.IsIndexed() || target.IsDepth() || target.BytesPerPixel() == 0)
    return DDERR_INVALIDPIXELFORMAT;

  // Where each part of a vertex lies.
  std::size_t offset = 16;  // x, y, z, rhw
  if (VertexFormat & D3DFVF_NORMAL) offset += 12;
  if (VertexFormat & D3DFVF_RESERVED1) offset += 4;
  const std::size_t diffuseAt = offset;
  if (VertexFormat & D3DFVF_DIFFUSE) offset += 4;
  if (VertexFormat & D3DFVF_SPECULAR) offset += 4;
  const std::size_t texAt = offset;
  const DWORD texSets = (VertexFormat & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  offset += 8 * texSets;
  const std::size_t stride = offset;

  std::vector<Vertex> vertices(VertexCount);
  const auto* bytes = static_cast<const std::uint8_t*>(Vertices);
  for (DWORD i = 0; i < VertexCount; ++i) {
    const std::uint8_t* p = bytes + i * stride;
    float xyzw[4];
    std::memcpy(xyzw, p, sizeof xyzw);
    Vertex& v = vertices[i];
    v.X = xyzw[0];
    v.Y = xyzw[1];
    v.Rhw = xyzw[3];
    if (VertexFormat & D3DFVF_DIFFUSE) std::memcpy(&v.Diffuse, p + diffuseAt, 4);
    if (texSets > 0) {
      float uv[2];
      std::memcpy(uv, p + texAt, sizeof uv);
      v.U = uv[0];
      v.V = uv[1];
    }
  }

  ddraw::Surface* texture = States.Texture;
  if (texture && texture->IsLostNow()) return DDERR_SURFACELOST;
  const auto& rs = *States.Render;
  const auto& ts = *States.Stage0;
  std::unique_ptr<TextureReader> reader;
  if (texture && texSets > 0 && texture->Width() > 0 && texture->Height() > 0 &&
      !texture->Format().IsDepth())
    reader = std::make_unique<TextureReader>(*texture, rs[D3DRENDERSTATE_COLORKEYENABLE] != 0,
                                             ts[D3DTSS_ADDRESSU], ts[D3DTSS_ADDRESSV]);
  TriangleRasterizer raster(Target, States, reader.get());

  const DWORD n = VertexCount;
  switch (Type) {
    case D3DPT_TRIANGLELIST:
      for (DWORD i = 0; i + 2 < n; i += 3)
        raster.Draw(vertices[i], vertices[i + 1], vertices[i + 2]);
      break;
    case D3DPT_TRIANGLESTRIP:
      // Every second triangle of a strip is turned round so that all wind the same way.
      for (DWORD i = 0; i + 2 < n; ++i) {
        if (i % 2 == 0)
          raster.Draw(vertices[i], vertices[i + 1], vertices[i + 2]);
        else
          raster.Draw(vertices[i + 1], vertices[i], vertices[i + 2]);
      }
      break;
    case D3DPT_TRIANGLEFAN:
      for (DWORD i = 1; i + 1 < n; ++i) raster.Draw(vertices[0], vertices[i], vertices[i + 1]);
      break;
    default:
      break;
  }
  return D3D_OK;
}

}  // namespace d3d
