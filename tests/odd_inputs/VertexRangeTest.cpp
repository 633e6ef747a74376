// The software 3-D device given vertices no int can hold, or no number at all: beyond 2^31, at
// 1e30, infinite, not a number. Each drawing must come back at once (a watchdog fails the run
// instead of letting a walk over 2^31 columns hang it), leave every pixel it does not cover as
// it was, and draw the part of a huge triangle that does lie on the target. Both the per-pixel
// drawer and the span drawer are held to it, with and without a texture.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/d3d/D3D.h"
#include "platform/d3d/Rasterizer.h"
#include "platform/ddraw/DDraw.h"
#include "platform/ddraw/DDrawObjects.h"
#include "support/SoftwareD3DTest.h"
#include "support/Watchdog.h"

namespace {

using d3dtest::kFvf;
using d3dtest::Surf7;
using d3dtest::Vtx;
constexpr int kW = 48, kH = 40;
constexpr std::uint32_t kBackground = 0x00123456, kTexel = 0x0000FF00;
constexpr DWORD kWhite = 0xFFFFFFFF;

std::string Num(float f) {
  std::ostringstream s;
  s << f;
  return s.str();
}

Vtx At(float x, float y, float u = 0.5f, float v = 0.5f, float rhw = 1) {
  return {x, y, 0, rhw, kWhite, kWhite, u, v};
}

struct Drawing {
  bool Textured;
  d3d::RasterPath Path;
  std::string Name() const {
    return std::string(Textured ? "textured" : "untextured") +
           (Path == d3d::RasterPath::PerPixel ? ", pixel by pixel" : ", by spans where it can");
  }
};
const Drawing kDrawings[] = {{false, d3d::RasterPath::Fastest},
                             {false, d3d::RasterPath::PerPixel},
                             {true, d3d::RasterPath::Fastest},
                             {true, d3d::RasterPath::PerPixel}};

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kFar[] = {2.2e9f, -2.2e9f, 3e9f, 1e30f, -1e30f, 3e38f, kInf, -kInf, kNaN};

class VertexRangeTest : public d3dtest::DirectDraw7Test {
 protected:
  void SetUp() override {
    DirectDraw7Test::SetUp();
    if (HasFatalFailure()) return;
    Target = Make(kW, kH, 0);
    Texture = Make(16, 16, DDSCAPS_TEXTURE);
    for (std::uint32_t& t : Words(Texture)) t = kTexel;
  }
  void TearDown() override {
    Target.Reset();
    Texture.Reset();
    DirectDraw7Test::TearDown();
  }

  Surf7 Make(int w, int h, DWORD caps) {
    return MakeSurface(w, h, d3dtest::RgbFormat(32, 0xFF0000, 0xFF00, 0xFF), caps);
  }
  static std::vector<std::uint32_t> Pixels(const Surf7& s) {
    ddraw::PixelStore& store = StoreOf(s);
    std::vector<std::uint32_t> out;
    for (int y = 0; y < store.Height; ++y)
      for (int x = 0; x < store.Width; ++x) {
        std::uint32_t v;
        std::memcpy(&v, store.Row(y) + 4 * x, 4);
        out.push_back(v);
      }
    return out;
  }
  struct WordsOf {
    ddraw::PixelStore& Store;
    struct Iter {
      ddraw::PixelStore* S;
      int I;
      std::uint32_t& operator*() const {
        return *reinterpret_cast<std::uint32_t*>(S->Row(I / S->Width) + 4 * (I % S->Width));
      }
      Iter& operator++() { return ++I, *this; }
      bool operator!=(const Iter& o) const { return I != o.I; }
    };
    Iter begin() { return {&Store, 0}; }
    Iter end() { return {&Store, Store.Width * Store.Height}; }
  };
  static WordsOf Words(const Surf7& s) { return {StoreOf(s)}; }

  void Clear() {
    for (std::uint32_t& p : Words(Target)) p = kBackground;
  }
  // What a covered pixel becomes: the texel, or the vertex colour without the spare byte.
  static std::uint32_t Drawn(const Drawing& d) { return d.Textured ? kTexel : 0x00FFFFFF; }

  HRESULT Draw(const Drawing& d, const std::vector<Vtx>& v,
               D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST) {
    d3d::RasterStates s;
    s.Render = &States.Render;
    s.Stage0 = &States.Stage;
    s.Texture = d.Textured ? ddraw::Surface::From(Texture.Get()) : nullptr;
    return d3d::Rasterize(*ddraw::Surface::From(Target.Get()), s, type, kFvf, v.data(),
                          static_cast<DWORD>(v.size()), d.Path);
  }

