// The precompiled kernels against the per-pixel plan: random blits and rotated blits drawn once
// with kernels and once without, which must leave the same bytes, the same temporaries and the
// same stage coordinates; and the kernel must have been chosen wherever it is built for the
// routine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "DXRenderTestSupport.h"

using dxrtest::Pick;
using dxrtest::TestPixels;

namespace {

// Setting MORVANE_DXR_PLAN_ONLY runs the whole program with kernels off, so every other test
// of the renderer also checks the plan alone.
const bool PlanOnly = [] {
  const bool off = std::getenv("MORVANE_DXR_PLAN_ONLY") != nullptr;
  if (off) DXRSetKernelsEnabled(false);
  return off;
}();

// Every test here puts the shared default machine back as it found it.
class DXRKernel : public ::testing::Test {
 private:
  dxrtest::KeepDefaultMachine Kept;
};

struct Format {
  const char* Name;
  int Bits;
  DWORD R, G, B, A;
  bool Indexed;
  bool Kernel;  // kernels are built for it
  bool Wide;    // 8-8-8 in 32 bits: the vector rows read and write it
};
const Format kFormats[] = {
    {"XRGB8888", 32, 0xFF0000, 0xFF00, 0xFF, 0, false, true, true},
    {"ARGB8888", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, false, true, true},
    {"RGB565", 16, 0xF800, 0x07E0, 0x001F, 0, false, true, false},
    {"XRGB1555", 16, 0x7C00, 0x03E0, 0x001F, 0, false, true, false},
    {"ARGB1555", 16, 0x7C00, 0x03E0, 0x001F, 0x8000, false, true, false},
    {"RGB888", 24, 0xFF0000, 0xFF00, 0xFF, 0, false, true, false},
    {"Indexed8", 8, 0, 0, 0, 0, true, true, false},
    // Formats the kernels leave to the plan.
    {"XBGR8888", 32, 0xFF, 0xFF00, 0xFF0000, 0, false, false, false},
    {"ARGB4444", 16, 0x0F00, 0x00F0, 0x000F, 0xF000, false, false, false},
    {"Indexed4", 4, 0, 0, 0, 0, true, false, false},
};
constexpr int kFormatCount = sizeof(kFormats) / sizeof(kFormats[0]);

template <class T, std::size_t N>
T PickOf(std::mt19937& Rng, const T (&List)[N]) {
  return List[static_cast<std::size_t>(Pick(Rng, 0, static_cast<int>(N) - 1))];
}
// Sizes lean to the edges: 1, small odd ones, and a few wider than a vector.
int PickSize(std::mt19937& Rng) {
  const int r = Pick(Rng, 0, 9);
  return r == 0 ? 1 : r < 4 ? Pick(Rng, 1, 9) : Pick(Rng, 10, 41);
}

// A machine drawing its first stage, Src stepped a texel a pixel along each row and never
// wrapped, onto Dest, as the blit layer sets up an unscaled blit; the caller sets the rest.
DXRTextureStage& StepAlongRows(TDXRMachine& M, DXRSurface& Dest, DXRSurface& Src) {
  M.Dest = &Dest;
  DXRTextureStage& t = M.TextureStages[0];
  t.Surface = &Src;
  t.NoWrap = 1;
  t.StepU = 0x10000;
  t.FixedSteps = 1;
  return t;
}
// Compiles the blend Op of the first stage onto the destination.
void CompileOntoDest(TDXRMachine& M, int Op) {
  M.Compile(M.AddBlendNode(static_cast<DXRBlendOp>(Op), M.AddTextureNode(0),
                           M.AddKindNode(DXR_NODE_DEST)));
}

struct Draw {
  bool Rotate = false;
  TRect DestRect, SrcRect;
  int X = 0, Y = 0, Width = 0, Height = 0, Angle = 0;
  double CenterX = 0, CenterY = 0;
  DXRBlendOp Op = 1;
  int Alpha = 0;
  bool Transparent = false;
  DWORD Key = 0;
  bool Words = true;
  bool Vectors = true;
  bool DirtyTemporaries = false;  // temporaries with non-zero fractions before the draw
  std::string Describe() const {
    return std::string(Rotate ? "rotate" : "blit") + " op " + std::to_string(Op) + " alpha " +
           std::to_string(Alpha) + (Transparent ? " keyed" : "") + (Words ? " words" : " bytes") +
           (Vectors ? "" : " portable") + (DirtyTemporaries ? " dirty" : "") + " angle " +
           std::to_string(Angle);
  }
};

// The default machine's state that a draw leaves and a later one may read.
struct MachineState {
  DXRChannelGroup Temporaries[4];
  int U = 0, V = 0;
  bool Compiled = false;
  bool Chosen = false;
  bool SIMD = false;
  bool Wide = false;
};

MachineState RunDraw(DXRSurface& Dest, DXRSurface& Src, const Draw& D, bool Kernels,
                     const DXRChannelGroup (&Seed)[4]) {
  TDXRMachine& m = *DXRDefaultMachine();
  m.Reset();
  for (int i = 0; i < 4; ++i) m.Temporaries[i] = Seed[i];
  DXRSetKernelsEnabled(Kernels);
  DXRSetKernelVectorsEnabled(D.Vectors);
  dxrtest::UseWords words(D.Words);
  if (D.Rotate)
    DXRBlendRotateBlit(Dest, Src, D.X, D.Y, D.Width, D.Height, D.SrcRect, D.CenterX, D.CenterY,
                       D.Angle, D.Op, D.Alpha, D.Transparent, D.Key);
  else
    DXRBlendBlit(Dest, Src, D.DestRect, D.SrcRect, D.Op, D.Alpha, D.Transparent, D.Key);
  DXRSetKernelsEnabled(true);
  DXRSetKernelVectorsEnabled(true);
  MachineState s;
  for (int i = 0; i < 4; ++i) s.Temporaries[i] = m.Temporaries[i];
  s.U = m.TextureStages[0].U;
  s.V = m.TextureStages[0].V;
  s.Compiled = m.Compiled;
  s.Chosen = m.Plan.Kernel.Chosen;
  s.SIMD = m.Plan.Kernel.SIMD;
  s.Wide = m.Plan.Kernel.Wide;
  return s;
}

// Whether a kernel is built for this draw: known formats, an operation the blit layer builds,
// a destination that is no indexed picture unless copied raw, and fractions that cannot
// separate the two arithmetics.
bool KernelExpected(const Format& S, const Format& Dst, const Draw& D, bool SelfDraw,
                    const DXRChannelGroup (&Seed)[4]) {
  if (!S.Kernel || !Dst.Kernel || SelfDraw) return false;
  // Equal masks copy raw whatever the depths.
  const bool same = &S == &Dst || (!S.Indexed && !Dst.Indexed && S.R == Dst.R && S.G == Dst.G &&
                                   S.B == Dst.B && S.A == Dst.A);
  const BYTE op = D.Op & 127;
  if (op == 1 || op == 12) return !Dst.Indexed || same;
  if (Dst.Indexed) return false;
  if (op != 3 && op != 5 && op != 8 && op != 9 && op != 10) return false;
  if (D.Words && (op == 3 || op == 5)) {
    // The source's temporary and the destination's read channels the destination has.
    const BYTE srcHas =
        S.Indexed ? 7 : (S.R ? 1 : 0) | (S.G ? 2 : 0) | (S.B ? 4 : 0) | (S.A ? 8 : 0);
    const BYTE mask = (Dst.R ? 1 : 0) | (Dst.G ? 2 : 0) | (Dst.B ? 4 : 0) | (Dst.A ? 8 : 0);
    for (int k = 0; k < 4; ++k) {
      if (!((mask >> k) & 1)) continue;
      if (((srcHas >> k) & 1) && (Seed[1].W[k] & 0xFF)) return false;
      if (Seed[2].W[k] & 0xFF) return false;
    }
  }
  return true;
}

Draw RandomDraw(std::mt19937& Rng, const TestPixels& Src, const TestPixels& Dest) {
  static const int kAlphas[] = {0, 1, 127, 128, 254, 255, 256, 300, -1};
  static const DXRBlendOp kOps[] = {1, 1, 3, 3, 5, 5, 8, 9, 10, 10, 10, 0, 2, 4, 12, 129};
  static const int kAngles[] = {0, 64, 128, 192, 32, 1, 17, 77, 200, 255};
  static const double kCenters[] = {0, 0.5, 1, 0.25, -0.5};
  Draw d;
  d.Op = PickOf(Rng, kOps);
  d.Alpha = Pick(Rng, 0, 3) == 0 ? Pick(Rng, 0, 255) : PickOf(Rng, kAlphas);
  d.Words = Pick(Rng, 0, 1) == 1;
  d.Vectors = Pick(Rng, 0, 3) != 0;
  d.DirtyTemporaries = Pick(Rng, 0, 4) == 0;
  d.Transparent = Pick(Rng, 0, 2) == 0;
  // Mostly a key some texel has, so that keyed pixels occur.
  d.Key = Pick(Rng, 0, 3) != 0
              ? Src.Get(Pick(Rng, 0, Src.S.Width - 1), Pick(Rng, 0, Src.S.Height - 1))
              : static_cast<DWORD>(Rng());
  const int sw = Src.S.Width, sh = Src.S.Height;
  const int l = Pick(Rng, 0, sw - 1), t = Pick(Rng, 0, sh - 1);
  d.SrcRect = TRect{l, t, Pick(Rng, l + 1, sw), Pick(Rng, t + 1, sh)};
  const int w = d.SrcRect.Right - d.SrcRect.Left, h = d.SrcRect.Bottom - d.SrcRect.Top;
  d.Rotate = Pick(Rng, 0, 3) == 0;
  if (d.Rotate) {
    d.Angle = PickOf(Rng, kAngles);
    d.Width = Pick(Rng, 0, 2) == 0 ? w : Pick(Rng, 1, 40);
    d.Height = Pick(Rng, 0, 2) == 0 ? h : Pick(Rng, 1, 40);
    d.X = Pick(Rng, -10, Dest.S.Width + 10);
    d.Y = Pick(Rng, -10, Dest.S.Height + 10);
    d.CenterX = PickOf(Rng, kCenters);
    d.CenterY = PickOf(Rng, kCenters);
    return d;
  }
  // Unscaled, scaled up or down by factors or freely; placed so that clipping occurs.
  const int scale = Pick(Rng, 0, 5);
  int dw = w, dh = h;
  if (scale == 3) dw = 2 * w, dh = 2 * h;
  if (scale == 4) dw = (w + 1) / 2, dh = (h + 1) / 2;
  if (scale == 5) dw = Pick(Rng, 1, 50), dh = Pick(Rng, 1, 50);
  const int x = Pick(Rng, -dw, Dest.S.Width), y = Pick(Rng, -dh, Dest.S.Height);
  d.DestRect = TRect{x, y, x + dw, y + dh};
  return d;
}

TEST_F(DXRKernel, RandomDrawsGiveThePlansBytesAndState) {
  if (PlanOnly) GTEST_SKIP() << "kernels are off for this run";
  std::mt19937 rng(20261209);
  std::uint64_t before[3];
  for (int s = 0; s < 3; ++s) before[s] = DXRKernelRunCount(static_cast<DXRKernelStepping>(s));
  const std::uint64_t wideBefore = DXRKernelWideRunCount();
  int chosen = 0, vector = 0;
  constexpr int kCases = 6000;
  for (int c = 0; c < kCases; ++c) {
    // Mostly the formats kernels are built for; sometimes one they are not.
    // Half the cases are the 32-bit pictures the game draws.
    const auto pickFormat = [&rng] {
      const int r = Pick(rng, 0, 19);
      return r < 10 ? Pick(rng, 0, 1) : r < 18 ? Pick(rng, 0, 6) : Pick(rng, 0, kFormatCount - 1);
    };
    const int sfi = pickFormat(), dfi = pickFormat();
    const Format& sf = kFormats[sfi];
    // Now and then two pictures of one format, so the same-format raw copy gets its share.
    const Format& df = Pick(rng, 0, 3) == 0 ? sf : kFormats[dfi];
    const bool self = Pick(rng, 0, 30) == 0;
    TestPixels src = dxrtest::RandomPicture(sf, PickSize(rng), PickSize(rng), rng);
    TestPixels dst = self ? src : dxrtest::RandomPicture(df, PickSize(rng), PickSize(rng), rng);
    const Format& dfmt = self ? sf : df;
    const Draw d = RandomDraw(rng, src, dst);

    DXRChannelGroup seed[4];
    if (d.DirtyTemporaries)
      for (auto& g : seed)
        for (WORD& w : g.W) w = static_cast<WORD>(rng());

    TestPixels srcA = src, srcB = src, dstA = dst, dstB = dst;
    DXRSurface& sa = self ? dstA.S : srcA.S;
    DXRSurface& sb = self ? dstB.S : srcB.S;
    const MachineState a = RunDraw(dstA.S, sa, d, true, seed);
    const MachineState b = RunDraw(dstB.S, sb, d, false, seed);

    SCOPED_TRACE("case " + std::to_string(c) + ": " + sf.Name + " onto " + dfmt.Name + " " +
                 std::to_string(src.S.Width) + "x" + std::to_string(src.S.Height) + " -> " +
                 std::to_string(dst.S.Width) + "x" + std::to_string(dst.S.Height) + ", " +
                 d.Describe());
    ASSERT_EQ(dstA.Mem, dstB.Mem);
    ASSERT_EQ(a.Compiled, b.Compiled);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(a.Temporaries[i], b.Temporaries[i]) << "temporary " << i;
    ASSERT_EQ(a.U, b.U);
    ASSERT_EQ(a.V, b.V);
    ASSERT_FALSE(b.Chosen);
    if (a.Compiled) {
      ASSERT_EQ(a.Chosen, KernelExpected(sf, dfmt, d, self, seed));
      if (a.Chosen) {
        ASSERT_EQ(a.SIMD, d.Vectors && sf.Wide && dfmt.Wide);
        // Unkeyed raw copies between equal 8-8-8 formats move 32 bytes at a time where the
        // processor can.
        const bool raw = &sf == &dfmt && ((d.Op & 127) == 1 || (d.Op & 127) == 12);
        ASSERT_EQ(a.Wide, a.SIMD && raw && !d.Transparent && DXRKernelHasWideRows());
      }
      chosen += a.Chosen;
      vector += a.SIMD;
    }
  }
  // Every stepping drew, and the kernels were the common case.
  for (int s = 0; s < 3; ++s)
    EXPECT_GT(DXRKernelRunCount(static_cast<DXRKernelStepping>(s)), before[s] + 100)
        << "stepping " << s;
  if (DXRKernelHasWideRows()) {
    EXPECT_GT(DXRKernelWideRunCount(), wideBefore + 100);
  }
  EXPECT_GT(chosen, kCases / 3);
  EXPECT_GT(vector, kCases / 20);
}

// Machines the blit layer never sets up stay with the plan, and draw what it draws.
TEST_F(DXRKernel, RoutinesWithoutAKernelRunThePlan) {
  if (PlanOnly) GTEST_SKIP() << "kernels are off for this run";
  struct Variant {
    const char* Name;
    void (*Change)(TDXRMachine& M, DXRSurface& Depth);
  };
  static const Variant kVariants[] = {
      {"dither", [](TDXRMachine& M, DXRSurface&) { M.Dither = true; }},
      {"bilinear", [](TDXRMachine& M, DXRSurface&) { M.TextureStages[0].Filter = 1; }},
      {"wrapping", [](TDXRMachine& M, DXRSurface&) { M.TextureStages[0].NoWrap = 0; }},
      {"no fetch", [](TDXRMachine& M, DXRSurface&) { M.TextureStages[0].NoWrap = 2; }},
      {"depth",
       [](TDXRMachine& M, DXRSurface& Depth) {
         M.ZBuffer = &Depth;
         M.ZCompare = 7;
         M.ZWrite = 1;
       }},
  };
  std::mt19937 rng(7);
  for (const Variant& v : kVariants)
    for (int op : {1, 3, 10}) {
      SCOPED_TRACE(std::string(v.Name) + " op " + std::to_string(op));
      TestPixels src = dxrtest::RandomPicture(kFormats[0], 16, 8, rng);
      TestPixels dst = dxrtest::RandomPicture(kFormats[0], 16, 8, rng);
      TestPixels depth = TestPixels::RGB(16, 8, 32, 0, 0, 0);
      TestPixels outs[2] = {dst, dst};
      for (int kernels = 0; kernels < 2; ++kernels) {
        DXRSetKernelsEnabled(kernels == 1);
        TDXRMachine m;
        DXRTextureStage& t = StepAlongRows(m, outs[kernels].S, src.S);
        for (WORD& w : t.Defaults.W) w = 0x8000;
        v.Change(m, depth.S);
        CompileOntoDest(m, op);
        EXPECT_FALSE(m.Plan.Kernel.Chosen);
        for (int y = 0; y < 8; ++y) {
          m.X = 1;
          m.Y = y;
          t.U = 0x8000 + 0x10000 * y;
          t.V = y << 16;
          m.Run(14);
        }
      }
      DXRSetKernelsEnabled(true);
      EXPECT_EQ(outs[0].Mem, outs[1].Mem);
    }
}

// The same machine, driven directly: runs left and right of the picture, steps changed after
// the compile (read at run time in the word arithmetic), and a compile that reuses the plan.
TEST_F(DXRKernel, DirectRunsAgreeWithThePlan) {
  if (PlanOnly) GTEST_SKIP() << "kernels are off for this run";
  std::mt19937 rng(11);
  // Pairs for the one-pixel rows and for the vector rows.
  const int pairs[][2] = {{1, 2}, {1, 0}, {0, 1}, {0, 0}};
  for (const auto& pair : pairs)
    for (bool words : {false, true})
      for (int op : {1, 3, 8, 10}) {
        SCOPED_TRACE(std::string(kFormats[pair[0]].Name) + " onto " + kFormats[pair[1]].Name +
                     (words ? " words" : " bytes") + " op " + std::to_string(op));
        TestPixels src = dxrtest::RandomPicture(kFormats[pair[0]], 9, 5, rng);
        TestPixels dst = dxrtest::RandomPicture(kFormats[pair[1]], 20, 6, rng);
        TestPixels outs[2] = {dst, dst};
        MachineState ends[2];
        for (int kernels = 0; kernels < 2; ++kernels) {
          dxrtest::UseWords w(words);
          DXRSetKernelsEnabled(kernels == 1);
          TDXRMachine m;
          for (int repeat = 0; repeat < 2; ++repeat) {
            m.Reset();
            DXRTextureStage& t = StepAlongRows(m, outs[kernels].S, src.S);
            // The second compile reads the steps at every pixel in both arithmetics.
            t.FixedSteps = repeat == 0 ? 1 : 0;
            for (WORD& x : t.Defaults.W) x = 0x4000;
            CompileOntoDest(m, op);
            EXPECT_EQ(m.Plan.Kernel.Chosen, kernels == 1);
            const int starts[] = {-3 * 0x10000, 0, 5 * 0x10000 + 0x1234, 12 * 0x10000};
            for (int y = 0; y < 6; ++y) {
              m.X = y;
              m.Y = y;
              t.U = starts[y % 4];
              t.V = (y - 1) * 0x10000;
              if (y == 4) t.StepU = 0x18000;  // a changed step
              if (y == 5) t.StepV = 0x4000;
              m.Run(13);
            }
          }
          for (int i = 0; i < 4; ++i) ends[kernels].Temporaries[i] = m.Temporaries[i];
          ends[kernels].U = m.TextureStages[0].U;
          ends[kernels].V = m.TextureStages[0].V;
        }
        DXRSetKernelsEnabled(true);
        EXPECT_EQ(outs[0].Mem, outs[1].Mem);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(ends[0].Temporaries[i], ends[1].Temporaries[i]);
        EXPECT_EQ(ends[0].U, ends[1].U);
        EXPECT_EQ(ends[0].V, ends[1].V);
      }
}

// An indexed source decodes through its palette as it is when a run draws, also when the
// palette changes between the compile and the runs.
TEST_F(DXRKernel, PaletteChangedAfterCompileIsTheOneDrawn) {
  if (PlanOnly) GTEST_SKIP() << "kernels are off for this run";
  std::mt19937 rng(3);
  TestPixels src = dxrtest::RandomPicture(kFormats[6], 12, 2, rng);
  TestPixels dst = dxrtest::RandomPicture(kFormats[0], 12, 2, rng);
  TestPixels outs[2] = {dst, dst};
  for (int kernels = 0; kernels < 2; ++kernels) {
    DXRSetKernelsEnabled(kernels == 1);
    TestPixels s = src;
    TDXRMachine m;
    DXRTextureStage& t = StepAlongRows(m, outs[kernels].S, s.S);
    CompileOntoDest(m, DXR_BLEND_ADD);
    EXPECT_EQ(m.Plan.Kernel.Chosen, kernels == 1);
    for (int y = 0; y < 2; ++y) {
      for (auto& e : s.S.Palette) e[1] = static_cast<BYTE>(e[1] + 40 * (y + 1));
      m.Y = y;
      t.U = 0;
      t.V = y << 16;
      m.Run(12);
    }
  }
  DXRSetKernelsEnabled(true);
  EXPECT_EQ(outs[0].Mem, outs[1].Mem);
}

// Copies of whole rows between pictures without gaps between rows, also cut at the top or the
// bottom, and with the rows of the source taken from further down.
TEST_F(DXRKernel, WholeRowCopiesMatchThePlan) {
  if (PlanOnly) GTEST_SKIP() << "kernels are off for this run";
  std::mt19937 rng(5);
  struct Copy {
    int Format;
    TRect Dest, Src;
  };
  const Copy copies[] = {
      {0, {0, 0, 8, 6}, {0, 0, 8, 6}}, {1, {0, -2, 8, 4}, {0, 0, 8, 6}},
      {2, {0, 3, 8, 9}, {0, 0, 8, 6}}, {0, {0, 1, 8, 4}, {0, 2, 8, 5}},
      {5, {0, 0, 8, 6}, {0, 0, 8, 6}}, {1, {0, 0, 8, 12}, {0, 0, 8, 6}},
  };
  for (const Copy& c : copies) {
    SCOPED_TRACE(kFormats[c.Format].Name);
    TestPixels src = dxrtest::RandomPicture(kFormats[c.Format], 8, 6, rng);
    TestPixels dst = dxrtest::RandomPicture(kFormats[c.Format], 8, 6, rng);
    TestPixels outs[2] = {dst, dst};
    for (int kernels = 0; kernels < 2; ++kernels) {
      DXRSetKernelsEnabled(kernels == 1);
      DXRBlendBlit(outs[kernels].S, src.S, c.Dest, c.Src, DXR_BLEND_LEFT, 255, false, 0);
    }
    DXRSetKernelsEnabled(true);
    EXPECT_TRUE(DXRDefaultMachine()->Plan.Kernel.Chosen);
    EXPECT_EQ(outs[0].Mem, outs[1].Mem);
  }
}

// Rows of every length up to several vector steps, so that each step width of the vector rows
// (sixteen, eight, four pixels, then single ones) and the 32-byte moves of raw copies run, at
// every alignment of the first pixel; each against the plan.
TEST_F(DXRKernel, RowsOfEveryLengthMatchThePlan) {
  if (PlanOnly) GTEST_SKIP() << "kernels are off for this run";
  // Fractions left in the shared machine's temporaries by earlier draws would keep the add's
  // kernel out; they start clear here (the fixture puts them back).
  for (DXRChannelGroup& t : DXRDefaultMachine()->Temporaries) t = DXRChannelGroup{};
  std::mt19937 rng(13);
  const std::uint64_t wideBefore = DXRKernelWideRunCount();
  for (int f = 0; f < 2; ++f)
    for (int op : {1, 3, 10})
      for (bool keyed : {false, true})
        for (int width = 1; width <= 70; ++width) {
          SCOPED_TRACE(std::string(kFormats[f].Name) + " op " + std::to_string(op) +
                       (keyed ? " keyed" : "") + " width " + std::to_string(width));
          TestPixels src = dxrtest::RandomPicture(kFormats[f], 72, 3, rng);
          TestPixels dst = dxrtest::RandomPicture(kFormats[f], 80, 3, rng);
          const int from = width % 3, to = width % 5;
          const TRect srcRect{from, 0, from + width, 3};
          const TRect destRect{to, 0, to + width, 3};
          const DWORD key = src.Get(width % 7, 1);
          TestPixels outs[2] = {dst, dst};
          for (int kernels = 0; kernels < 2; ++kernels) {
            DXRSetKernelsEnabled(kernels == 1);
            DXRBlendBlit(outs[kernels].S, src.S, destRect, srcRect, static_cast<DXRBlendOp>(op),
                         128, keyed, key);
            if (kernels == 1) {
              EXPECT_TRUE(DXRDefaultMachine()->Plan.Kernel.Chosen);
              EXPECT_TRUE(DXRDefaultMachine()->Plan.Kernel.SIMD);
            }
          }
          DXRSetKernelsEnabled(true);
          ASSERT_EQ(outs[0].Mem, outs[1].Mem);
        }
  if (DXRKernelHasWideRows()) {
    EXPECT_GE(DXRKernelWideRunCount(), wideBefore + 2 * 70 * 3);
  }
}

// A batch of rows that starts above the picture or runs past its bottom draws only the rows
// inside it, as the plan's rows do, in every kind of row (plain, vector, 32-byte moves).
TEST_F(DXRKernel, BatchesOfRowsReachingOutsideThePictureDrawItsRowsOnly) {
  if (PlanOnly) GTEST_SKIP() << "kernels are off for this run";
  std::mt19937 rng(17);
  for (int f : {0, 2})
    for (int op : {1, 10})
      for (int firstRow : {-2, 0, 3, 5}) {
        SCOPED_TRACE(std::string(kFormats[f].Name) + " op " + std::to_string(op) + " first row " +
                     std::to_string(firstRow));
        TestPixels src = dxrtest::RandomPicture(kFormats[f], 20, 6, rng);
        TestPixels dst = dxrtest::RandomPicture(kFormats[f], 24, 9, rng);
        TestPixels outs[2] = {dst, dst};
        for (int kernels = 0; kernels < 2; ++kernels) {
          DXRSetKernelsEnabled(kernels == 1);
          TDXRMachine m;
          DXRTextureStage& t = StepAlongRows(m, outs[kernels].S, src.S);
          for (WORD& w : t.Defaults.W) w = 0x8000;
          CompileOntoDest(m, op);
          const int rows = 7, count = 18, u = 0x10000;
          const int v = firstRow * 0x10000;
          if (kernels == 1) {
            ASSERT_TRUE(DXRRunKernelRows(m, 2, 1, rows, count, u, v, 0x10000));
          } else {
            for (int r = 0; r < rows; ++r) {
              m.X = 2;
              m.Y = 1 + r;
              t.U = u;
              t.V = v + r * 0x10000;
              m.Run(count);
            }
          }
        }
        DXRSetKernelsEnabled(true);
        EXPECT_EQ(outs[0].Mem, outs[1].Mem);
      }
}
}  // namespace
