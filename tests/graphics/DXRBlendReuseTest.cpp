// A blit set up like the one before it runs the routine compiled then. Random sequences of blits
// and rotated blits on the default machine, each draw like the last or changed in one thing
// (place, alpha, operation, key, arithmetic, vector rows, source picture or its memory, dirty
// temporaries, a machine reset by someone else) or going back to the draw before it, are drawn
// once with reuse and once without: the bytes and the machine state after every draw must be
// the same, and reuse must have happened.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "DXRSurfaceTestSupport.h"
#include "DXRenderTestSupport.h"
#include "framework/graphics/DXDraws.h"

using dxrtest::Pick;
using dxrtest::TestPixels;

namespace {

struct Format {
  const char* Name;
  int Bits;
  DWORD R, G, B, A;
  bool Indexed;
};
const Format kFormats[] = {
    {"XRGB8888", 32, 0xFF0000, 0xFF00, 0xFF, 0, false},
    {"ARGB8888", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, false},
    {"RGB565", 16, 0xF800, 0x07E0, 0x001F, 0, false},
    {"RGB888", 24, 0xFF0000, 0xFF00, 0xFF, 0, false},
    {"Indexed8", 8, 0, 0, 0, 0, true},
};

// What one draw of a sequence does before drawing, and the draw.
enum class Change {
  None,
  Move,         // another place, same size: the same routine
  Alpha,        // another alpha
  Op,           // another operation
  Key,          // colour key on or off, or another key
  Words,        // the other arithmetic
  Vectors,      // vector rows on or off
  Dirty,        // temporaries written directly, without a reset
  Reset,        // the machine set up by someone else in between
  OtherSource,  // the other source picture
  Palette,      // the source's pixels and palette changed in place
  Relocked,     // the source record points at other memory of the same picture
  Rotate,       // rotated or not
  Back,         // the drawing of two draws before, again
  OtherDest,    // the other destination picture
  Count
};

struct Step {
  Change What = Change::None;
  int Dx = 0, Dy = 0, Alpha = 0, Angle = 0;
  DXRBlendOp Op = 0;
  DWORD Key = 0;
  DXRChannelGroup Dirt[4];
  unsigned Seed = 0;
};

struct Scene {
  TestPixels Src, Other, Alt, Dest, OtherDest;
};

// The drawing parameters a sequence carries from one draw to the next.
struct Params {
  TRect DestRect, SrcRect;
  DXRBlendOp Op = 10;
  int Alpha = 128, Angle = 32;
  bool Transparent = false, Words = true, Vectors = true, Rotate = false, UseOther = false,
       UseOtherDest = false;
  DWORD Key = 0;
};

// A surface someone else's set-up reads.
DXRSurface Elsewhere;

struct After {
  std::vector<BYTE> Dest;
  DXRChannelGroup Temporaries[4];
  int U = 0, V = 0, X = 0, Y = 0;
  bool Compiled = false, Chosen = false, SIMD = false;
  int NodeCount = 0, TemporaryCount = 0;
  std::size_t StepCount = 0;
  bool MMXUsed = false, Dither = false;
  BYTE Gradient = 0;
  const DXRSurface* OtherStage = nullptr;
  std::vector<std::array<DWORD, 3>> Nodes;  // kind, channels and value of each node
  const DXRSurface* MachineDest = nullptr;  // the surface the machine draws on
  std::string Drawn;                        // what was drawn, for the failure message
};

std::vector<After> RunSequence(Scene& S, Params P, const std::vector<Step>& Steps, bool Reuse,
                               std::uint64_t& Reused, std::uint64_t& Restored) {
  // Both runs start from the same machine, also in what Reset keeps: a draw that draws
  // nothing leaves the machine as it was.
  TDXRMachine& m = *DXRDefaultMachine();
  m.Reset();
  m.TemporaryCount = 0;
  for (auto& t : m.Temporaries) t = DXRChannelGroup{};
  DXRSetBlendReuseEnabled(Reuse);
  const std::uint64_t before = DXRBlendReuseCount(), restoredBefore = DXRBlendRestoreCount();
  std::vector<After> out;
  std::vector<Params> drawn;
  for (const Step& s : Steps) {
    switch (s.What) {
      case Change::Back:
        if (drawn.size() >= 2) P = drawn[drawn.size() - 2];
        break;
      case Change::Move:
        P.DestRect = TRect{P.DestRect.Left + s.Dx, P.DestRect.Top + s.Dy, P.DestRect.Right + s.Dx,
                           P.DestRect.Bottom + s.Dy};
        break;
      case Change::Alpha:
        P.Alpha = s.Alpha;
        break;
      case Change::Op:
        P.Op = s.Op;
        break;
      case Change::Key:
        P.Transparent = !P.Transparent;
        P.Key = s.Key;
        break;
      case Change::Words:
        P.Words = !P.Words;
        break;
      case Change::Vectors:
        P.Vectors = !P.Vectors;
        break;
      case Change::Dirty:
        for (int i = 0; i < 4; ++i) m.Temporaries[i] = s.Dirt[i];
        break;
      case Change::Reset:
        // Someone else sets the machine up and leaves it so.
        m.Reset();
        m.Dither = true;
        m.ColorSlots[1].Gradient = 1;
        m.TextureStages[3].Surface = &Elsewhere;
        break;
      case Change::OtherDest:
        P.UseOtherDest = !P.UseOtherDest;
        break;
      case Change::OtherSource:
        P.UseOther = !P.UseOther;
        break;
      case Change::Palette: {
        std::mt19937 r(s.Seed);
        for (BYTE& b : S.Src.Mem) b = static_cast<BYTE>(r());
        for (auto& e : S.Src.S.Palette)
          for (BYTE& b : e) b = static_cast<BYTE>(r());
        break;
      }
      case Change::Relocked:
        std::swap(S.Src.S.Bits, S.Alt.S.Bits);
        break;
      case Change::Rotate:
        P.Rotate = !P.Rotate;
        P.Angle = s.Angle;
        break;
      default:
        break;
    }
    drawn.push_back(P);
    dxrtest::UseWords words(P.Words);
    DXRSetKernelVectorsEnabled(P.Vectors);
    DXRSurface& src = P.UseOther ? S.Other.S : S.Src.S;
    DXRSurface& dest = P.UseOtherDest ? S.OtherDest.S : S.Dest.S;
    if (P.Rotate)
      DXRBlendRotateBlit(dest, src, P.DestRect.Left, P.DestRect.Top,
                         P.DestRect.Right - P.DestRect.Left, P.DestRect.Bottom - P.DestRect.Top,
                         P.SrcRect, 0.5, 0.5, P.Angle, P.Op, P.Alpha, P.Transparent, P.Key);
    else
      DXRBlendBlit(dest, src, P.DestRect, P.SrcRect, P.Op, P.Alpha, P.Transparent, P.Key);
    DXRSetKernelVectorsEnabled(true);
    After a;
    a.Dest = S.Dest.Mem;
    a.Dest.insert(a.Dest.end(), S.OtherDest.Mem.begin(), S.OtherDest.Mem.end());
    for (int i = 0; i < m.NodeCount; ++i)
      a.Nodes.push_back({m.Nodes[i].Kind, m.Nodes[i].ChannelMask, m.Nodes[i].Value});
    a.MachineDest = m.Dest;
    for (int i = 0; i < 4; ++i) a.Temporaries[i] = m.Temporaries[i];
    a.U = m.TextureStages[0].U;
    a.V = m.TextureStages[0].V;
    a.X = m.X;
    a.Y = m.Y;
    a.Compiled = m.Compiled;
    a.Chosen = m.Plan.Kernel.Chosen;
    a.SIMD = m.Plan.Kernel.SIMD;
    a.NodeCount = m.NodeCount;
    a.TemporaryCount = m.TemporaryCount;
    a.StepCount = m.Plan.Steps.size();
    a.MMXUsed = m.MMXUsed;
    a.Dither = m.Dither;
    a.Gradient = m.ColorSlots[1].Gradient;
    a.OtherStage = m.TextureStages[3].Surface;
    a.Drawn = std::string(P.Rotate ? "rotated" : "plain") + " op " + std::to_string(P.Op) +
              " alpha " + std::to_string(P.Alpha) + (P.Transparent ? " keyed" : "") +
              (P.Words ? " words" : " bytes") + (P.Vectors ? "" : " portable");
    out.push_back(std::move(a));
  }
  Reused = DXRBlendReuseCount() - before;
  Restored = DXRBlendRestoreCount() - restoredBefore;
  DXRSetBlendReuseEnabled(true);
  return out;
}

std::vector<Step> RandomSteps(std::mt19937& Rng, const TestPixels& Src, int Count) {
  static const DXRBlendOp kOps[] = {1, 3, 5, 8, 9, 10, 12, 2};
  static const int kAlphas[] = {0, 1, 127, 128, 255, 256, -1};
  std::vector<Step> steps(static_cast<std::size_t>(Count));
  for (Step& s : steps) {
    // Half the draws repeat the one before, a quarter go back to the one before that; the
    // others change one thing.
    const int r = Pick(Rng, 0, 3);
    s.What = r < 2    ? Change::None
             : r == 2 ? Change::Back
                      : static_cast<Change>(Pick(Rng, 1, static_cast<int>(Change::Count) - 1));
    s.Dx = Pick(Rng, -3, 3);
    s.Dy = Pick(Rng, -3, 3);
    s.Alpha = kAlphas[Pick(Rng, 0, 6)];
    s.Op = kOps[Pick(Rng, 0, 7)];
    s.Angle = Pick(Rng, 0, 255);
    s.Key = Src.Get(Pick(Rng, 0, Src.S.Width - 1), Pick(Rng, 0, Src.S.Height - 1));
    for (auto& g : s.Dirt)
      for (WORD& w : g.W) w = static_cast<WORD>(Pick(Rng, 0, 3) == 0 ? Rng() : Rng() & 0xFF00);
    s.Seed = static_cast<unsigned>(Rng());
  }
  return steps;
}

TEST(DXRBlendReuse, RepeatedBlitsLeaveWhatFreshCompilesLeave) {
  // Only routines with a kernel are kept.
  if (!DXRKernelsEnabled()) GTEST_SKIP() << "kernels are off for this run";
  // The sequences write the shared machine's temporaries; they are put back at the end, so no
  // later test sees them.
  const dxrtest::KeepDefaultMachine kept;
  std::mt19937 rng(20261210);
  constexpr int kSequences = 400, kSteps = 12;
  std::uint64_t reusedTotal = 0, restoredTotal = 0;
  for (int c = 0; c < kSequences; ++c) {
    const Format& sf = kFormats[Pick(rng, 0, 4)];
    const Format& df = kFormats[Pick(rng, 0, 3)];
    const int sw = Pick(rng, 1, 24), sh = Pick(rng, 1, 24);
    TestPixels src = dxrtest::RandomPicture(sf, sw, sh, rng);
    TestPixels other = dxrtest::RandomPicture(sf, sw, sh, rng);
    TestPixels dest = dxrtest::RandomPicture(df, Pick(rng, 4, 40), Pick(rng, 4, 40), rng);
    Params p;
    p.SrcRect = TRect{0, 0, sw, sh};
    // Unscaled mostly, as sprites are drawn; sometimes scaled.
    const int dw = Pick(rng, 0, 3) == 0 ? Pick(rng, 1, 30) : sw;
    const int dh = Pick(rng, 0, 3) == 0 ? Pick(rng, 1, 30) : sh;
    const int x = Pick(rng, -dw / 2, dest.S.Width - 1), y = Pick(rng, -dh / 2, dest.S.Height - 1);
    p.DestRect = TRect{x, y, x + dw, y + dh};
    p.Op = static_cast<DXRBlendOp>(Pick(rng, 0, 1) ? 10 : 1);
    const std::vector<Step> steps = RandomSteps(rng, src, kSteps);

    Scene a{src, other, src, dest, dest}, b{src, other, src, dest, dest};
    std::uint64_t reused = 0, reusedOff = 0, restored = 0, restoredOff = 0;
    const std::vector<After> with = RunSequence(a, p, steps, true, reused, restored);
    const std::vector<After> without = RunSequence(b, p, steps, false, reusedOff, restoredOff);
    SCOPED_TRACE("sequence " + std::to_string(c) + ": " + sf.Name + " onto " + df.Name);
    ASSERT_EQ(reusedOff, 0u);
    for (int i = 0; i < kSteps; ++i) {
      SCOPED_TRACE("draw " + std::to_string(i) + " change " +
                   std::to_string(static_cast<int>(steps[static_cast<std::size_t>(i)].What)) +
                   ": " + with[static_cast<std::size_t>(i)].Drawn);
      const After& l = with[static_cast<std::size_t>(i)];
      const After& r = without[static_cast<std::size_t>(i)];
      ASSERT_EQ(l.Dest, r.Dest);
      for (int t = 0; t < 4; ++t)
        ASSERT_EQ(l.Temporaries[t], r.Temporaries[t]) << "temporary " << t;
      ASSERT_EQ(l.U, r.U);
      ASSERT_EQ(l.V, r.V);
      ASSERT_EQ(l.X, r.X);
      ASSERT_EQ(l.Y, r.Y);
      ASSERT_EQ(l.Compiled, r.Compiled);
      ASSERT_EQ(l.Chosen, r.Chosen);
      ASSERT_EQ(l.SIMD, r.SIMD);
      ASSERT_EQ(l.NodeCount, r.NodeCount);
      ASSERT_EQ(l.TemporaryCount, r.TemporaryCount);
      ASSERT_EQ(l.Nodes, r.Nodes);
      ASSERT_EQ(l.MachineDest == &a.Dest.S, r.MachineDest == &b.Dest.S);
      ASSERT_EQ(l.MachineDest == &a.OtherDest.S, r.MachineDest == &b.OtherDest.S);
      ASSERT_EQ(l.StepCount, r.StepCount);
      ASSERT_EQ(l.MMXUsed, r.MMXUsed);
      ASSERT_EQ(l.Dither, r.Dither);
      ASSERT_EQ(l.Gradient, r.Gradient);
      ASSERT_EQ(l.OtherStage, r.OtherStage);
    }
    reusedTotal += reused;
    restoredTotal += restored;
  }
  // Repeats are half the draws; most of them have a kernel and so reuse the routine.
  EXPECT_GT(reusedTotal, static_cast<std::uint64_t>(kSequences * kSteps / 3)) << reusedTotal;
  // Going back copies the earlier routine back into the machine.
  EXPECT_GT(restoredTotal, static_cast<std::uint64_t>(kSequences * kSteps / 40)) << restoredTotal;
}

}  // namespace

