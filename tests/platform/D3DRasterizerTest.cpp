// The software device's triangles, pixel by pixel: coverage and shared edges, texturing with
// point and bilinear filters, colour keys, the blend factors, 16-bit targets, and vertices the
// rasteriser must survive.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDraw.h"
#include "platform/win/ComPtr.h"
#include "support/SoftwareD3DTest.h"

namespace {

using d3dtest::kFvf;
using d3dtest::RgbFormat;
using d3dtest::Surf7;

class D3DRasterizerTest : public d3dtest::DirectDraw7Test {
 protected:
  void SetUp() override {
    d3d::ResetMachine();
    DirectDraw7Test::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(DD7.As(IID_IDirect3D7, D3D7), S_OK);
  }
  void TearDown() override {
    Dev.Reset();
    Target.Reset();
    D3D7.Reset();
    DirectDraw7Test::TearDown();
    EXPECT_EQ(d3d::LiveDeviceCount(), 0);
    d3d::ResetMachine();
  }

  // A target of 16 x 16 pixels filled with Fill, and a device drawing into it.
  void MakeTarget(const DDPIXELFORMAT& format, DWORD fill = 0) {
    Target = MakeSurface(16, 16, format, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) Put(Target.Get(), x, y, fill);
    IDirect3DDevice7* dev = nullptr;
    ASSERT_EQ(D3D7->CreateDevice(IID_IDirect3DRGBDevice, Target.Get(), &dev), D3D_OK);
    Dev = ComPtr<IDirect3DDevice7>::Attach(dev);
  }
  void MakeTarget32(DWORD fill = 0) { MakeTarget(RgbFormat(32, 0xFF0000, 0xFF00, 0xFF), fill); }
  // A 32-bit texture (with an 8-bit alpha channel when asked) holding Texels row by row.
  Surf7 Texture(int w, int h, const std::vector<DWORD>& texels, bool alpha = false) {
    Surf7 t = MakeSurface(w, h, RgbFormat(32, 0xFF0000, 0xFF00, 0xFF, alpha ? 0xFF000000u : 0),
                          DDSCAPS_TEXTURE);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Put(t.Get(), x, y, texels[static_cast<std::size_t>(y * w + x)]);
    return t;
  }

  static void Put(IDirectDrawSurface7* s, int x, int y, DWORD value) {
    DDSURFACEDESC2 d;
    d.dwSize = kDDSurfaceDesc2Size;
    ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    auto* row = static_cast<BYTE*>(d.lpSurface) + y * d.lPitch;
    const int bytes = static_cast<int>(d.ddpfPixelFormat.dwRGBBitCount) / 8;
    for (int i = 0; i < bytes; ++i) row[x * bytes + i] = static_cast<BYTE>(value >> (8 * i));
    s->Unlock(nullptr);
  }
  static DWORD Get(IDirectDrawSurface7* s, int x, int y) {
    DDSURFACEDESC2 d;
    d.dwSize = kDDSurfaceDesc2Size;
    EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    const auto* row = static_cast<const BYTE*>(d.lpSurface) + y * d.lPitch;
    const int bytes = static_cast<int>(d.ddpfPixelFormat.dwRGBBitCount) / 8;
    DWORD v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<DWORD>(row[x * bytes + i]) << (8 * i);
    s->Unlock(nullptr);
    return v;
  }
  DWORD Pixel(int x, int y) { return Get(Target.Get(), x, y); }

  // The quad covering pixels [l, r) x [t, b) with the texture's whole face on it.
  static std::vector<D3DTLVERTEX> Quad(double l, double t, double r, double b, DWORD colour,
                                       double u1 = 1, double v1 = 1) {
    std::vector<D3DTLVERTEX> v(4);
    const float xs[4] = {static_cast<float>(l - 0.5), static_cast<float>(r - 0.5),
                         static_cast<float>(l - 0.5), static_cast<float>(r - 0.5)};
    const float ys[4] = {static_cast<float>(t - 0.5), static_cast<float>(t - 0.5),
                         static_cast<float>(b - 0.5), static_cast<float>(b - 0.5)};
    for (int i = 0; i < 4; ++i) {
      v[i].sx = xs[i], v[i].sy = ys[i], v[i].rhw = 1, v[i].color = colour;
      v[i].tu = (i & 1) ? static_cast<float>(u1) : 0;
      v[i].tv = (i & 2) ? static_cast<float>(v1) : 0;
    }
    return v;
  }
  HRESULT Strip(std::vector<D3DTLVERTEX> v) {
    return Dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, kFvf, v.data(), static_cast<DWORD>(v.size()),
                              D3DDP_WAIT);
  }
  void States(bool blend, DWORD src, DWORD dst) {
    Dev->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, blend);
    Dev->SetRenderState(D3DRENDERSTATE_SRCBLEND, src);
    Dev->SetRenderState(D3DRENDERSTATE_DESTBLEND, dst);
  }
  void Filter(DWORD f) {
    Dev->SetTextureStageState(0, D3DTSS_MAGFILTER, f);
    Dev->SetTextureStageState(0, D3DTSS_MINFILTER, f);
  }

  ComPtr<IDirect3D7> D3D7;
  Surf7 Target;
  ComPtr<IDirect3DDevice7> Dev;
};

