#include <gtest/gtest.h>

#include "DXRenderTestSupport.h"

using dxrtest::Bytes;
using dxrtest::Group;

namespace {

// The result group starts with fractions of its own, so tests see which words an operation
// writes whole and which only in their high byte.
const DXRChannelGroup kStale = Group(0x0011, 0x0022, 0x0033, 0x0044);

DXRChannelGroup Blend(DXRBlendOp Op, bool Words, const DXRChannelGroup& L, const DXRChannelGroup& R,
                      BYTE Mask = 15) {
  DXRChannelGroup d = kStale;
  DXRComputeBlendOp(Op, Words, d, L, R, Mask);
  return d;
}

TEST(DXRBlendOps, CopiesAndZeroTakeWholeGroupsInBothForms) {
  const DXRChannelGroup l = Group(0x1234, 0x5678, 0x9ABC, 0xDEF0);
  const DXRChannelGroup r = Group(1, 2, 3, 4);
  for (bool words : {false, true}) {
    EXPECT_EQ(Blend(0, words, l, r, 1), DXRChannelGroup{});
    EXPECT_EQ(Blend(1, words, l, r, 1), l);
    EXPECT_EQ(Blend(12, words, l, r, 1), l);
    EXPECT_EQ(Blend(2, words, l, r, 1), r);
  }
  // Nothing at all for an empty mask or an operation past the last.
  EXPECT_EQ(Blend(1, false, l, r, 0), kStale);
  EXPECT_EQ(Blend(17, false, l, r), kStale);
  EXPECT_EQ(Blend(17, true, l, r), kStale);
}

TEST(DXRBlendOps, AddAndSubtractSaturate) {
  const DXRChannelGroup l = Bytes(200, 10, 0, 255), r = Bytes(100, 20, 0, 1);
  // Byte form: high bytes only, per channel of the mask.
  EXPECT_EQ(Blend(3, false, l, r), Group(0xFF11, 0x1E22, 0x0033, 0xFF44));
  EXPECT_EQ(Blend(3, false, l, r, 5), Group(0xFF11, 0x0022, 0x0033, 0x0044));
  // Word form: whole words, every channel.
  EXPECT_EQ(Blend(3, true, l, r, 5), Group(0xFFFF, 0x1E00, 0x0000, 0xFFFF));

  const DXRChannelGroup a = Bytes(200, 10, 50, 0), b = Bytes(100, 20, 50, 0);
  EXPECT_EQ(Blend(4, false, a, b), Group(0x6411, 0x0022, 0x0033, 0x0044));
  EXPECT_EQ(Blend(4, true, a, b), Group(0x6400, 0, 0, 0));
  EXPECT_EQ(Blend(5, false, a, b), Group(0x0011, 0x0A22, 0x0033, 0x0044));
  EXPECT_EQ(Blend(5, true, a, b), Group(0, 0x0A00, 0, 0));

  // With zero fractions the two forms agree on every high byte; with fractions the word form
  // carries them into the result.
  const DXRChannelGroup f = Group(0x40FF, 0, 0, 0), g = Group(0x4001, 0, 0, 0);
  EXPECT_EQ(Blend(3, false, f, g).W[0] >> 8, 0x80);
  EXPECT_EQ(Blend(3, true, f, g).W[0] >> 8, 0x81);
}

TEST(DXRBlendOps, MultiplyLosesTheTopUnit) {
  const DXRChannelGroup l = Bytes(255, 128, 2, 255), r = Bytes(255, 128, 255, 0);
  for (DXRBlendOp op : {DXRBlendOp{6}, DXRBlendOp{15}}) {
    EXPECT_EQ(Blend(op, false, l, r), Group(0xFE11, 0x4022, 0x0133, 0x0044)) << int(op);
    // Both words halved, the signed high product taken, then scaled by four.
    EXPECT_EQ(Blend(op, true, l, r), Group(0xFE00, 0x4000, 0x01FC, 0x0000)) << int(op);
  }
  // Operation 14: colours multiplied, the alpha byte from the left whatever the mask.
  EXPECT_EQ(Blend(14, true, Bytes(255, 128, 10, 77), Bytes(255, 255, 0, 200), 1),
            Group(0xFE11, 0x0022, 0x0033, 0x4D44));
}

TEST(DXRBlendOps, AlphaScaledOperations) {
  const DXRChannelGroup l = Bytes(100, 200, 50, 128);
  // Operation 7: pairs give whole words l * a, single channels the high byte (l * a) shr 8; the
  // alpha is scaled by itself.
  EXPECT_EQ(Blend(7, false, l, DXRZeroGroup), Group(0x3200, 0x6400, 0x1900, 0x4000));
  EXPECT_EQ(Blend(7, false, l, DXRZeroGroup, 5), Group(0x3211, 0x0022, 0x1933, 0x0044));
  EXPECT_EQ(Blend(7, false, l, DXRZeroGroup, 9), Group(0x3211, 0x0022, 0x0033, 0x4044));
  // No word form: the option changes nothing.
  EXPECT_EQ(Blend(7, true, l, DXRZeroGroup), Blend(7, false, l, DXRZeroGroup));

  // Operation 8: 255 * 255 scaled is 254.
  EXPECT_EQ(Blend(8, false, Bytes(255, 100, 0, 255), Bytes(0, 100, 7, 3)),
            Group(0xFE11, 0xC722, 0x0733, 0xFF44));
  // Operation 9 clamps at zero.
  EXPECT_EQ(Blend(9, true, Bytes(255, 100, 0, 128), Bytes(200, 10, 7, 200)),
            Group(0x4911, 0x0022, 0x0733, 0x8844));
}

TEST(DXRBlendOps, AlphaBlendPairAndSingleFormsDifferByOne) {
  const DXRChannelGroup l = Bytes(255, 0, 255, 128), r = Bytes(255, 255, 0, 0);
  // Pairs: whole words l * a + r * (255 - a).
  EXPECT_EQ(Blend(10, false, l, r), Group(0xFE01, 0x7E81, 0x7F80, 0x4000));
  // B alone of its pair: r + floor((l - r) * a / 256).
  EXPECT_EQ(Blend(10, false, l, r, 7), Group(0xFE01, 0x7E81, 0x7F33, 0x0044));
  EXPECT_EQ(Blend(10, false, l, r, 2), Group(0x0011, 0x7F22, 0x0033, 0x0044));
  // 255 over 255 is 254 in pairs and 255 alone; so is 0 over 255 at alpha 0.
  EXPECT_EQ(Blend(10, false, Bytes(255, 255, 0, 9), Bytes(255, 255, 0, 0), 3).W[0] >> 8, 254);
  EXPECT_EQ(Blend(10, false, Bytes(255, 255, 0, 9), Bytes(255, 255, 0, 0), 1).W[0] >> 8, 255);
  EXPECT_EQ(Blend(10, false, Bytes(0, 0, 0, 0), Bytes(255, 255, 0, 0), 3).W[0] >> 8, 254);
  EXPECT_EQ(Blend(10, false, Bytes(0, 0, 0, 0), Bytes(255, 255, 0, 0), 1).W[0] >> 8, 255);

  // Operation 11 exchanges the weights.
  const DXRChannelGroup m = Bytes(255, 0, 0, 64), n = Bytes(0, 255, 0, 0);
  EXPECT_EQ(Blend(11, false, m, n), Group(0xBE41, 0x3FC0, 0x0000, 0x2FC0));
  EXPECT_EQ(Blend(11, true, m, n, 1), Group(0xBE11, 0x0022, 0x0033, 0x0044));
}

TEST(DXRBlendOps, MixedColourAndAlphaOperations) {
  const DXRChannelGroup l = Group(0x1234, 0x5678, 0x9ABC, 0xDEF0), r = Bytes(0, 0, 0, 0x42);
  for (bool words : {false, true}) {
    // Operation 13: the left group, then the right's alpha byte.
    EXPECT_EQ(Blend(13, words, l, r), Group(0x1234, 0x5678, 0x9ABC, 0x42F0));
    EXPECT_EQ(Blend(13, words, l, r, 8), Group(0x0011, 0x0022, 0x0033, 0x4244));
    // Some colours only: those come from the left too.
    EXPECT_EQ(Blend(13, words, l, r, 9), Group(0x1234, 0x0022, 0x0033, 0x4244));
  }
  // Operation 16: colours added, the alpha byte from the right when wanted.
  const DXRChannelGroup a = Bytes(200, 100, 0, 10), b = Bytes(100, 100, 0, 99);
  EXPECT_EQ(Blend(16, false, a, b), Group(0xFF11, 0xC822, 0x0033, 0x6344));
  EXPECT_EQ(Blend(16, false, a, b, 7), Group(0xFF11, 0xC822, 0x0033, 0x0044));
  EXPECT_EQ(Blend(16, true, a, b), Group(0xFFFF, 0xC800, 0x0000, 0x6300));
  EXPECT_EQ(Blend(16, true, a, b, 7), Group(0xFFFF, 0xC800, 0x0000, 0x6D00));
}

TEST(DXRBlendOps, WordFormsAreUsedWhereTheyExistAndFlagged) {
  for (DXRBlendOp op = 0; op <= 16; ++op) {
    const bool expected = !(op >= 7 && op <= 11) && op != 14;
    EXPECT_EQ(DXRBlendOpHasWordForm(op), expected) << int(op);
  }
  dxrtest::UseWords on(true);
  if (!on.Active()) GTEST_SKIP() << "no word arithmetic on this processor";
  // Through a machine: slot colours with fractions, added with the option on and off.
  dxrtest::TestPixels dst = dxrtest::TestPixels::ARGB32(1, 1);
  auto draw = [&](bool words) {
    dxrtest::UseWords mode(words);
    TDXRMachine m;
    m.Reset();
    m.Dest = &dst.S;
    m.ColorSlots[0].Color = Group(0x40FF, 0x1000, 0xF000, 0x0000);
    m.ColorSlots[1].Color = Group(0x4001, 0x2000, 0x2000, 0x0100);
    DXRNode* l = m.AddKindNode(DXR_NODE_COLORSLOT);
    DXRNode* r = m.AddKindNode(DXR_NODE_COLORSLOT);
    r->Value = 1;
    m.Compile(m.AddBlendNode(3, l, r));
    EXPECT_EQ(m.MMXUsed, words);
    m.Run(1);
    return dst.Get(0, 0);
  };
  EXPECT_EQ(draw(false), 0x018030FFu);
  EXPECT_EQ(draw(true), 0x018130FFu);
}

}  // namespace