// Sprites drawn through the surfaces' blended drawing, which locks both surfaces for every
// call: a draw with the set-up of the draw before it reuses its routine, and the picture is the
// one drawn without reuse.
class BlendReuseSurfaceTest : public dxrtest::DrawnSurfaceTest {
 protected:
  void TearDown() override {
    DXRSetBlendReuseEnabled(true);
    DrawnSurfaceTest::TearDown();
  }
  // Frames of two sprites moving over a background, blended, added and copied.
  std::vector<DWORD> DrawFrames(bool Reuse, std::uint64_t& Reused, std::uint64_t& Restored) {
    // A fresh machine keeps no routine of an earlier test.
    DXRFreeDefaultMachine();
    DXRSetBlendReuseEnabled(Reuse);
    const std::uint64_t before = DXRBlendReuseCount(), restoredBefore = DXRBlendRestoreCount();
    TDirectDrawSurface* screen = Make(64, 48);
    TDirectDrawSurface* sprite = Make(16, 16);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) screen->SetPixels(x, y, 0x203040u + 0x010203u * (x ^ y));
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) sprite->SetPixels(x, y, 0x806040u + 0x030201u * (x + 16 * y));
    const TRect all = Rect(0, 0, 16, 16);
    for (int frame = 0; frame < 6; ++frame) {
      const int x = 3 * frame - 4, y = 2 * frame;
      screen->DrawAlpha(Rect(x, y, x + 16, y + 16), all, sprite, false, 128);
      screen->DrawAlpha(Rect(x + 20, 30, x + 36, 46), all, sprite, false, 128);
      screen->DrawAdd(Rect(40 - x, y, 56 - x, y + 16), all, sprite, false, 255);
    }
    std::vector<DWORD> pixels;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) pixels.push_back(screen->Pixels(x, y));
    delete sprite;
    delete screen;
    Reused = DXRBlendReuseCount() - before;
    Restored = DXRBlendRestoreCount() - restoredBefore;
    DXRSetBlendReuseEnabled(true);
    return pixels;
  }
};

TEST_F(BlendReuseSurfaceTest, RepeatedSpriteDrawsReuseTheirRoutine) {
  std::uint64_t reused = 0, reusedOff = 0, restored = 0, restoredOff = 0;
  const std::vector<DWORD> with = DrawFrames(true, reused, restored);
  const std::vector<DWORD> without = DrawFrames(false, reusedOff, restoredOff);
  EXPECT_EQ(with, without);
  EXPECT_EQ(reusedOff, 0u);
  // Only the first frame compiles, once for the alpha blend and once for the add; in later
  // frames the first alpha draw and the add have their kept routine copied back, and the
  // second alpha draw runs the one the machine holds.
  if (DXRKernelsEnabled()) {
    EXPECT_EQ(reused, 16u);
    EXPECT_EQ(restored, 10u);
  }
}