TEST_F(D3DRasterizerTest, QuadsCoverExactlyTheirPixelsAndSharedEdgesOnce) {
  MakeTarget32();
  ASSERT_EQ(Strip(Quad(2, 1, 6, 5, 0x00FF0000)), D3D_OK);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(Pixel(x, y), (x >= 2 && x < 6 && y >= 1 && y < 5) ? 0xFF0000u : 0u)
          << x << "," << y;

  // Added twice over the whole target, as a strip, a fan and a list: every pixel is reached
  // once per drawing, whichever triangle owns it.
  States(true, D3DBLEND_ONE, D3DBLEND_ONE);
  std::vector<D3DTLVERTEX> q = Quad(0, 0, 16, 16, 0x00010101);
  ASSERT_EQ(Strip(q), D3D_OK);
  std::vector<D3DTLVERTEX> fan = {q[0], q[1], q[3], q[2]};
  ASSERT_EQ(Dev->DrawPrimitive(D3DPT_TRIANGLEFAN, kFvf, fan.data(), 4, 0), D3D_OK);
  std::vector<D3DTLVERTEX> list = {q[0], q[1], q[2], q[2], q[1], q[3]};
  ASSERT_EQ(Dev->DrawPrimitive(D3DPT_TRIANGLELIST, kFvf, list.data(), 6, 0), D3D_OK);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const DWORD base = (x >= 2 && x < 6 && y >= 1 && y < 5) ? 0xFF0000u : 0u;
      ASSERT_EQ(Pixel(x, y), base | (base ? 0x0303u : 0x030303u)) << x << "," << y;
    }
}