  Surf7 Target, Texture;
  d3dtest::States States;
};

TEST_F(VertexRangeTest, TrianglesBesideTheTargetAtAnyDistanceDrawNothingAndReturnAtOnce) {
  const std::vector<std::uint32_t> untouched(kW * kH, kBackground);
  for (const Drawing& d : kDrawings)
    for (float far : kFar) {
      const std::string what = d.Name() + ", a vertex at " + Num(far);
      // Across every row of the target but beyond its columns, and across every column but
      // beyond its rows; each as a thin sliver and as a wide triangle, wound both ways.
      const std::vector<std::vector<Vtx>> shapes = {
          {At(far, -0.5f), At(far, kH + 0.5f), At(far * 2, kH / 2)},
          {At(far, -0.5f), At(far * 2, kH / 2), At(far, kH + 0.5f)},
          {At(-0.5f, far), At(kW + 0.5f, far), At(kW / 2, far * 2)},
          {At(far, 10), At(far * 1.5f, 10), At(far, 11)},
          {At(10, far), At(10, far * 1.5f), At(11, far)},
          {At(far, far), At(far * 2, far), At(far, far * 2)}};
      for (const auto& shape : shapes) {
        Clear();
        {
          Watchdog guard("drawing " + what);
          EXPECT_EQ(Draw(d, shape), D3D_OK) << what;
        }
        EXPECT_EQ(Pixels(Target), untouched) << what;
      }
    }
}

TEST_F(VertexRangeTest, OneVertexNotANumberOrInfiniteDropsItsTriangleAndNoOther) {
  for (const Drawing& d : kDrawings)
    for (float bad : {kInf, -kInf, kNaN}) {
      const std::string what = d.Name() + ", a vertex at " + Num(bad);
      // A strip of two triangles over the whole target; the last vertex belongs to the second
      // only, the first to the first only.
      for (int which : {0, 3}) {
        std::vector<Vtx> strip = {At(-0.5f, -0.5f, 0, 0), At(kW - 0.5f, -0.5f, 1, 0),
                                  At(-0.5f, kH - 0.5f, 0, 1), At(kW - 0.5f, kH - 0.5f, 1, 1)};
        (which == 0 ? strip[0].X : strip[3].Y) = bad;
        Clear();
        {
          Watchdog guard("drawing " + what);
          EXPECT_EQ(Draw(d, strip, D3DPT_TRIANGLESTRIP), D3D_OK) << what;
        }
        const std::vector<std::uint32_t> p = Pixels(Target);
        // Pixel (0, 0) lies in the first triangle only, (kW - 1, kH - 1) in the second only.
        const bool firstDrawn = which != 0;
        EXPECT_EQ(p[0], firstDrawn ? Drawn(d) : kBackground) << what;
        EXPECT_EQ(p[kW * kH - 1], firstDrawn ? kBackground : Drawn(d)) << what;
      }
    }
}

TEST_F(VertexRangeTest, HugeTrianglesDrawExactlyTheirPartOnTheTarget) {
  for (const Drawing& d : kDrawings)
    for (float far : {2.2e9f, 3e9f, 1e30f, 3e38f}) {
      const std::string what = d.Name() + ", vertices at " + Num(far);
      // Covering the whole target from far outside it.
      Clear();
      {
        Watchdog guard("drawing " + what);
        EXPECT_EQ(Draw(d, {At(-far, -far), At(far, -far), At(-far, far), At(far, far)},
                       D3DPT_TRIANGLESTRIP),
                  D3D_OK)
            << what;
      }
      EXPECT_EQ(Pixels(Target), std::vector<std::uint32_t>(kW * kH, Drawn(d))) << what;

      // Its long edge falls from y = 20 at the left to almost 20 far to the right: rows 0 to
      // 19 are covered, row 21 on are not. (Row 20 lies on that edge to within the precision
      // the far vertex leaves, so either is right there.)
      Clear();
      {
        Watchdog guard("drawing " + what + " across the top half");
        EXPECT_EQ(Draw(d, {At(-0.5f, -0.5f), At(far, -0.5f), At(-0.5f, 20)}), D3D_OK) << what;
      }
      const std::vector<std::uint32_t> p = Pixels(Target);
      for (int y = 0; y < kH; ++y) {
        if (y == 20) continue;
        for (int x = 0; x < kW; ++x)
          ASSERT_EQ(p[y * kW + x], y < 20 ? Drawn(d) : kBackground)
              << what << ": pixel " << x << ", " << y;
      }
    }
}

TEST_F(VertexRangeTest, TextureCoordinatesBeyondAnyIntKeepToTheTexture) {
  // A vertex with a negative rhw sends the perspective divisor through 0 inside the triangle,
  // and texture coordinates of 1e30 run far past any texel index: under every addressing mode
  // and both filters each pixel still takes a texel of the texture, or none.
  const Drawing perPixel{true, d3d::RasterPath::PerPixel};
  for (DWORD address : {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP})
    for (DWORD filter : {D3DTFG_POINT, D3DTFG_LINEAR}) {
      States.Stage[D3DTSS_ADDRESSU] = States.Stage[D3DTSS_ADDRESSV] = address;
      States.Stage[D3DTSS_MAGFILTER] = filter;
      States.Stage[D3DTSS_MINFILTER] = filter == D3DTFG_LINEAR ? D3DTFN_LINEAR : D3DTFN_POINT;
      const std::vector<std::vector<Vtx>> shapes = {
          {At(-0.5f, -0.5f, 0, 0, 1), At(kW, -0.5f, 1, 0, -1), At(-0.5f, kH, 0, 1, 1)},
          {At(-0.5f, -0.5f, 0, 0, 1e-30f), At(kW, -0.5f, 1, 0, -1e30f), At(-0.5f, kH, 0, 1, 1)},
          {At(-0.5f, -0.5f, -1e30f, 1e30f), At(kW, -0.5f, 1e30f, -1e30f),
           At(-0.5f, kH, 3e38f, -3e38f)}};
      for (const auto& shape : shapes)
        for (const Drawing& d : {perPixel, Drawing{true, d3d::RasterPath::Fastest}}) {
          Clear();
          {
            Watchdog guard("drawing with far texture coordinates");
            EXPECT_EQ(Draw(d, shape), D3D_OK);
          }
          for (std::uint32_t p : Pixels(Target))
            ASSERT_TRUE(p == kTexel || p == kBackground) << std::hex << p;
        }
    }
}

}  // namespace
