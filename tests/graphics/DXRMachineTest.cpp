#include <gtest/gtest.h>

#include <cmath>

#include "DXRenderTestSupport.h"
#include "platform/rtl/SysUtils.h"

using dxrtest::Bytes;
using dxrtest::Group;
using dxrtest::TestPixels;
using dxrtest::UseWords;

namespace {

// A machine with a destination and one source stage, ready for a tree.
struct Rig {
  TDXRMachine M;
  explicit Rig(DXRSurface& Dest) {
    M.Reset();
    M.Dest = &Dest;
  }
  DXRTextureStage& Stage(int I, DXRSurface& S) {
    M.TextureStages[I].Surface = &S;
    M.TextureStages[I].NoWrap = 1;
    return M.TextureStages[I];
  }
  void RunAt(int X, int Y, int Count, int U = 0, int V = 0) {
    M.X = X;
    M.Y = Y;
    M.TextureStages[0].U = U;
    M.TextureStages[0].V = V;
    M.Run(Count);
  }
};

TEST(DXRSurfaceFormat, ChannelsOfCommonFormats) {
  TestPixels p = TestPixels::RGB565(4, 4);
  const DXRChannel* c = p.S.Channels;
  EXPECT_EQ(c[0].Mask, 0xF800u);
  EXPECT_EQ(c[0].RightShift, 8u);
  EXPECT_EQ(c[0].LeftShift, 0u);
  EXPECT_EQ(c[1].Mask, 0x07E0u);
  EXPECT_EQ(c[1].RightShift, 3u);
  EXPECT_EQ(c[2].Mask, 0x001Fu);
  EXPECT_EQ(c[2].RightShift, 0u);
  EXPECT_EQ(c[2].LeftShift, 3u);
  EXPECT_EQ(c[3].Mask, 0u);
  EXPECT_EQ(c[3].BitCount, 0u);
  EXPECT_EQ(c[3].RightShift, 23u);  // no bit set: the lowest is taken as 31
  EXPECT_EQ(DXRSurfaceChannels(p.S), 7);

  TestPixels i = TestPixels::Indexed(4, 4, 8);
  EXPECT_EQ(i.S.ColorType, DXR_COLORTYPE_INDEXED);
  EXPECT_EQ(i.S.IndexChannel().Mask, 0xFFu);
  EXPECT_EQ(i.S.IndexChannel().RightShift, 0u);
  EXPECT_EQ(DXRSurfaceChannels(i.S), 7);

  TestPixels a = TestPixels::ARGB32(4, 4);
  EXPECT_EQ(DXRSurfaceChannels(a.S), 15);
  EXPECT_FALSE(DXRFormatsEqual(a.S, TestPixels::XRGB32(2, 2).S));
  // Bit count and size do not count.
  EXPECT_TRUE(DXRFormatsEqual(TestPixels::RGB(2, 2, 24, 0xFF0000, 0xFF00, 0xFF).S,
                              TestPixels::XRGB32(8, 8).S));
}

TEST(DXRSurfaceFormat, SizesShiftsAndMasks) {
  EXPECT_EQ(HighBitIndex(0), 0u);
  EXPECT_EQ(HighBitIndex(1), 0u);
  EXPECT_EQ(HighBitIndex(0x80000000u), 31u);
  EXPECT_EQ(LowBitIndex(0), 31u);
  EXPECT_EQ(LowBitIndex(0x80000000u), 31u);
  EXPECT_EQ(LowBitIndex(0x60), 5u);

  TestPixels p = TestPixels::XRGB32(100, 48);
  EXPECT_EQ(p.S.WidthShift, 6u);
  EXPECT_EQ(p.S.WrapWidth, 64u);
  EXPECT_EQ(p.S.WidthMask, 99u);  // from the width itself
  EXPECT_EQ(p.S.HeightShift, 5u);
  EXPECT_EQ(p.S.HeightMask, 31u);  // from the wrap height
  EXPECT_EQ(p.S.PitchShift, 8u);   // 400 bytes
}

TEST(DXRTables, AnglesClampsAndMultiplyDivide) {
  EXPECT_EQ(Sin256(64), 1.0);
  EXPECT_EQ(Cos256(0), 1.0);
  EXPECT_EQ(Cos256(128), -1.0);
  // Quarter turns of an extended-precision pi: tiny, not zero, and cut to 0 by the set-up.
  EXPECT_NE(Cos256(64), 0.0);
  EXPECT_LT(std::fabs(Cos256(64)), 1e-15);
  EXPECT_NE(Sin256(0), 0.0);
  EXPECT_EQ(Trunc(Cos256(64) * 65536), 0);
  EXPECT_NEAR(Cos256(32), std::sqrt(0.5), 1e-15);

  EXPECT_EQ(DXRUpperClampTable[300], 255);
  EXPECT_EQ(DXRUpperClampTable[17], 17);
  EXPECT_EQ(DXRLowerClamp[-200], 0);
  EXPECT_EQ(DXRLowerClamp[200], 200);

  EXPECT_EQ(MulDiv64(-7, 1, 2), -3);  // truncates toward zero
  EXPECT_EQ(MulDiv64(3, 65536, 2), 98304);
  EXPECT_EQ(MulDiv64(100000, 100000, 10), 1000000000);  // the product needs 64 bits
  EXPECT_EQ(MulDiv64(0x10000, 0x10000, 1), 0);          // the result is kept to 32 bits
  EXPECT_THROW(MulDiv64(1, 1, 0), EDivByZero);
}

TEST(DXRFetch, EveryBitCountReadsItsTexel) {
  auto at = [](const TestPixels& p, int c, int r, BYTE mode = 1) {
    DXRFetch f;
    f.Bits = p.S.Bits;
    f.Pitch = p.S.Pitch;
    f.WidthMask = p.S.WidthMask;
    f.HeightMask = p.S.HeightMask;
    f.Width = p.S.Width;
    f.Height = p.S.Height;
    f.BitCount = p.S.BitCount;
    f.Mode = mode;
    DWORD v = 0xDEAD;
    EXPECT_TRUE(DXRFetchTexel(f, static_cast<DWORD>(c) << 16, static_cast<DWORD>(r) << 16, v));
    return v;
  };
  TestPixels one = TestPixels::Indexed(16, 2, 1);
  one.Mem[0] = 0x80;  // column 0 is bit 7
  one.Mem[1] = 0x81;  // columns 8 and 15
  EXPECT_EQ(at(one, 0, 0), 1u);
  EXPECT_EQ(at(one, 7, 0), 0u);
  EXPECT_EQ(at(one, 8, 0), 1u);
  EXPECT_EQ(at(one, 15, 0), 1u);
  EXPECT_EQ(at(one, 14, 0), 0u);

  TestPixels two = TestPixels::Indexed(8, 1, 2);
  two.Mem[0] = 0x1B;  // 00 01 10 11
  EXPECT_EQ(at(two, 0, 0), 0u);
  EXPECT_EQ(at(two, 1, 0), 1u);
  EXPECT_EQ(at(two, 2, 0), 2u);
  EXPECT_EQ(at(two, 3, 0), 3u);

  TestPixels four = TestPixels::Indexed(4, 1, 4);
  four.Mem[0] = 0xA5;
  EXPECT_EQ(at(four, 0, 0), 0xAu);
  EXPECT_EQ(at(four, 1, 0), 0x5u);  // odd columns are the low nibble

  TestPixels t24 = TestPixels::RGB(4, 2, 24, 0xFF0000, 0xFF00, 0xFF);
  BYTE* px = t24.S.Bits + t24.Pitch + 3;  // (1, 1)
  px[0] = 0x11, px[1] = 0x22, px[2] = 0x33;
  EXPECT_EQ(at(t24, 1, 1), 0x332211u);

  TestPixels t16 = TestPixels::RGB565(4, 4);
  t16.Set(3, 2, 0xBEEF);
  EXPECT_EQ(at(t16, 3, 2), 0xBEEFu);

  // Bottom-up rows (a negative power-of-two pitch) and a pitch that is no power of two.
  TestPixels up = TestPixels::RGB(256, 4, 32, 0xFF0000, 0xFF00, 0xFF, 0, -1024);
  up.Set(200, 3, 0x123456);
  EXPECT_EQ(at(up, 200, 3), 0x123456u);
  EXPECT_EQ(up.Mem[200 * 4], 0x56);  // the last row is first in memory
  TestPixels odd = TestPixels::RGB(250, 3, 32, 0xFF0000, 0xFF00, 0xFF, 0, 1000);
  odd.Set(249, 2, 0xABCDEF);
  EXPECT_EQ(at(odd, 249, 2), 0xABCDEFu);
}

TEST(DXRFetch, WrappingUsesTheMasksAndPlainFetchStaysInside) {
  TestPixels sq = TestPixels::XRGB32(64, 64);
  sq.Set(6, 3, 0x66);
  DXRFetch f{sq.S.Bits, sq.S.Pitch, sq.S.WidthMask, sq.S.HeightMask, 64, 64, 32, 0};
  DWORD v = 0;
  ASSERT_TRUE(DXRFetchTexel(f, 70u << 16, 67u << 16, v));
  EXPECT_EQ(v, 0x66u);

  // 100 wide: the column is (U shr 16) and 99, not a modulo.
  TestPixels wide = TestPixels::XRGB32(100, 4);
  wide.Set(96, 0, 0xA);
  wide.Set(0, 0, 0xB);
  DXRFetch g{wide.S.Bits, wide.S.Pitch, wide.S.WidthMask, wide.S.HeightMask, 100, 4, 32, 0};
  ASSERT_TRUE(DXRFetchTexel(g, 100u << 16, 0, v));  // 100 and 99 = 96
  EXPECT_EQ(v, 0xAu);
  ASSERT_TRUE(DXRFetchTexel(g, 4u << 16, 0, v));  // 4 and 99 = 0
  EXPECT_EQ(v, 0xBu);
  ASSERT_TRUE(DXRFetchTexel(g, 99u << 16, 0, v));
  EXPECT_EQ(v, 0u);

  // A plain fetch outside the picture reads nothing and skips the pixel.
  g.Mode = 1;
  EXPECT_FALSE(DXRFetchTexel(g, 100u << 16, 0, v));
  EXPECT_FALSE(DXRFetchTexel(g, 0xFFFF0000u, 0, v));
  EXPECT_FALSE(DXRFetchTexel(g, 0, 4u << 16, v));
  // Any other mode fetches nothing at all: the pixel value stays.
  g.Mode = 2;
  v = 0x1234;
  EXPECT_TRUE(DXRFetchTexel(g, 4u << 16, 0, v));
  EXPECT_EQ(v, 0x1234u);
}

TEST(DXRDecodePack, ChannelsComeOutAtTheTopOfAByte) {
  TestPixels s = TestPixels::RGB565(2, 2);
  DXRChannelGroup defaults = Group(0x1111, 0x2222, 0x3333, 0x4455);
  DXRDecode d = DXRMakeDecode(s.S, defaults, 15);
  DXRChannelGroup g = Group(0x00AA, 0x00BB, 0x00CC, 0x00DD);
  DXRDecodePixel(d, 0xFFFF, g);
  // High bytes only for present channels; the whole default word for the missing alpha.
  EXPECT_EQ(g, Group(0xF8AA, 0xFCBB, 0xF8CC, 0x4455));

  // Alpha alone on a surface without alpha writes the default word and nothing else.
  g = Group(1, 2, 3, 4);
  DXRDecodePixel(DXRMakeDecode(s.S, defaults, 8), 0xFFFF, g);
  EXPECT_EQ(g, Group(1, 2, 3, 0x4455));
  DXRDecodePixel(DXRMakeDecode(s.S, defaults, 0), 0xFFFF, g);
  EXPECT_EQ(g, Group(1, 2, 3, 0x4455));

  // Packing is the inverse, with narrow channels cut to their top bits.
  DXRPack p = DXRMakePack(s.S, 7, false);
  EXPECT_EQ(DXRPackPixel(p, Bytes(0xF8, 0xFC, 0xF8, 0x77), 0, 0), 0xFFFFu);
  EXPECT_EQ(DXRPackPixel(p, Bytes(0x08, 0x04, 0x0F, 0), 0, 0), (1u << 11) | (1u << 5) | 1u);
  p = DXRMakePack(s.S, 1, false);  // channels outside the mask are zero in the pixel
  EXPECT_EQ(DXRPackPixel(p, Bytes(0xFF, 0xFF, 0xFF, 0), 0, 0), 0xF800u);
}

TEST(DXRDecodePack, IndexedPicturesDecodeThroughTheirPalette) {
  TestPixels src = TestPixels::Indexed(4, 1, 4);
  src.Set(0, 0, 2);
  src.Set(1, 0, 15);
  src.S.Palette[2][0] = 10, src.S.Palette[2][1] = 20, src.S.Palette[2][2] = 30;
  src.S.Palette[15][0] = 200, src.S.Palette[15][1] = 201, src.S.Palette[15][2] = 202;
  TestPixels dst = TestPixels::XRGB32(4, 1);
  Rig r(dst.S);
  r.Stage(0, src.S);
  r.M.Compile(r.M.AddTextureNode(0));
  r.RunAt(0, 0, 2, 0, 0);
  EXPECT_EQ(dst.Get(0, 0), 0x0A141Eu);
  r.RunAt(1, 0, 1, 1 << 16, 0);
  EXPECT_EQ(dst.Get(1, 0), 0xC8C9CAu);

  // Onto an indexed destination the red value is the index.
  TestPixels rgb = TestPixels::XRGB32(2, 1);
  rgb.Set(0, 0, 0x07FFFF);
  TestPixels idx = TestPixels::Indexed(2, 1, 8);
  Rig q(idx.S);
  q.Stage(0, rgb.S);
  q.M.Compile(q.M.AddTextureNode(0));
  q.RunAt(0, 0, 1);
  EXPECT_EQ(idx.Get(0, 0), 7u);
}

TEST(DXRDecodePack, DitherRaisesByPositionAndLevel) {
  TestPixels dst = TestPixels::RGB565(2, 2);
  Rig r(dst.S);
  r.M.Dither = true;
  r.M.ColorSlots[0].Color = Bytes(10, 66, 255, 0);
  DXRNode* n = r.M.AddKindNode(DXR_NODE_COLORSLOT);
  r.M.Compile(n);
  r.RunAt(0, 0, 2);
  EXPECT_EQ(r.M.X, 2);  // the dithering column moves with the pixels
  r.RunAt(0, 1, 2);
  auto px = [](unsigned R, unsigned G, unsigned B) { return (R << 11) | (G << 5) | B; };
  // Red 10 is level 1: raised to 18 only at even X, even Y. Green 66 (6 bits) is level 2:
  // raised at positions 0 and 3. Blue 255 stays 255 through the clamp.
  EXPECT_EQ(dst.Get(0, 0), px(2, 17, 31));
  EXPECT_EQ(dst.Get(1, 0), px(1, 16, 31));
  EXPECT_EQ(dst.Get(0, 1), px(1, 16, 31));
  EXPECT_EQ(dst.Get(1, 1), px(1, 17, 31));

  // 8-bit channels are never dithered.
  TestPixels wide = TestPixels::XRGB32(2, 1);
  Rig w(wide.S);
  w.M.Dither = true;
  w.M.ColorSlots[0].Color = Bytes(10, 66, 255, 0);
  w.M.Compile(w.M.AddKindNode(DXR_NODE_COLORSLOT));
  w.RunAt(0, 0, 2);
  EXPECT_EQ(wide.Get(0, 0), 0x0A42FFu);
  EXPECT_EQ(wide.Get(1, 0), 0x0A42FFu);
}

TEST(DXRColorKey, KeyedTexelsLeaveTheDestinationAlone) {
  // 32-bit without alpha: the top byte is no part of the key.
  TestPixels src = TestPixels::XRGB32(4, 1);
  src.Set(0, 0, 0xFF000000);
  src.Set(1, 0, 0x00000000);
  src.Set(2, 0, 0x00000001);
  src.Set(3, 0, 0x12000000);
  TestPixels dst = TestPixels::XRGB32(4, 1);
  dst.FillAll(0xABCDEF);
  Rig r(dst.S);
  DXRTextureStage& t = r.Stage(0, src.S);
  t.Transparent = 1;
  t.ColorKey = 0;
  t.StepU = 1 << 16;
  r.M.Compile(r.M.AddTextureNode(0));
  r.RunAt(0, 0, 4);
  EXPECT_EQ(dst.Get(0, 0), 0xABCDEFu);
  EXPECT_EQ(dst.Get(1, 0), 0xABCDEFu);
  EXPECT_EQ(dst.Get(2, 0), 0x000001u);
  EXPECT_EQ(dst.Get(3, 0), 0xABCDEFu);
  EXPECT_EQ(t.U, 4 << 16);  // skipped pixels still advance

  // With an alpha channel the key compares the colour bits only, and a key with alpha bits in
  // it never matches.
  TestPixels a = TestPixels::RGB(3, 1, 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  a.Set(0, 0, 0x801F);
  a.Set(1, 0, 0x001F);
  a.Set(2, 0, 0x0020);
  TestPixels d16 = TestPixels::RGB(3, 1, 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  d16.FillAll(0x1234);
  for (DWORD key : {0x001Fu, 0x801Fu}) {
    Rig q(d16.S);
    DXRTextureStage& s = q.Stage(0, a.S);
    s.Transparent = 1;
    s.ColorKey = key;
    s.StepU = 1 << 16;
    q.M.Compile(q.M.AddTextureNode(0));
    q.RunAt(0, 0, 3);
    const bool matches = key == 0x001F;
    EXPECT_EQ(d16.Get(0, 0), matches ? 0x1234u : 0x801Fu) << key;
    EXPECT_EQ(d16.Get(1, 0), matches ? 0x1234u : 0x001Fu) << key;
    EXPECT_EQ(d16.Get(2, 0), 0x0020u) << key;
    d16.FillAll(0x1234);
  }
}

TEST(DXRReads, BilinearWeightsSumTo255Squared) {
  for (unsigned v : {255u, 200u, 128u}) {
    TestPixels src = TestPixels::XRGB32(2, 2);
    src.FillAll(v * 0x010101u);
    TestPixels dst = TestPixels::XRGB32(1, 1);
    Rig r(dst.S);
    DXRTextureStage& t = r.Stage(0, src.S);
    t.NoWrap = 0;
    t.Filter = 1;
    r.M.Compile(r.M.AddTextureNode(0));
    r.RunAt(0, 0, 1);
    const unsigned e = (v * 255 * 255) >> 16;  // 253, 198, 127
    EXPECT_EQ(dst.Get(0, 0), e * 0x010101u) << v;
  }

  // Half way across a red edge; the neighbours wrap around the 2 x 2 picture. Only the first
  // texel is keyed.
  TestPixels src = TestPixels::XRGB32(2, 2);
  src.Set(1, 0, 0xFF0000);
  src.Set(1, 1, 0xFF0000);
  TestPixels dst = TestPixels::XRGB32(2, 1);
  Rig r(dst.S);
  DXRTextureStage& t = r.Stage(0, src.S);
  t.NoWrap = 0;
  t.Filter = 3;
  t.Transparent = 1;
  t.ColorKey = 0xFF0000;
  t.StepU = 1 << 16;
  r.M.Compile(r.M.AddTextureNode(0));
  r.RunAt(0, 0, 2, 0x8000, 0);
  EXPECT_EQ(dst.Get(0, 0), 0x7F0000u);  // (255 * 128 * 255) shr 16
  EXPECT_EQ(dst.Get(1, 0), 0u);         // starts on a keyed texel
}

TEST(DXRReads, TwoStageReadIsDisplacedByTheSecondStage) {
  TestPixels a = TestPixels::XRGB32(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) a.Set(x, y, static_cast<DWORD>(x + 16 * y));
  TestPixels b = TestPixels::Indexed(8, 8, 8);
  b.Set(1, 4, 3);
  b.Set(2, 4, 5);  // two columns right
  b.Set(2, 3, 7);
  b.Set(2, 1, 6);  // one row up
  TestPixels dst = TestPixels::XRGB32(1, 1);
  Rig r(dst.S);
  DXRTextureStage& sa = r.Stage(0, a.S);
  DXRTextureStage& sb = r.Stage(1, b.S);
  sa.NoWrap = sb.NoWrap = 0;
  sb.StepU = sb.StepV = 1 << 16;
  sb.U = 2 << 16;
  sb.V = 4 << 16;
  DXRNode* pair = r.M.AddKindNode(DXR_NODE_TEXTUREPAIR);
  pair->Value = 0;
  pair->SecondStage = 1;
  r.M.Compile(pair);
  EXPECT_TRUE(sb.Used);
  r.RunAt(0, 0, 1, 1 << 16, 3 << 16);
  EXPECT_EQ(dst.Get(0, 0), static_cast<DWORD>(3 + 16 * 2));
  EXPECT_EQ(sb.U, 3 << 16);  // the second stage advances too
}

TEST(DXRAdvance, GradientsCarryOnlyInTheByteForm) {
  for (bool words : {false, true}) {
    UseWords mode(words);
    if (words && !mode.Active()) GTEST_SKIP() << "no word arithmetic on this processor";
    TestPixels dst = TestPixels::ARGB32(2, 1);
    Rig r(dst.S);
    DXRColorSlot& s = r.M.ColorSlots[0];
    s.Color = Group(0xFFF0, 0x10FF, 0xFFFF, 0x20FF);
    s.Step = Group(0x0020, 0x0000, 0x0001, 0x0000);
    s.Gradient = 1;
    r.M.Compile(r.M.AddKindNode(DXR_NODE_COLORSLOT));
    EXPECT_EQ(r.M.MMXUsed, words);
    r.RunAt(0, 0, 2);
    EXPECT_EQ(dst.Get(0, 0), 0x20FF10FFu);  // the colour before the first step
    if (words) {
      EXPECT_EQ(s.Color, Group(0x0030, 0x10FF, 0x0001, 0x20FF));
      EXPECT_EQ(dst.Get(1, 0), 0x20001000u);
    } else {
      // R's and B's carries enter G and A.
      EXPECT_EQ(s.Color, Group(0x0030, 0x1100, 0x0001, 0x2100));
      EXPECT_EQ(dst.Get(1, 0), 0x21001100u);
    }
  }
}

TEST(DXRAdvance, FixedStepsAreTakenAtCompileUnlessWordsAreUsed) {
  for (bool words : {false, true}) {
    UseWords mode(words);
    if (words && !mode.Active()) GTEST_SKIP() << "no word arithmetic on this processor";
    TestPixels src = TestPixels::XRGB32(16, 2);
    TestPixels dst = TestPixels::RGB565(4, 1);
    Rig r(dst.S);
    DXRTextureStage& t = r.Stage(0, src.S);
    t.StepU = 1 << 16;
    t.StepV = 0;
    t.FixedSteps = 1;
    r.M.Compile(r.M.AddTextureNode(0));
    t.StepU = 2 << 16;
    t.StepV = 1 << 8;
    r.RunAt(0, 0, 3);
    EXPECT_EQ(t.U, (words ? 6 : 3) << 16) << words;
    EXPECT_EQ(t.V, words ? 3 << 8 : 0) << words;  // a zero fixed step keeps V
  }
}

TEST(DXRRun, NothingRunsWithoutACountOrARoutine) {
  TestPixels dst = TestPixels::XRGB32(2, 1);
  dst.FillAll(0x55);
  Rig r(dst.S);
  r.M.ColorSlots[0].Color = Bytes(1, 2, 3, 0);
  r.M.Run(2);  // nothing compiled
  EXPECT_EQ(dst.Get(0, 0), 0x55u);
  r.M.Compile(r.M.AddKindNode(DXR_NODE_COLORSLOT));
  r.RunAt(0, 0, 0);
  r.RunAt(0, 0, -3);
  EXPECT_EQ(dst.Get(0, 0), 0x55u);
  r.RunAt(1, 0, 1);
  EXPECT_EQ(dst.Get(0, 0), 0x55u);
  EXPECT_EQ(dst.Get(1, 0), 0x010203u);
  r.M.Reset();
  EXPECT_FALSE(r.M.Compiled);
  r.M.Run(1);
}

TEST(DXRRun, SolidFillsWriteEveryPixelOfTheRun) {
  // 16 bits from an odd pixel (address 2 modulo 4), and 32 bits.
  TestPixels d16 = TestPixels::RGB565(8, 1);
  Rig r(d16.S);
  r.M.ColorSlots[0].Color = Bytes(0xFF, 0, 0xFF, 0);
  r.M.Compile(r.M.AddKindNode(DXR_NODE_COLORSLOT));
  r.RunAt(1, 0, 5);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(d16.Get(x, 0), x >= 1 && x <= 5 ? 0xF81Fu : 0u) << x;
  EXPECT_EQ(r.M.X, 1);  // nothing advances on the fast path

  TestPixels d32 = TestPixels::XRGB32(5, 1);
  Rig q(d32.S);
  q.M.ColorSlots[0].Color = Bytes(1, 2, 3, 4);
  q.M.Compile(q.M.AddKindNode(DXR_NODE_COLORSLOT));
  q.RunAt(0, 0, 5);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(d32.Get(x, 0), 0x010203u);
}

TEST(DXRTreeSimplify, CopiesAndEmptyOperandsFallAway) {
  TestPixels src = TestPixels::XRGB32(2, 1);
  src.Set(0, 0, 0x7F123456);  // junk in the spare byte shows whether texels were decoded
  TestPixels dst = TestPixels::XRGB32(2, 1);
  auto draw = [&](auto build) {
    dst.FillAll(0x00AABBCC);
    Rig r(dst.S);
    r.Stage(0, src.S);
    r.M.Compile(build(r.M));
    r.RunAt(0, 0, 1);
    return std::make_pair(dst.Get(0, 0), r.M.TextureStages[0].Used != 0);
  };
  auto T = [](TDXRMachine& m) { return m.AddTextureNode(0); };
  auto D = [](TDXRMachine& m) { return m.AddKindNode(DXR_NODE_DEST); };
  auto none = [](TDXRMachine& m) { return m.AddKindNode(DXR_NODE_NONE); };

  // Blend(1, T, D) is the texture read alone: raw texels, spare byte and all.
  EXPECT_EQ(draw([&](TDXRMachine& m) { return m.AddBlendNode(1, T(m), D(m)); }),
            std::make_pair(DWORD{0x7F123456}, true));
  EXPECT_EQ(draw([&](TDXRMachine& m) { return m.AddBlendNode(12, T(m), D(m)); }).first,
            0x7F123456u);
  // Blend(0, T, D) writes zero and reads nothing.
  EXPECT_EQ(draw([&](TDXRMachine& m) { return m.AddBlendNode(0, T(m), D(m)); }),
            std::make_pair(DWORD{0}, false));
  // Blend(2, T, D) is the destination decoded and stored again.
  EXPECT_EQ(draw([&](TDXRMachine& m) { return m.AddBlendNode(2, T(m), D(m)); }),
            std::make_pair(DWORD{0x00AABBCC}, false));
  // Adding nothing (an operation 0 below) leaves the other operand.
  EXPECT_EQ(draw([&](TDXRMachine& m) {
              return m.AddBlendNode(3, T(m), m.AddBlendNode(0, D(m), D(m)));
            }).first,
            0x7F123456u);
  EXPECT_EQ(draw([&](TDXRMachine& m) { return m.AddBlendNode(3, none(m), T(m)); }).first,
            0x7F123456u);
  EXPECT_EQ(draw([&](TDXRMachine& m) { return m.AddBlendNode(5, none(m), T(m)); }).first,
            0x7F123456u);
  // Right minus a texel when there is no right: zero, not the texel.
  EXPECT_EQ(draw([&](TDXRMachine& m) { return m.AddBlendNode(5, T(m), none(m)); }),
            std::make_pair(DWORD{0}, false));
  // An operation past 16 computes nothing: the pixel is the temporary as it was (zeroed here).
  {
    Rig r(dst.S);
    r.Stage(0, src.S);
    for (auto& t : r.M.Temporaries) t = DXRChannelGroup{};
    r.M.Compile(r.M.AddBlendNode(17, T(r.M), D(r.M)));
    r.RunAt(1, 0, 1);
    EXPECT_EQ(dst.Get(1, 0), 0u);
  }
}

TEST(DXRTreeSimplify, OperandMasksFollowTheOperation) {
  TDXRMachine m;
  m.Reset();
  DXRNode* l = m.AddKindNode(DXR_NODE_COLORSLOT);
  DXRNode* r = m.AddKindNode(DXR_NODE_COLORSLOT);
  r->Value = 1;
  DXRNode* b = m.AddBlendNode(10, l, r);
  b->ChannelMask = 7;
  DXRNode* root = b;
  DXRSimplifyTree(root);
  EXPECT_EQ(root, b);
  EXPECT_EQ(l->ChannelMask, 15);  // the alpha that weighs the blend is read too
  EXPECT_EQ(r->ChannelMask, 7);

  DXRNode* scaled = m.AddBlendNode(7, l, r);
  scaled->ChannelMask = 1;
  root = scaled;
  DXRSimplifyTree(root);
  EXPECT_EQ(l->ChannelMask, 9);
  EXPECT_EQ(scaled->Right, nullptr);  // never read, so dropped

  DXRNode* copy = m.AddBlendNode(1, l, r);
  copy->ChannelMask = 6;
  root = copy;
  DXRSimplifyTree(root);
  EXPECT_EQ(root, l);
  EXPECT_EQ(l->ChannelMask, 6);
}

TEST(DXRDepth, TestedWrittenAndSteppedPerPixel) {
  TestPixels depth = TestPixels::RGB(4, 1, 16, 0, 0, 0);
  const DWORD stored[4] = {10, 3, 7, 7};
  for (int x = 0; x < 4; ++x) depth.Set(x, 0, stored[x]);
  TestPixels dst = TestPixels::XRGB32(4, 1);
  Rig r(dst.S);
  r.M.ZBuffer = &depth.S;
  r.M.ZCompare = 1;  // skip where the stored depth is less than the pixel's
  r.M.ZWrite = 1;
  r.M.ColorSlots[0].Color = Bytes(9, 9, 9, 0);
  r.M.Compile(r.M.AddKindNode(DXR_NODE_COLORSLOT));
  r.M.DepthValue = 5LL << 32;
  r.M.DepthStep = 1LL << 32;
  r.RunAt(0, 0, 4);
  EXPECT_EQ(dst.Get(0, 0), 0x090909u);
  EXPECT_EQ(dst.Get(1, 0), 0u);
  EXPECT_EQ(dst.Get(2, 0), 0x090909u);
  EXPECT_EQ(dst.Get(3, 0), 0u);
  EXPECT_EQ(depth.Get(0, 0), 5u);
  EXPECT_EQ(depth.Get(1, 0), 3u);
  EXPECT_EQ(depth.Get(2, 0), 7u);
  EXPECT_EQ(depth.Get(3, 0), 7u);
  EXPECT_EQ(r.M.DepthValue, 9LL << 32);
}

TEST(DXRMachineLimits, PoolsRaiseInsteadOfOverrunning) {
  TDXRMachine m;
  m.Reset();
  for (int i = 0; i < TDXRMachine::MaxNodes; ++i) m.AddNode();
  EXPECT_THROW(m.AddNode(), ERangeError);
  m.Reset();
  EXPECT_NO_THROW(m.AddNode());
  EXPECT_THROW(m.AddTextureNode(8), ERangeError);

  TestPixels dst = TestPixels::XRGB32(1, 1);
  m.Reset();
  m.Dest = &dst.S;
  DXRNode* slot = m.AddKindNode(DXR_NODE_COLORSLOT);
  slot->Value = 9;
  EXPECT_THROW(m.Compile(slot), ERangeError);
  EXPECT_FALSE(m.Compiled);
  m.Reset();
  m.Dest = &dst.S;
  EXPECT_THROW(m.Compile(m.AddTextureNode(3)), ERangeError);  // a stage without a surface
}

}  // namespace

namespace {

TEST(DXRRun, LiteralsIndexedKeysAnd24BitStores) {
  // A literal root on a 24-bit destination: bytes CC, BB, AA.
  TestPixels d24 = TestPixels::RGB(2, 1, 24, 0xFF0000, 0xFF00, 0xFF);
  Rig r(d24.S);
  DXRNode* lit = r.M.AddKindNode(DXR_NODE_LITERAL);
  lit->Color = Bytes(0xAA, 0xBB, 0xCC, 0);
  r.M.Compile(lit);
  r.RunAt(1, 0, 1);
  EXPECT_EQ(d24.Mem[3], 0xCC);
  EXPECT_EQ(d24.Mem[4], 0xBB);
  EXPECT_EQ(d24.Mem[5], 0xAA);
  EXPECT_EQ(d24.Mem[0], 0);

  // A literal operand: a texel plus a constant colour.
  TestPixels src = TestPixels::XRGB32(1, 1);
  src.Set(0, 0, 0x10F020);
  TestPixels dst = TestPixels::XRGB32(1, 1);
  Rig q(dst.S);
  q.Stage(0, src.S);
  DXRNode* c = q.M.AddKindNode(DXR_NODE_LITERAL);
  c->Color = Bytes(1, 0x20, 2, 0);
  q.M.Compile(q.M.AddBlendNode(DXR_BLEND_ADD, q.M.AddTextureNode(0), c));
  q.RunAt(0, 0, 1);
  EXPECT_EQ(dst.Get(0, 0), 0x11FF22u);

  // An indexed source compares the whole texel with its key.
  TestPixels i8 = TestPixels::Indexed(3, 1, 8);
  i8.Set(0, 0, 5);
  i8.Set(1, 0, 6);
  i8.Set(2, 0, 5);
  TestPixels j8 = TestPixels::Indexed(3, 1, 8);
  j8.FillAll(1);
  Rig k(j8.S);
  DXRTextureStage& t = k.Stage(0, i8.S);
  t.Transparent = 1;
  t.ColorKey = 5;
  t.StepU = 1 << 16;
  k.M.Compile(k.M.AddTextureNode(0));
  k.RunAt(0, 0, 3);
  EXPECT_EQ(j8.Get(0, 0), 1u);
  EXPECT_EQ(j8.Get(1, 0), 6u);
  EXPECT_EQ(j8.Get(2, 0), 1u);
}

TEST(DXRDepth, AlwaysAndNeverConditions) {
  for (BYTE cond : {BYTE{0}, BYTE{7}, BYTE{8}}) {
    TestPixels depth = TestPixels::RGB(2, 1, 32, 0, 0, 0);
    depth.FillAll(0x7FFFFFFF);
    TestPixels dst = TestPixels::XRGB32(2, 1);
    Rig r(dst.S);
    r.M.ZBuffer = &depth.S;
    r.M.ZCompare = cond;  // 0 never skips, 7 makes no compare, past 7 nothing is emitted
    r.M.ZWrite = cond == 7;
    r.M.ColorSlots[0].Color = Bytes(1, 1, 1, 0);
    r.M.Compile(r.M.AddKindNode(DXR_NODE_COLORSLOT));
    r.M.DepthValue = -(3LL << 32);
    r.RunAt(0, 0, 2);
    EXPECT_EQ(dst.Get(1, 0), 0x010101u) << int(cond);
    EXPECT_EQ(depth.Get(1, 0), cond == 7 ? 0xFFFFFFFDu : 0x7FFFFFFFu) << int(cond);
  }
}

}  // namespace