TEST_F(D3DRasterizerTest, TexelsLandOnTheirPixelsThroughEitherFilter) {
  MakeTarget32();
  std::vector<DWORD> texels(16);
  for (int i = 0; i < 16; ++i) texels[i] = 0x100000u * i + 0x0100u * (15 - i) + 7;
  Surf7 t = Texture(4, 4, texels);
  Dev->SetTexture(0, t.Get());
  for (DWORD filter : {D3DTFG_POINT, D3DTFG_LINEAR}) {
    Filter(filter);
    ASSERT_EQ(Strip(Quad(3, 2, 7, 6, 0x00FFFFFF)), D3D_OK);
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) EXPECT_EQ(Pixel(3 + i, 2 + j), texels[j * 4 + i]) << filter;
  }

  // Twice the size: point sampling doubles each texel, bilinear filtering mixes neighbours.
  Surf7 ramp = Texture(2, 1, {0x000000, 0xF0F0F0});
  Dev->SetTexture(0, ramp.Get());
  Dev->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  Filter(D3DTFG_POINT);
  ASSERT_EQ(Strip(Quad(0, 10, 4, 11, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(0, 10), 0u);
  EXPECT_EQ(Pixel(1, 10), 0u);
  EXPECT_EQ(Pixel(2, 10), 0xF0F0F0u);
  Filter(D3DTFG_LINEAR);
  ASSERT_EQ(Strip(Quad(0, 10, 4, 11, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(0, 10), 0u);         // clamped at the edge
  EXPECT_EQ(Pixel(1, 10), 0x3C3C3Cu);  // a quarter of the way
  EXPECT_EQ(Pixel(2, 10), 0xB4B4B4u);  // three quarters
  EXPECT_EQ(Pixel(3, 10), 0xF0F0F0u);

  // The vertex colour modulates the texture.
  Filter(D3DTFG_POINT);
  ASSERT_EQ(Strip(Quad(0, 12, 4, 13, 0x00FF8000)), D3D_OK);
  EXPECT_EQ(Pixel(3, 12), 0xF07800u);
}

TEST_F(D3DRasterizerTest, KeyedTexelsLeaveTheTargetAlone) {
  MakeTarget32(0x123456);
  Surf7 t = Texture(2, 2, {0xFF00FF, 0x00FF00, 0x00FF00, 0xFF00FF});
  DDCOLORKEY key{0xFF00FF, 0xFF00FF};
  t->SetColorKey(DDCKEY_SRCBLT, &key);
  Dev->SetTexture(0, t.Get());
  Filter(D3DTFG_POINT);
  Dev->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, TRUE_);
  ASSERT_EQ(Strip(Quad(0, 0, 2, 2, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(0, 0), 0x123456u);
  EXPECT_EQ(Pixel(1, 0), 0x00FF00u);
  EXPECT_EQ(Pixel(1, 1), 0x123456u);
  // Bilinear at 1:1 keys the same texels, without fringes.
  Filter(D3DTFG_LINEAR);
  ASSERT_EQ(Strip(Quad(4, 0, 6, 2, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(4, 0), 0x123456u);
  EXPECT_EQ(Pixel(5, 0), 0x00FF00u);
  // Keying off draws them.
  Dev->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, FALSE_);
  ASSERT_EQ(Strip(Quad(8, 0, 10, 2, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(8, 0), 0xFF00FFu);
}

TEST_F(D3DRasterizerTest, BlendFactors) {
  MakeTarget32(0x404040);
  Surf7 white = Texture(1, 1, {0xFFFFFF}, true);
  Put(white.Get(), 0, 0, 0xFFFFFFFFu);
  Dev->SetTexture(0, white.Get());
  // Added: the grey vertex colour scales the texture; sums saturate.
  States(true, D3DBLEND_ONE, D3DBLEND_ONE);
  ASSERT_EQ(Strip(Quad(0, 0, 1, 1, 0x00808080, 1, 1)), D3D_OK);
  EXPECT_EQ(Pixel(0, 0), 0xC0C0C0u);
  ASSERT_EQ(Strip(Quad(0, 0, 1, 1, 0x00808080, 1, 1)), D3D_OK);
  EXPECT_EQ(Pixel(0, 0), 0xFFFFFFu);
  // Subtracted: the target keeps the part the source does not cover.
  States(true, D3DBLEND_ZERO, D3DBLEND_INVSRCCOLOR);
  ASSERT_EQ(Strip(Quad(1, 0, 2, 1, 0x00808080)), D3D_OK);
  EXPECT_EQ(Pixel(1, 0), 0x202020u);
  // Alpha: the vertex alpha scales the texture's.
  States(true, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  Dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  ASSERT_EQ(Strip(Quad(2, 0, 3, 1, 0x80FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(2, 0), 0xA0A0A0u);
  // The texture's own alpha alone.
  Dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  Put(white.Get(), 0, 0, 0x40FFFFFFu);
  ASSERT_EQ(Strip(Quad(3, 0, 4, 1, 0xFFFFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(3, 0), 0x707070u);
  // Copy: what is there does not count.
  States(false, D3DBLEND_ONE, D3DBLEND_ONE);
  ASSERT_EQ(Strip(Quad(4, 0, 5, 1, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(4, 0), 0xFFFFFFu);
  EXPECT_EQ(Pixel(5, 0), 0x404040u);
}

TEST_F(D3DRasterizerTest, SixteenBitTargetsAndPalettizedTextures) {
  MakeTarget(RgbFormat(16, 0xF800, 0x07E0, 0x001F));
  Surf7 t = MakeSurface(2, 1, d3dtest::Indexed8Format(), DDSCAPS_TEXTURE);
  PALETTEENTRY entries[256] = {};
  entries[1] = {255, 0, 0, 0};
  entries[2] = {0, 255, 255, 0};
  IDirectDrawPalette* palette = nullptr;
  ASSERT_EQ(DD7->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette, nullptr), DD_OK);
  t->SetPalette(palette);
  palette->Release();
  Put(t.Get(), 0, 0, 1);
  Put(t.Get(), 1, 0, 2);
  Dev->SetTexture(0, t.Get());
  Filter(D3DTFG_POINT);
  ASSERT_EQ(Strip(Quad(0, 0, 2, 1, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(0, 0), 0xF800u);
  EXPECT_EQ(Pixel(1, 0), 0x07FFu);
  // Blending reads the 16-bit pixels back as full bytes.
  States(true, D3DBLEND_ONE, D3DBLEND_ONE);
  ASSERT_EQ(Strip(Quad(0, 0, 2, 1, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(0, 0), 0xF800u);
  EXPECT_EQ(Pixel(1, 0), 0x07FFu);
}

TEST_F(D3DRasterizerTest, RotatedAndDegenerateTriangles) {
  MakeTarget32();
  // A diamond: pixels on its edges belong to it only on top and left edges, so of its corners
  // only the left one, where two left edges meet, is drawn.
  std::vector<D3DTLVERTEX> d(4);
  const float pts[4][2] = {{8, 2}, {14, 8}, {2, 8}, {8, 14}};
  for (int i = 0; i < 4; ++i) {
    d[i].sx = pts[i][0], d[i].sy = pts[i][1], d[i].rhw = 1, d[i].color = 0x00FFFFFF;
  }
  ASSERT_EQ(Strip(d), D3D_OK);
  EXPECT_EQ(Pixel(8, 8), 0xFFFFFFu);
  EXPECT_EQ(Pixel(2, 8), 0xFFFFFFu);
  EXPECT_EQ(Pixel(8, 2), 0u);
  EXPECT_EQ(Pixel(8, 14), 0u);
  EXPECT_EQ(Pixel(14, 8), 0u);
  EXPECT_EQ(Pixel(3, 8), 0xFFFFFFu);  // on the diagonal both triangles share
  EXPECT_EQ(Pixel(5, 5), 0xFFFFFFu);  // on the upper left edge
  EXPECT_EQ(Pixel(4, 5), 0u);

  // Nothing drawn, nothing broken: a flat triangle, coordinates that are not numbers, and
  // coordinates far outside the target.
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  MakeTarget32();
  for (float bad : {nan, inf, -inf}) {
    std::vector<D3DTLVERTEX> q = Quad(0, 0, 4, 4, 0x00FFFFFF);
    q[1].sx = bad;
    EXPECT_EQ(Strip(q), D3D_OK);
  }
  std::vector<D3DTLVERTEX> flat = Quad(0, 0, 4, 4, 0x00FFFFFF);
  flat[2].sx = flat[0].sx, flat[2].sy = flat[0].sy;
  flat[3] = flat[1];
  EXPECT_EQ(Strip(flat), D3D_OK);
  EXPECT_EQ(Pixel(0, 0), 0u);
  EXPECT_EQ(Strip(Quad(-1e9, -1e9, 1e9, 1e9, 0x00010203)), D3D_OK);
  EXPECT_EQ(Pixel(15, 15), 0x010203u);

  // Culling, when asked for, drops the triangles of one winding.
  Dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CW);
  EXPECT_EQ(Strip(Quad(0, 0, 4, 4, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(1, 1), 0x010203u);
  Dev->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  EXPECT_EQ(Strip(Quad(0, 0, 4, 4, 0x00FFFFFF)), D3D_OK);
  EXPECT_EQ(Pixel(1, 1), 0xFFFFFFu);
}

TEST_F(D3DRasterizerTest, RefusalsAndLostSurfaces) {
  MakeTarget32();
  std::vector<D3DTLVERTEX> q = Quad(0, 0, 4, 4, 0x00FFFFFF);
  EXPECT_EQ(Dev->DrawPrimitive(D3DPT_LINELIST, kFvf, q.data(), 4, 0), D3DERR_INVALIDPRIMITIVETYPE);
  EXPECT_EQ(Dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, kFvf, q.data(), 2, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(Dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_DIFFUSE, q.data(), 4, 0),
            D3DERR_INVALIDVERTEXTYPE);
  // A locked target is busy.
  DDSURFACEDESC2 d;
  d.dwSize = kDDSurfaceDesc2Size;
  ASSERT_EQ(Target->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(Strip(q), DDERR_SURFACEBUSY);
  Target->Unlock(nullptr);
  // A lost texture is not read.
  Surf7 t = Texture(1, 1, {0xFFFFFF});
  Dev->SetTexture(0, t.Get());
  ddraw::MarkSurfacesLost(DD7.Get());
  Target->Restore();
  EXPECT_EQ(Strip(q), DDERR_SURFACELOST);
  t->Restore();
  EXPECT_EQ(Strip(q), D3D_OK);
}

}  // namespace
