#include "platform/d3d/RasterReference.h"

#include <memory>

#include "platform/ddraw/DDrawObjects.h"

namespace d3d::raster {

namespace {

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
        AddressV(addressV),
        Key(texture, useKey) {}

  int Width() const { return Store.Width; }
  int Height() const { return Store.Height; }

  // The texel at (i, j) after addressing; false when it is keyed out.
  bool Texel(int i, int j, Colour& out) const {
    i = Address(i, Store.Width, AddressU);
    j = Address(j, Store.Height, AddressV);
    const DWORD raw = ReadRaw(Store.Row(j), i, Format.BitCount);
    if (Key.Keyed) {
      if (Key.Hides(raw)) return false;
    }
    if (Format.IsIndexed()) {
      if (Key.Palette) {
        const PALETTEENTRY& e = Key.Palette[raw & 0xFF];
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
    const int i = TexelIndex(std::floor(u * Store.Width), Store.Width, AddressU);
    const int j = TexelIndex(std::floor(v * Store.Height), Store.Height, AddressV);
    return Texel(i, j, out);
  }

  // The four texels around (u, v) weighted by nearness. Keyed texels take no part; the pixel is
  // keyed out when they would weigh half or more, so keyed edges stay sharp and unfringed.
  bool Bilinear(double u, double v, Colour& out) const {
    const double x = u * Store.Width - 0.5, y = v * Store.Height - 0.5;
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int i0 = TexelIndex(fx0, Store.Width, AddressU),
              j0 = TexelIndex(fy0, Store.Height, AddressV);
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
  TextureKey Key;
};

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
    Ops = {ts[D3DTSS_COLOROP], ts[D3DTSS_COLORARG1], ts[D3DTSS_COLORARG2],
           ts[D3DTSS_ALPHAOP], ts[D3DTSS_ALPHAARG1], ts[D3DTSS_ALPHAARG2]};
    MagLinear = ts[D3DTSS_MAGFILTER] == D3DTFG_LINEAR;
    MinLinear = ts[D3DTSS_MINFILTER] == D3DTFN_LINEAR;
  }

  void Draw(const Vertex& a, const Vertex& b, const Vertex& c) {
    Triangle t;
    if (!SetUpTriangle(a, b, c, Cull, Target.Width, Target.Height, Texture ? Texture->Width() : 0,
                       Texture ? Texture->Height() : 0, MagLinear, MinLinear, t))
      return;
    const Vertex *v0 = t.V[0], *v1 = t.V[1], *v2 = t.V[2];
    const bool perspective = v0->Rhw != v1->Rhw || v0->Rhw != v2->Rhw;
    const bool flat = v0->Diffuse == v1->Diffuse && v0->Diffuse == v2->Diffuse;
    const Colour flatDiffuse = FromD3DColor(v0->Diffuse);
    const Colour d[3] = {FromD3DColor(v0->Diffuse), FromD3DColor(v1->Diffuse),
                         FromD3DColor(v2->Diffuse)};

    for (int y = t.Y0; y <= t.Y1; ++y) {
      std::uint8_t* row = Target.Row(y);
      for (int x = t.X0; x <= t.X1; ++x) {
        double w[3];
        if (!Inside(t, x, y, w)) continue;
        const double l0 = w[0] * t.InverseArea, l1 = w[1] * t.InverseArea,
                     l2 = w[2] * t.InverseArea;
        Colour diffuse = flatDiffuse;
        if (!flat) {
          diffuse.A = RoundChannel(l0 * d[0].A + l1 * d[1].A + l2 * d[2].A);
          diffuse.R = RoundChannel(l0 * d[0].R + l1 * d[1].R + l2 * d[2].R);
          diffuse.G = RoundChannel(l0 * d[0].G + l1 * d[1].G + l2 * d[2].G);
          diffuse.B = RoundChannel(l0 * d[0].B + l1 * d[1].B + l2 * d[2].B);
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
            AffineTexCoords(t, w, u, v);
          }
          if (!(t.Linear ? Texture->Bilinear(u, v, texel) : Texture->Point(u, v, texel))) continue;
        }
        Shade(row, x, diffuse, texel);
      }
    }
  }

 private:
  void Shade(std::uint8_t* row, int x, const Colour& diffuse, const Colour& texel) {
    const Colour src = StageOutput(Ops, diffuse, texel);
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
  StageOps Ops;
  bool MagLinear = false, MinLinear = false;
};

}  // namespace

void DrawPerPixel(ddraw::Surface& Target, const RasterStates& States, D3DPRIMITIVETYPE Type,
                  const Vertex* Vertices, DWORD Count, ddraw::Surface* Texture) {
  const auto& rs = *States.Render;
  const auto& ts = *States.Stage0;
  std::unique_ptr<TextureReader> reader;
  if (Texture)
    reader = std::make_unique<TextureReader>(*Texture, rs[D3DRENDERSTATE_COLORKEYENABLE] != 0,
                                             ts[D3DTSS_ADDRESSU], ts[D3DTSS_ADDRESSV]);
  TriangleRasterizer raster(Target, States, reader.get());
  ForEachTriangle(Type, Vertices, Count,
                  [&](const Vertex& a, const Vertex& b, const Vertex& c) { raster.Draw(a, b, c); });
}

}  // namespace d3d::raster
