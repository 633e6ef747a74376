// The span drawer against the per-pixel drawer it stands in for, over many random drawings:
// with point sampling both must leave the very same bytes, whatever the shapes, formats, keys,
// addressing, stage operations and blends; with bilinear filtering every pixel must lie within
// 1 per channel of an exact filter worked out here. Since both leave the same bytes, the counts
// of what the span drawer took and declined show that it drew every drawing it has routines for
// (the drawer's quads above all) and left only the others to the per-pixel drawer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/d3d/D3D.h"
#include "platform/d3d/Rasterizer.h"
#include "platform/ddraw/DDraw.h"
#include "platform/ddraw/DDrawObjects.h"
#include "support/SoftwareD3DTest.h"

namespace {

using d3dtest::kFvf;
using d3dtest::States;
using d3dtest::Surf7;
using d3dtest::Vtx;
constexpr int kW = 48, kH = 40;

struct Format {
  const char* Name;
  int Bits;
  DWORD R, G, B, A;
  bool Indexed = false;
};
const Format kTargets[] = {{"x888", 32, 0xFF0000, 0xFF00, 0xFF, 0},
                           {"8888", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u},
                           {"565", 16, 0xF800, 0x07E0, 0x1F, 0},
                           {"555", 16, 0x7C00, 0x03E0, 0x1F, 0},
                           {"24-bit", 24, 0xFF0000, 0xFF00, 0xFF, 0}};
const Format kTextures[] = {
    {"x888", 32, 0xFF0000, 0xFF00, 0xFF, 0},    {"8888", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u},
    {"565", 16, 0xF800, 0x07E0, 0x1F, 0},       {"1555", 16, 0x7C00, 0x03E0, 0x1F, 0x8000},
    {"4444", 16, 0x0F00, 0x00F0, 0x0F, 0xF000}, {"indexed", 8, 0, 0, 0, 0, true}};

class D3DSpanRasterizerTest : public d3dtest::DirectDraw7Test {
 public:
  Surf7 Make(int w, int h, const Format& f, DWORD caps) {
    return MakeSurface(
        w, h,
        f.Indexed ? d3dtest::Indexed8Format() : d3dtest::RgbFormat(f.Bits, f.R, f.G, f.B, f.A),
        caps);
  }
  static void FillRandom(const Surf7& s, std::mt19937& rng) {
    for (std::uint8_t& b : StoreOf(s).Bytes) b = static_cast<std::uint8_t>(rng());
  }
  // Two targets holding the same random bytes, one for each drawer.
  std::pair<Surf7, Surf7> TwinTargets(const Format& f, std::mt19937& rng) {
    Surf7 fast = Make(kW, kH, f, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
    Surf7 slow = Make(kW, kH, f, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
    FillRandom(fast, rng);
    StoreOf(slow).Bytes = StoreOf(fast).Bytes;
    return {std::move(fast), std::move(slow)};
  }
};

// A quad as the accelerated drawer makes it: upright with its edges half a pixel before the
// pixel centres, or turned about a point; its texture coordinates from U0, V0 to U1, V1.
std::vector<Vtx> DrawerQuad(std::mt19937& rng, bool rotated, DWORD diffuse) {
  std::uniform_real_distribution<double> any(0, 1);
  auto between = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<Vtx> q(4);
  // Texture coordinates on whole texels of a 16 x 16 texture, sometimes mirrored, sometimes
  // reaching past it (to be addressed).
  double u0 = between(-8, 14) / 16.0, u1 = u0 + between(1, 24) / 16.0;
  double v0 = between(-8, 14) / 16.0, v1 = v0 + between(1, 24) / 16.0;
  if (between(0, 3) == 0) std::swap(u0, u1);
  if (between(0, 3) == 0) std::swap(v0, v1);
  double corners[4][2];
  if (!rotated) {
    const int l = between(-10, kW), t = between(-10, kH);
    const int r = l + between(1, 40), b = t + between(1, 40);
    const double xs[4] = {l - 0.5, r - 0.5, l - 0.5, r - 0.5};
    const double ys[4] = {t - 0.5, t - 0.5, b - 0.5, b - 0.5};
    for (int i = 0; i < 4; ++i) corners[i][0] = xs[i], corners[i][1] = ys[i];
  } else {
    const double theta = between(0, 255) * 2 * 3.14159265358979 / 256;
    const double w = between(1, 40), h = between(1, 40);
    const double cx = between(0, kW), cy = between(0, kH), fx = any(rng), fy = any(rng);
    const double e1x = std::cos(theta), e1y = std::sin(theta);
    const double e2x = std::cos(theta + 3.14159265358979 / 2),
                 e2y = std::sin(theta + 3.14159265358979 / 2);
    const double tlx = cx - w * fx * e1x - h * fy * e2x, tly = cy - w * fx * e1y - h * fy * e2y;
    const double c[4][2] = {{tlx, tly},
                            {tlx + w * e1x, tly + w * e1y},
                            {tlx + h * e2x, tly + h * e2y},
                            {tlx + h * e2x + w * e1x, tly + h * e2y + w * e1y}};
    for (int i = 0; i < 4; ++i) corners[i][0] = c[i][0], corners[i][1] = c[i][1];
  }
  for (int i = 0; i < 4; ++i) {
    q[i] = {static_cast<float>(corners[i][0]),
            static_cast<float>(corners[i][1]),
            0,
            1,
            diffuse,
            0xFFFFFFFF,
            static_cast<float>((i & 1) ? u1 : u0),
            static_cast<float>((i & 2) ? v1 : v0)};
  }
  return q;
}

// Triangles anywhere, partly off the target, with texture coordinates anywhere near the
// texture.
std::vector<Vtx> RandomTriangles(std::mt19937& rng, int count, DWORD diffuse) {
  std::uniform_real_distribution<float> x(-12, kW + 12), y(-12, kH + 12), uv(-1.5f, 2.5f);
  std::vector<Vtx> v(static_cast<std::size_t>(count));
  for (Vtx& p : v) p = {x(rng), y(rng), 0, 1, diffuse, 0xFFFFFFFF, uv(rng), uv(rng)};
  return v;
}

// Triangles barely wider than nothing, lying along a line across the target.
std::vector<Vtx> Slivers(std::mt19937& rng, int count, DWORD diffuse) {
  std::uniform_real_distribution<float> x(-4, kW + 4), y(-4, kH + 4), uv(-1, 2), t(0, 1);
  std::vector<Vtx> v;
  for (int k = 0; k < count; ++k) {
    const Vtx a{x(rng), y(rng), 0, 1, diffuse, 0xFFFFFFFF, uv(rng), uv(rng)};
    const Vtx b{x(rng), y(rng), 0, 1, diffuse, 0xFFFFFFFF, uv(rng), uv(rng)};
    const float along = t(rng), off = std::ldexp(1.0f, -static_cast<int>(4 + rng() % 16));
    const Vtx c{a.X + along * (b.X - a.X) + off,
                a.Y + along * (b.Y - a.Y) - off,
                0,
                1,
                diffuse,
                0xFFFFFFFF,
                uv(rng),
                uv(rng)};
    v.insert(v.end(), {a, b, c});
  }
  return v;
}

DWORD RandomDiffuse(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:
      return 0xFFFFFFFF;
    case 1:
      return 0x00FFFFFF | (rng() & 0xFF000000u);  // white with an alpha, as the drawer's alpha
    case 2: {
      const DWORD g = rng() & 0xFF;  // grey, as the drawer's add and subtract
      return 0xFF000000u | g << 16 | g << 8 | g;
    }
    default:
      return static_cast<DWORD>(rng());
  }
}

void RandomStates(std::mt19937& rng, States& s) {
  static const DWORD blends[][2] = {{D3DBLEND_ONE, D3DBLEND_ZERO},
                                    {D3DBLEND_ONE, D3DBLEND_ONE},
                                    {D3DBLEND_ZERO, D3DBLEND_INVSRCCOLOR},
                                    {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                                    {D3DBLEND_DESTCOLOR, D3DBLEND_SRCALPHASAT}};
  const auto& b = blends[rng() % 5];
  s.Render[D3DRENDERSTATE_ALPHABLENDENABLE] = rng() % 5 != 0;
  s.Render[D3DRENDERSTATE_SRCBLEND] = b[0];
  s.Render[D3DRENDERSTATE_DESTBLEND] = b[1];
  s.Render[D3DRENDERSTATE_COLORKEYENABLE] = rng() % 2;
  s.Render[D3DRENDERSTATE_CULLMODE] = rng() % 4 == 0 ? D3DCULL_CCW : D3DCULL_NONE;
  static const DWORD ops[] = {D3DTOP_MODULATE,   D3DTOP_MODULATE, D3DTOP_SELECTARG1,
                              D3DTOP_SELECTARG2, D3DTOP_ADD,      D3DTOP_MODULATE2X,
                              D3DTOP_DISABLE};
  static const DWORD args[] = {D3DTA_TEXTURE, D3DTA_TEXTURE,
                               D3DTA_CURRENT, D3DTA_TEXTURE | D3DTA_COMPLEMENT,
                               D3DTA_DIFFUSE, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE};
  s.Stage[D3DTSS_COLOROP] = ops[rng() % 7];
  s.Stage[D3DTSS_COLORARG1] = args[rng() % 6];
  s.Stage[D3DTSS_COLORARG2] = rng() % 3 ? D3DTA_CURRENT : args[rng() % 6];
  s.Stage[D3DTSS_ALPHAOP] = ops[rng() % 7];
  s.Stage[D3DTSS_ALPHAARG1] = args[rng() % 6];
  s.Stage[D3DTSS_ALPHAARG2] = rng() % 3 ? D3DTA_CURRENT : args[rng() % 6];
  static const DWORD address[] = {0, D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP};
  s.Stage[D3DTSS_ADDRESSU] = address[rng() % 4];
  s.Stage[D3DTSS_ADDRESSV] = address[rng() % 4];
}

// The drawer's blend a drawing does: copy, add, subtract or alpha (4 for any other).
int Blending(const States& s) {
  if (!s.Render[D3DRENDERSTATE_ALPHABLENDENABLE]) return 0;
  const DWORD src = s.Render[D3DRENDERSTATE_SRCBLEND], dst = s.Render[D3DRENDERSTATE_DESTBLEND];
  if (src == D3DBLEND_ONE) return dst == D3DBLEND_ZERO ? 0 : dst == D3DBLEND_ONE ? 1 : 4;
  if (src == D3DBLEND_ZERO && dst == D3DBLEND_INVSRCCOLOR) return 2;
  return src == D3DBLEND_SRCALPHA && dst == D3DBLEND_INVSRCALPHA ? 3 : 4;
}

// Whether the span drawer is meant to draw a drawing of the random tests (textured, with
// coordinates near the texture): every target format, blend and stage it has routines for, with
// one colour and one depth at every vertex. The rest is the per-pixel drawer's.
bool SpansExpected(const Format& target, const States& s, const std::vector<Vtx>& v) {
  if (target.Bits == 24 || Blending(s) == 4) return false;
  if ((s.Stage[D3DTSS_COLORARG1] | s.Stage[D3DTSS_COLORARG2]) & D3DTA_ALPHAREPLICATE) return false;
  return std::all_of(v.begin(), v.end(),
                     [&](const Vtx& p) { return p.Diffuse == v[0].Diffuse && p.Rhw == v[0].Rhw; });
}

// A texture of 16 x 16 random texels, keyed on a range of values that its texels often fall in.
Surf7 RandomTexture(D3DSpanRasterizerTest& test, const Format& f, std::mt19937& rng,
                    IDirectDraw7* dd) {
  Surf7 t = test.Make(16, 16, f, DDSCAPS_TEXTURE);
  ddraw::PixelStore& store = ddraw::Surface::From(t.Get())->Store();
  const int bytes = f.Bits / 8;
  // Few distinct texels, so that keys hit; some pixels are pure noise.
  const std::uint32_t palette[4] = {static_cast<std::uint32_t>(rng()),
                                    static_cast<std::uint32_t>(rng()),
                                    static_cast<std::uint32_t>(rng()), 0};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const std::uint32_t v = rng() % 3 ? palette[rng() % 4] : static_cast<std::uint32_t>(rng());
      for (int i = 0; i < bytes; ++i)
        store.Row(y)[x * bytes + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
  DDCOLORKEY key;
  const DWORD mask = f.Indexed ? 0xFF : (f.R | f.G | f.B | f.A);
  key.dwColorSpaceLowValue = palette[rng() % 4] & mask;
  key.dwColorSpaceHighValue =
      rng() % 2 ? key.dwColorSpaceLowValue : (key.dwColorSpaceLowValue + (rng() % 64)) & mask;
  t->SetColorKey(DDCKEY_SRCBLT, &key);
  if (f.Indexed) {
    PALETTEENTRY entries[256];
    for (PALETTEENTRY& e : entries)
      e = {static_cast<BYTE>(rng()), static_cast<BYTE>(rng()), static_cast<BYTE>(rng()), 0};
    IDirectDrawPalette* pal = nullptr;
    EXPECT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &pal, nullptr), DD_OK);
    t->SetPalette(pal);
    pal->Release();
  }
  return t;
}

TEST_F(D3DSpanRasterizerTest, PointSamplingLeavesTheSameBytesAsPixelByPixel) {
  std::mt19937 rng(1234);
  std::set<std::tuple<std::ptrdiff_t, int, bool>> quadsBySpans;
  for (int round = 0; round < 2000; ++round) {
    const Format& tf = kTargets[rng() % 5];
    const Format& xf = kTextures[rng() % 6];
    const auto [fast, slow] = TwinTargets(tf, rng);
    Surf7 texture = RandomTexture(*this, xf, rng, DD7.Get());
    States s;
    RandomStates(rng, s);
    const DWORD diffuse = RandomDiffuse(rng);
    const int shape = static_cast<int>(rng() % 5);
    std::vector<Vtx> v = shape < 3    ? DrawerQuad(rng, shape == 2, diffuse)
                         : shape == 3 ? RandomTriangles(rng, 3 * (1 + rng() % 4), diffuse)
                                      : Slivers(rng, 1 + rng() % 4, diffuse);
    // Now and then vertices that differ in colour or depth, which only the per-pixel drawer
    // draws.
    if (rng() % 8 == 0) v[1].Diffuse = static_cast<DWORD>(rng());
    if (rng() % 8 == 0) v[2].Rhw = 0.5f;
    const D3DPRIMITIVETYPE type = shape < 3 ? D3DPT_TRIANGLESTRIP : D3DPT_TRIANGLELIST;
    const d3d::RasterStates rs{&s.Render, &s.Stage, ddraw::Surface::From(texture.Get())};
    ddraw::Surface& a = *ddraw::Surface::From(fast.Get());
    ddraw::Surface& b = *ddraw::Surface::From(slow.Get());
    const DWORD n = static_cast<DWORD>(v.size());
    const d3d::SpanDrawerCounts before = d3d::SpanDrawerCountsSoFar();
    ASSERT_EQ(d3d::Rasterize(a, rs, type, kFvf, v.data(), n), D3D_OK);
    const d3d::SpanDrawerCounts after = d3d::SpanDrawerCountsSoFar();
    const bool spans = SpansExpected(tf, s, v);
    ASSERT_EQ(after.Taken - before.Taken, spans ? 1u : 0u) << "round " << round;
    ASSERT_EQ(after.Declined - before.Declined, spans ? 0u : 1u) << "round " << round;
    // The drawer's quads are never so thin that a triangle of theirs goes pixel by pixel.
    if (shape < 3) {
      ASSERT_EQ(after.TrianglesLeft, before.TrianglesLeft) << "round " << round;
      if (spans) quadsBySpans.insert({&tf - kTargets, Blending(s), shape == 2});
    }
    ASSERT_EQ(d3d::Rasterize(b, rs, type, kFvf, v.data(), n, d3d::RasterPath::PerPixel), D3D_OK);
    const std::vector<std::uint8_t>& got = StoreOf(fast).Bytes;
    const std::vector<std::uint8_t>& want = StoreOf(slow).Bytes;
    for (std::size_t i = 0; i < got.size(); ++i)
      if (got[i] != want[i]) {
        const std::ptrdiff_t pitch = StoreOf(fast).Pitch;
        FAIL() << "round " << round << ": target " << tf.Name << ", texture " << xf.Name
               << ", shape " << shape << ", blend " << s.Render[D3DRENDERSTATE_ALPHABLENDENABLE]
               << " " << s.Render[D3DRENDERSTATE_SRCBLEND] << "/"
               << s.Render[D3DRENDERSTATE_DESTBLEND] << ", key "
               << s.Render[D3DRENDERSTATE_COLORKEYENABLE] << ": byte " << i % pitch << " of row "
               << i / pitch << " is " << int{got[i]} << ", pixel by pixel " << int{want[i]};
      }
  }
  // Every target format the spans draw, in every blend, saw upright and rotated quads.
  for (int target = 0; target < 4; ++target)
    for (int blend = 0; blend < 4; ++blend)
      for (bool rotated : {false, true})
        EXPECT_TRUE(quadsBySpans.count({target, blend, rotated}))
            << kTargets[target].Name << ", blend " << blend << (rotated ? ", rotated" : "");
}

// The drawer's quads as it draws them: every target format of a 3-D display, every texture
// format, both filters, its four blends with their vertex colours, keyed or not, upright and
// turned. The span drawer must take every one of them whole; the point-sampled ones must
// leave the per-pixel drawer's bytes.
TEST_F(D3DSpanRasterizerTest, EveryQuadOfTheDrawerGoesBySpans) {
  std::mt19937 rng(4321);
  for (int target = 0; target < 4; ++target)
    for (const Format& xf : kTextures)
      for (bool linear : {false, true})
        for (int blend = 0; blend < 4; ++blend)
          for (bool keyed : {false, true})
            for (bool rotated : {false, true}) {
              const Format& tf = kTargets[target];
              SCOPED_TRACE(std::string(tf.Name) + " from " + xf.Name + (linear ? " linear" : "") +
                           ", blend " + std::to_string(blend) + (keyed ? " keyed" : "") +
                           (rotated ? " rotated" : ""));
              const auto [fast, slow] = TwinTargets(tf, rng);
              Surf7 texture = RandomTexture(*this, xf, rng, DD7.Get());
              States s;
              s.Render[D3DRENDERSTATE_COLORKEYENABLE] = keyed;
              s.Stage[D3DTSS_MAGFILTER] = linear ? D3DTFG_LINEAR : D3DTFG_POINT;
              s.Stage[D3DTSS_MINFILTER] = linear ? D3DTFN_LINEAR : D3DTFN_POINT;
              const int alpha = static_cast<int>(rng() % 256);
              DWORD diffuse = 0xFFFFFFFF;
              if (blend > 0) {
                static const DWORD factors[][2] = {{D3DBLEND_ONE, D3DBLEND_ONE},
                                                   {D3DBLEND_ZERO, D3DBLEND_INVSRCCOLOR},
                                                   {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA}};
                s.Render[D3DRENDERSTATE_ALPHABLENDENABLE] = 1;
                s.Render[D3DRENDERSTATE_SRCBLEND] = factors[blend - 1][0];
                s.Render[D3DRENDERSTATE_DESTBLEND] = factors[blend - 1][1];
                diffuse = 0xFF000000u | static_cast<DWORD>(alpha * 0x010101);
              }
              if (blend == 3) {
                s.Stage[D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
                diffuse = 0x00FFFFFF | static_cast<DWORD>(alpha) << 24;
              }
              const std::vector<Vtx> v = DrawerQuad(rng, rotated, diffuse);
              const d3d::RasterStates rs{&s.Render, &s.Stage, ddraw::Surface::From(texture.Get())};
              const d3d::SpanDrawerCounts before = d3d::SpanDrawerCountsSoFar();
              ASSERT_EQ(d3d::Rasterize(*ddraw::Surface::From(fast.Get()), rs, D3DPT_TRIANGLESTRIP,
                                       kFvf, v.data(), 4),
                        D3D_OK);
              const d3d::SpanDrawerCounts after = d3d::SpanDrawerCountsSoFar();
              EXPECT_EQ(after.Taken - before.Taken, 1u);
              EXPECT_EQ(after.Declined, before.Declined);
              EXPECT_EQ(after.TrianglesLeft, before.TrianglesLeft);
              if (linear) continue;
              ASSERT_EQ(d3d::Rasterize(*ddraw::Surface::From(slow.Get()), rs, D3DPT_TRIANGLESTRIP,
                                       kFvf, v.data(), 4, d3d::RasterPath::PerPixel),
                        D3D_OK);
              EXPECT_TRUE(StoreOf(fast).Bytes == StoreOf(slow).Bytes);
            }
}

// Drawings the span drawer has no routine for are declined whole and drawn pixel by pixel, as
// is a triangle too thin for its stepping within a drawing it takes.
TEST_F(D3DSpanRasterizerTest, OnlyWhatSpansCannotDrawGoesPixelByPixel) {
  std::mt19937 rng(5);
  Surf7 texture = RandomTexture(*this, kTextures[0], rng, DD7.Get());
  struct Case {
    const char* Name;
    int Target = 0;
    void (*Change)(States&, std::vector<Vtx>&) = nullptr;
    bool TextureIsTarget = false;
    bool NoTexture = false;
    bool Sliver = false;
  };
  const Case cases[] = {
      {"24-bit target", 4},
      {"blend by the target's colour", 0,
       [](States& s, std::vector<Vtx>&) {
         s.Render[D3DRENDERSTATE_ALPHABLENDENABLE] = 1;
         s.Render[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_DESTCOLOR;
         s.Render[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
       }},
      {"alpha into the colour", 2,
       [](States& s, std::vector<Vtx>&) {
         s.Stage[D3DTSS_COLORARG1] = D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE;
       }},
      {"vertex colours that differ", 1,
       [](States&, std::vector<Vtx>& v) { v[3].Diffuse = 0xFF102030; }},
      {"perspective", 3, [](States&, std::vector<Vtx>& v) { v[0].Rhw = 0.5f; }},
      {"coordinates far off the texture", 0,
       [](States&, std::vector<Vtx>& v) { v[1].U = v[3].U = 1e6f; }},
      {"the texture is the target", 0, nullptr, true},
      {"no texture", 0, nullptr, false, true},
      {"a sliver", 0, nullptr, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const Format& tf = kTargets[c.Target];
    const auto [fast, slow] = TwinTargets(tf, rng);
    States s;
    std::vector<Vtx> v = DrawerQuad(rng, false, 0xFFFFFFFF);
    if (c.Sliver) {
      // Along a line across the target, a 2^-18 of a pixel off it: far too thin for the steps.
      v = {{0, 0, 0, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0},
           {40, 30, 0, 1, 0xFFFFFFFF, 0xFFFFFFFF, 2, 2},
           {20 + std::ldexp(1.0f, -18), 15 - std::ldexp(1.0f, -18), 0, 1, 0xFFFFFFFF, 0xFFFFFFFF, 1,
            0}};
    }
    if (c.Change) c.Change(s, v);
    auto draw = [&](const Surf7& target, d3d::RasterPath path) {
      ddraw::Surface* tex = c.NoTexture         ? nullptr
                            : c.TextureIsTarget ? ddraw::Surface::From(target.Get())
                                                : ddraw::Surface::From(texture.Get());
      const d3d::RasterStates rs{&s.Render, &s.Stage, tex};
      return d3d::Rasterize(*ddraw::Surface::From(target.Get()), rs,
                            c.Sliver ? D3DPT_TRIANGLELIST : D3DPT_TRIANGLESTRIP, kFvf, v.data(),
                            static_cast<DWORD>(v.size()), path);
    };
    const d3d::SpanDrawerCounts before = d3d::SpanDrawerCountsSoFar();
    ASSERT_EQ(draw(fast, d3d::RasterPath::Fastest), D3D_OK);
    const d3d::SpanDrawerCounts after = d3d::SpanDrawerCountsSoFar();
    EXPECT_EQ(after.Taken - before.Taken, c.Sliver ? 1u : 0u);
    EXPECT_EQ(after.Declined - before.Declined, c.Sliver ? 0u : 1u);
    EXPECT_EQ(after.TrianglesLeft - before.TrianglesLeft, c.Sliver ? 1u : 0u);
    ASSERT_EQ(draw(slow, d3d::RasterPath::PerPixel), D3D_OK);
    EXPECT_TRUE(StoreOf(fast).Bytes == StoreOf(slow).Bytes);
  }
}

// Drawings whose texels fall exactly on texel edges: halving and doubling quads of the drawer
// and textures of odd sizes stretched over the target, where only the last bits of the per-pixel
// formula decide.
TEST_F(D3DSpanRasterizerTest, PointSamplingOnTexelEdgesFollowsThePerPixelFormula) {
  std::mt19937 rng(99);
  for (int texW : {16, 7, 256}) {
    for (int scale : {-4, -2, 1, 2, 3}) {
      SCOPED_TRACE(std::to_string(texW) + " at " + std::to_string(scale));
      const auto [fast, slow] = TwinTargets(kTargets[0], rng);
      Surf7 texture = Make(texW, texW, kTextures[0], DDSCAPS_TEXTURE);
      FillRandom(texture, rng);
      States s;
      s.Render[D3DRENDERSTATE_ALPHABLENDENABLE] = 1;
      s.Render[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_SRCALPHA;
      s.Render[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_INVSRCALPHA;
      s.Stage[D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
      // Texels per pixel: 1/scale when scale is negative.
      const double extent = scale > 0 ? 1.0 * kW / (texW * scale) : -1.0 * scale * kW / texW;
      std::vector<Vtx> v(4);
      for (int i = 0; i < 4; ++i)
        v[i] = {(i & 1) ? kW - 0.5f : -0.5f,
                (i & 2) ? kH - 0.5f : -0.5f,
                0,
                1,
                0x80FFFFFF,
                0xFFFFFFFF,
                static_cast<float>((i & 1) ? extent + 3.0 / texW : 3.0 / texW),
                static_cast<float>((i & 2) ? extent * kH / kW + 1.0 / texW : 1.0 / texW)};
      const d3d::RasterStates rs{&s.Render, &s.Stage, ddraw::Surface::From(texture.Get())};
      const std::uint64_t taken = d3d::SpanDrawerCountsSoFar().Taken;
      ASSERT_EQ(d3d::Rasterize(*ddraw::Surface::From(fast.Get()), rs, D3DPT_TRIANGLESTRIP, kFvf,
                               v.data(), 4),
                D3D_OK);
      EXPECT_EQ(d3d::SpanDrawerCountsSoFar().Taken - taken, 1u);
      ASSERT_EQ(d3d::Rasterize(*ddraw::Surface::From(slow.Get()), rs, D3DPT_TRIANGLESTRIP, kFvf,
                               v.data(), 4, d3d::RasterPath::PerPixel),
                D3D_OK);
      EXPECT_TRUE(StoreOf(fast).Bytes == StoreOf(slow).Bytes);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Bilinear filtering against an exact filter.

struct Argb {
  int A, R, G, B;
};
Argb Unpack(std::uint32_t v, bool alpha) {
  return {alpha ? static_cast<int>(v >> 24) : 255, static_cast<int>((v >> 16) & 0xFF),
          static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)};
}
int Mul(int a, int b) { return (a * b + 127) / 255; }

TEST_F(D3DSpanRasterizerTest, BilinearFilteringIsWithinOneOfTheExactFilter) {
  std::mt19937 rng(777);
  int compared = 0;
  // Every drawing here is one of the drawer's quads: the spans' filter is what is measured.
  const d3d::SpanDrawerCounts spansBefore = d3d::SpanDrawerCountsSoFar();
  for (int round = 0; round < 400; ++round) {
    const bool targetAlpha = rng() % 2, textureAlpha = rng() % 2;
    const Format& tf = kTargets[targetAlpha ? 1 : 0];
    const Format& xf = kTextures[textureAlpha ? 1 : 0];
    Surf7 target = Make(kW, kH, tf, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
    FillRandom(target, rng);
    const std::vector<std::uint8_t> before = StoreOf(target).Bytes;
    Surf7 texture = Make(16, 16, xf, DDSCAPS_TEXTURE);
    FillRandom(texture, rng);
    const bool keyed = rng() % 2;
    const std::uint32_t keyValue = 0x123456;
    if (keyed) {
      // Some texels are the key.
      ddraw::PixelStore& ts = StoreOf(texture);
      for (int k = 0; k < 40; ++k) {
        std::uint32_t* p = reinterpret_cast<std::uint32_t*>(ts.Row(rng() % 16)) + rng() % 16;
        *p = (*p & 0xFF000000u) | keyValue;
      }
      DDCOLORKEY key{keyValue, keyValue};
      texture->SetColorKey(DDCKEY_SRCBLT, &key);
    }
    States s;
    s.Stage[D3DTSS_MAGFILTER] = D3DTFG_LINEAR;
    s.Stage[D3DTSS_MINFILTER] = D3DTFN_LINEAR;
    s.Render[D3DRENDERSTATE_COLORKEYENABLE] = keyed;
    s.Stage[D3DTSS_ADDRESSU] = rng() % 2 ? D3DTADDRESS_CLAMP : D3DTADDRESS_WRAP;
    s.Stage[D3DTSS_ADDRESSV] = rng() % 2 ? D3DTADDRESS_CLAMP : D3DTADDRESS_WRAP;
    // The drawer's four modes.
    const int mode = static_cast<int>(rng() % 4);
    const int alpha = static_cast<int>(rng() % 256);
    DWORD diffuse = 0xFFFFFFFF;
    if (mode == 1) {
      s.Render[D3DRENDERSTATE_ALPHABLENDENABLE] = 1;
      s.Render[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
      s.Render[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ONE;
    } else if (mode == 2) {
      s.Render[D3DRENDERSTATE_ALPHABLENDENABLE] = 1;
      s.Render[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ZERO;
      s.Render[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_INVSRCCOLOR;
    } else if (mode == 3) {
      s.Render[D3DRENDERSTATE_ALPHABLENDENABLE] = 1;
      s.Render[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_SRCALPHA;
      s.Render[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_INVSRCALPHA;
      s.Stage[D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
    }
    if (mode == 1 || mode == 2)
      diffuse = 0xFF000000u | static_cast<DWORD>(alpha * 0x010101);
    else if (mode == 3)
      diffuse = 0x00FFFFFF | static_cast<DWORD>(alpha) << 24;
    const std::vector<Vtx> v = DrawerQuad(rng, rng() % 2, diffuse);
    const d3d::RasterStates rs{&s.Render, &s.Stage, ddraw::Surface::From(texture.Get())};
    ASSERT_EQ(d3d::Rasterize(*ddraw::Surface::From(target.Get()), rs, D3DPT_TRIANGLESTRIP, kFvf,
                             v.data(), 4),
              D3D_OK);

    // The exact picture: the quad's texture coordinates are an affine map of the screen (the
    // drawer's quads are parallelograms), found from three corners in long double.
    const long double x0 = v[0].X, y0 = v[0].Y;
    const long double ax = v[1].X - x0, ay = v[1].Y - y0, bx = v[2].X - x0, by = v[2].Y - y0;
    const long double det = ax * by - ay * bx;
    ASSERT_NE(det, 0);
    const ddraw::PixelStore& tex = StoreOf(texture);
    auto texel = [&](int i, int j, Argb& out) {
      auto addr = [&](int k, DWORD mode) {
        return mode == D3DTADDRESS_CLAMP ? std::clamp(k, 0, 15) : ((k % 16) + 16) % 16;
      };
      const std::uint32_t raw = reinterpret_cast<const std::uint32_t*>(
          tex.Bytes.data() +
          addr(j, s.Stage[D3DTSS_ADDRESSV]) * tex.Pitch)[addr(i, s.Stage[D3DTSS_ADDRESSU])];
      if (keyed && (raw & 0xFFFFFF) == keyValue) return false;
      out = Unpack(raw, textureAlpha);
      return true;
    };
    const ddraw::PixelStore& got = StoreOf(target);
    for (int py = 0; py < kH; ++py)
      for (int px = 0; px < kW; ++px) {
        const long double dx = px - x0, dy = py - y0;
        const long double s1 = (dx * by - dy * bx) / det, s2 = (ax * dy - ay * dx) / det;
        const std::uint32_t old =
            reinterpret_cast<const std::uint32_t*>(before.data() + py * got.Pitch)[px];
        const std::uint32_t now =
            reinterpret_cast<const std::uint32_t*>(got.Bytes.data() + py * got.Pitch)[px];
        // Pixels on or next to the quad's edges are left to the coverage tests.
        const long double margin = 1e-6L;
        if (s1 < -margin || s1 > 1 + margin || s2 < -margin || s2 > 1 + margin) {
          ASSERT_EQ(now, old) << "outside, round " << round;
          continue;
        }
        if (s1 < margin || s1 > 1 - margin || s2 < margin || s2 > 1 - margin) continue;
        const long double u = v[0].U + s1 * (v[1].U - v[0].U) + s2 * (v[2].U - v[0].U);
        const long double w = v[0].V + s1 * (v[1].V - v[0].V) + s2 * (v[2].V - v[0].V);
        const long double fxAll = u * 16 - 0.5L, fyAll = w * 16 - 0.5L;
        const int i0 = static_cast<int>(std::floor(fxAll)),
                  j0 = static_cast<int>(std::floor(fyAll));
        const long double fx = fxAll - i0, fy = fyAll - j0;
        const long double weights[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
        long double sum[4] = {}, total = 0;
        for (int k = 0; k < 4; ++k) {
          Argb c;
          if (weights[k] <= 0 || !texel(i0 + (k & 1), j0 + (k >> 1), c)) continue;
          sum[0] += weights[k] * c.A, sum[1] += weights[k] * c.R, sum[2] += weights[k] * c.G,
              sum[3] += weights[k] * c.B;
          total += weights[k];
        }
        if (std::abs(total - 0.5L) < 1e-4L) continue;  // on the key's threshold
        if (total < 0.5L) {
          ASSERT_EQ(now, old) << "keyed out, round " << round << " at " << px << "," << py;
          continue;
        }
        // The filtered texel rounded, then the stage and the blend in the documented integer
        // arithmetic.
        int t[4];
        for (int c = 0; c < 4; ++c) t[c] = static_cast<int>(sum[c] / total + 0.5L);
        const Argb d = Unpack(diffuse, true);
        const int src[4] = {mode == 3 ? Mul(t[0], d.A) : t[0], Mul(t[1], d.R), Mul(t[2], d.G),
                            Mul(t[3], d.B)};
        const Argb o = Unpack(old, targetAlpha);
        const int dst[4] = {o.A, o.R, o.G, o.B};
        for (int c = targetAlpha ? 0 : 1; c < 4; ++c) {
          int want = src[c];
          if (mode == 1) want = std::min(255, src[c] + dst[c]);
          if (mode == 2) want = Mul(dst[c], 255 - src[c]);
          if (mode == 3) want = (src[c] * src[0] + dst[c] * (255 - src[0]) + 127) / 255;
          const int have = static_cast<int>((now >> (24 - 8 * c)) & 0xFF);
          ASSERT_LE(std::abs(have - want), 1) << "round " << round << ", mode " << mode
                                              << ", channel " << c << " at " << px << "," << py;
        }
        ++compared;
      }
  }
  EXPECT_GT(compared, 20000);
  const d3d::SpanDrawerCounts spansAfter = d3d::SpanDrawerCountsSoFar();
  EXPECT_EQ(spansAfter.Taken - spansBefore.Taken, 400u);
  EXPECT_EQ(spansAfter.Declined, spansBefore.Declined);
}

}  // namespace
