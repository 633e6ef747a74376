#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "DXRSurfaceTestSupport.h"
#include "DXRenderTestSupport.h"
#include "framework/graphics/DXDraws.h"
#include "platform/rtl/SysUtils.h"

using dxrtest::TestPixels;

namespace {

class BlendDrawTest : public dxrtest::DrawnSurfaceTest {
 protected:
  static void Fill(TDirectDrawSurface* S, DWORD V) {
    for (int y = 0; y < S->Height(); ++y)
      for (int x = 0; x < S->Width(); ++x) S->SetPixels(x, y, V);
  }
  // Every pixel a value of its own in the blue and green bytes.
  static void Number(TDirectDrawSurface* S) {
    for (int y = 0; y < S->Height(); ++y)
      for (int x = 0; x < S->Width(); ++x) S->SetPixels(x, y, N(x, y));
  }
  static DWORD N(int X, int Y) { return 0x010000 + static_cast<DWORD>(X + 1 + 256 * (Y + 1)); }
  static bool Lockable(TDirectDrawSurface* S) {
    DDSURFACEDESC d;
    if (!S->Lock(nullptr, d)) return false;
    S->Unlock();
    return true;
  }
};

TEST_F(BlendDrawTest, LockedSurfacesAsTheRendererSeesThem) {
  TDirectDrawSurface* s16 = Make(10, 4, 16);
  DXRSurface r;
  ASSERT_TRUE(DXRLockSurface(s16->IDDSurface(), r));
  EXPECT_EQ(r.ColorType, DXR_COLORTYPE_RGB);
  EXPECT_EQ(r.Width, 10);
  EXPECT_EQ(r.BitCount, 16u);
  EXPECT_EQ(r.Channels[0].Mask, 0xF800u);
  EXPECT_EQ(r.Channels[0].RightShift, 8u);
  EXPECT_EQ(r.Channels[1].RightShift, 3u);
  EXPECT_EQ(r.Channels[2].LeftShift, 3u);
  EXPECT_EQ(r.Channels[3].Mask, 0u);
  EXPECT_FALSE(Lockable(s16));
  DXRUnlockSurface(s16->IDDSurface(), r);
  EXPECT_TRUE(Lockable(s16));

  TDirectDrawSurface* s8 = Make(4, 4, 8);
  ASSERT_TRUE(DXRLockSurface(s8->IDDSurface(), r));
  EXPECT_EQ(r.ColorType, DXR_COLORTYPE_INDEXED);
  EXPECT_EQ(r.IndexChannel().Mask, 0xFFu);
  EXPECT_EQ(r.AlphaChannel().Mask, 0u);
  EXPECT_EQ(r.Palette[255][2], 0);
  // A second lock fails and leaves the description alone.
  DXRSurface again;
  again.Width = 77;
  EXPECT_FALSE(DXRLockSurface(s8->IDDSurface(), again));
  EXPECT_EQ(again.Width, 77);
  DXRUnlockSurface(s8->IDDSurface(), r);

  TDirectDrawSurface* a = Make(2, 2, 32, true);
  ASSERT_TRUE(DXRLockSurface(a->IDDSurface(), r));
  EXPECT_EQ(DXRSurfaceChannels(r), 15);
  DXRUnlockSurface(a->IDDSurface(), r);
}

TEST_F(BlendDrawTest, AddPicksItsOperationByDestinationAndAlpha) {
  TDirectDrawSurface* src = Make(2, 1, 16);
  TDirectDrawSurface* dst = Make(2, 1, 16);
  Fill(src, 0x8410);  // 128, 128, 128
  const TRect all = Rect(0, 0, 2, 1);
  Fill(dst, 0x8410);
  dst->DrawAdd(all, all, src, false, 255);  // saturating add
  EXPECT_EQ(dst->Pixels(0, 0), 0xFFFFu);
  Fill(dst, 0x8410);
  dst->DrawAdd(all, all, src, false, 128);  // add scaled by 128: 128 + 64
  EXPECT_EQ(dst->Pixels(1, 0), (24u << 11) | (48u << 5) | 24u);
  Fill(dst, 0x8410);
  dst->DrawAdd(all, all, src, false, 0);
  EXPECT_EQ(dst->Pixels(0, 0), 0x8410u);

  // Onto an indexed picture everything is a copy.
  TDirectDrawSurface* i8 = Make(2, 1, 8);
  TDirectDrawSurface* j8 = Make(2, 1, 8);
  Fill(i8, 9);
  Fill(j8, 200);
  j8->DrawAdd(all, all, i8, false, 10);
  EXPECT_EQ(j8->Pixels(0, 0), 9u);
  j8->SetPixels(0, 0, 200);
  j8->DrawSub(all, all, i8, false, 255);
  EXPECT_EQ(j8->Pixels(0, 0), 9u);
  EXPECT_TRUE(Lockable(i8) && Lockable(j8));
}

TEST_F(BlendDrawTest, AlphaBlendsByTheArgumentOrTheSourcesOwnAlpha) {
  TDirectDrawSurface* src = Make(1, 1, 32);
  TDirectDrawSurface* dst = Make(1, 1, 32);
  const TRect one = Rect(0, 0, 1, 1);
  src->SetPixels(0, 0, 0xC86432);  // 200, 100, 50
  dst->SetPixels(0, 0, 0x00C8FA);  // 0, 200, 250
  dst->DrawAlpha(one, one, src, false, 128);
  // R and G blend as a pair, B alone: (200*128)/256, (100*128 + 200*127)/256, 250 - 100.
  EXPECT_EQ(dst->Pixels(0, 0), 0x649596u);

  // Opaque is a copy of the raw texel.
  dst->DrawAlpha(one, one, src, false, 255);
  EXPECT_EQ(dst->Pixels(0, 0), 0xC86432u);

  // A source with alpha blends by its own; the argument only chooses the operation.
  TDirectDrawSurface* a = Make(2, 1, 32, true);
  a->SetPixels(0, 0, 0xFFC86432);
  a->SetPixels(1, 0, 0x00C86432);
  TDirectDrawSurface* d2 = Make(2, 1, 32);
  Fill(d2, 0x00C8FA);
  d2->DrawAlpha(Rect(0, 0, 2, 1), Rect(0, 0, 2, 1), a, false, 10);
  EXPECT_EQ(d2->Pixels(0, 0), 0xC76332u);  // 199, 99, 50
  EXPECT_EQ(d2->Pixels(1, 0), 0x00C7FAu);  // 0, 199, 250
  d2->DrawAlpha(Rect(0, 0, 2, 1), Rect(0, 0, 2, 1), a, false, 255);
  EXPECT_EQ(d2->Pixels(1, 0), 0xC86432u);  // decoded and stored: the alpha byte is dropped
}

TEST_F(BlendDrawTest, SubtractTakesTheSourceFromTheDestination) {
  TDirectDrawSurface* src = Make(1, 1, 32);
  TDirectDrawSurface* dst = Make(1, 1, 32);
  const TRect one = Rect(0, 0, 1, 1);
  src->SetPixels(0, 0, 0x3264FA);  // 50, 100, 250
  dst->SetPixels(0, 0, 0xC83264);  // 200, 50, 100
  dst->DrawSub(one, one, src, false, 255);
  EXPECT_EQ(dst->Pixels(0, 0), 0x960000u);
  dst->SetPixels(0, 0, 0xC83264);
  dst->DrawSub(one, one, src, false, 128);  // 200 - 25, 50 - 50, 100 - 125
  EXPECT_EQ(dst->Pixels(0, 0), 0xAF0000u);
}

TEST_F(BlendDrawTest, TransparentSourcesSkipTheirKeyColour) {
  TDirectDrawSurface* src = Make(3, 1, 32);
  TDirectDrawSurface* dst = Make(3, 1, 32);
  src->SetPixels(1, 0, 0x102030);  // 0 and 2 stay black, the surface's key
  const TRect all = Rect(0, 0, 3, 1);
  for (int alpha : {128, 255}) {
    Fill(dst, 0x808080);
    dst->DrawAlpha(all, all, src, true, alpha);
    EXPECT_EQ(dst->Pixels(0, 0), 0x808080u) << alpha;
    EXPECT_EQ(dst->Pixels(2, 0), 0x808080u) << alpha;
    EXPECT_NE(dst->Pixels(1, 0), 0x808080u) << alpha;
  }
  Fill(dst, 0x808080);
  dst->DrawAdd(all, all, src, false, 255);
  EXPECT_EQ(dst->Pixels(0, 0), 0x808080u);
  EXPECT_EQ(dst->Pixels(1, 0), 0x90A0B0u);
}

TEST_F(BlendDrawTest, ScaledBlitsClipAndStepFromTheWholeRectangle) {
  TestPixels src = TestPixels::XRGB32(8, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) src.Set(x, y, N(x, y));
  TestPixels dst = TestPixels::XRGB32(8, 8);
  auto row = [&](int Y, int Count) {
    std::vector<DWORD> v;
    for (int x = 0; x < Count; ++x) v.push_back(dst.Get(x, Y));
    return v;
  };
  // Partly left of the destination: the source starts SkipX steps in.
  DXRBlendBlit(dst.S, src.S, Rect(-2, 0, 6, 1), Rect(0, 0, 8, 1), 1, 255, false, 0);
  EXPECT_EQ(row(0, 7),
            (std::vector<DWORD>{N(2, 0), N(3, 0), N(4, 0), N(5, 0), N(6, 0), N(7, 0), 0}));
  // Twice the size: steps of 32768, and a clipped start lands half way into a texel.
  DXRBlendBlit(dst.S, src.S, Rect(0, 1, 8, 3), Rect(0, 0, 4, 1), 1, 255, false, 0);
  EXPECT_EQ(row(1, 8), (std::vector<DWORD>{N(0, 0), N(0, 0), N(1, 0), N(1, 0), N(2, 0), N(2, 0),
                                           N(3, 0), N(3, 0)}));
  EXPECT_EQ(row(2, 8), row(1, 8));
  DXRBlendBlit(dst.S, src.S, Rect(-3, 3, 5, 4), Rect(0, 0, 4, 1), 1, 255, false, 0);
  EXPECT_EQ(row(3, 5), (std::vector<DWORD>{N(1, 0), N(2, 0), N(2, 0), N(3, 0), N(3, 0)}));
  // A sub-rectangle, shrunk to half: every other texel, and rows advance too.
  DXRBlendBlit(dst.S, src.S, Rect(0, 4, 2, 6), Rect(4, 0, 8, 4), 1, 255, false, 0);
  EXPECT_EQ(row(4, 2), (std::vector<DWORD>{N(4, 0), N(6, 0)}));
  EXPECT_EQ(row(5, 2), (std::vector<DWORD>{N(4, 2), N(6, 2)}));

  // Nothing at all for an empty destination or a source rectangle that leaves the picture.
  dst.FillAll(0);
  DXRBlendBlit(dst.S, src.S, Rect(2, 2, 2, 5), Rect(0, 0, 4, 4), 1, 255, false, 0);
  DXRBlendBlit(dst.S, src.S, Rect(0, 0, 8, 8), Rect(0, 0, 9, 4), 1, 255, false, 0);
  DXRBlendBlit(dst.S, src.S, Rect(0, 0, 8, 8), Rect(-1, 0, 4, 4), 1, 255, false, 0);
  DXRBlendBlit(dst.S, src.S, Rect(8, 0, 12, 4), Rect(0, 0, 4, 4), 1, 255, false, 0);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(row(y, 8), std::vector<DWORD>(8, 0)) << y;
}

TEST_F(BlendDrawTest, RotationPlacesAndTurnsThePicture) {
  TDirectDrawSurface* src = Make(4, 3, 32);
  Number(src);
  TDirectDrawSurface* dst = Make(16, 16, 32);
  // Angle 0 with the centre at the top-left corner: the source as it is, at (5, 6).
  dst->DrawRotate(5, 6, 4, 3, Rect(0, 0, 4, 3), src, 0, 0, false, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool inside = x >= 5 && x < 9 && y >= 6 && y < 9;
      EXPECT_EQ(dst->Pixels(x, y), inside ? N(x - 5, y - 6) : 0u) << x << "," << y;
    }

  // A quarter turn clockwise on the screen about the middle: the source point right of the
  // centre lands below it, so the pixel at (dx, dy) from the centre shows the source at
  // (4 + dy, 4 - dx).
  TestPixels s8 = TestPixels::XRGB32(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) s8.Set(x, y, N(x, y));
  TestPixels d = TestPixels::XRGB32(40, 40);
  DXRBlendRotateBlit(d.S, s8.S, 20, 20, 8, 8, Rect(0, 0, 8, 8), 0.5, 0.5, 64, 1, 0, false, 0);
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx)
      EXPECT_EQ(d.Get(20 + dx, 20 + dy), N(4 + dy, 4 - dx)) << dx << "," << dy;
  // A half turn.
  d.FillAll(0);
  DXRBlendRotateBlit(d.S, s8.S, 20, 20, 8, 8, Rect(0, 0, 8, 8), 0.5, 0.5, 128, 1, 0, false, 0);
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx)
      EXPECT_EQ(d.Get(20 + dx, 20 + dy), N(4 - dx, 4 - dy)) << dx << "," << dy;

  // Fractional angles round half to even; the rotated bounds may be empty.
  TRect b;
  EXPECT_FALSE(DXRRotatedBounds(d.S, -50, -50, 8, 8, 0.5, 0.5, 0, b));
  EXPECT_TRUE(DXRRotatedBounds(d.S, 0, 0, 8, 8, 0.5, 0.5, 0, b));
  EXPECT_EQ(b, Rect(0, 0, 4, 4));
}

TEST_F(BlendDrawTest, RotatedRowsNeverReadOutsideTheSourceRectangle) {
  // The source rectangle is rows 2 to 4 of a taller picture whose other rows are a colour that
  // must never show. With the centre above the rectangle, the first row's source row lies half
  // a texel above it and does not move along the row.
  TestPixels src = TestPixels::XRGB32(3, 8);
  src.FillAll(0xFF00FF);
  for (int y = 2; y < 5; ++y)
    for (int x = 0; x < 3; ++x) src.Set(x, y, N(x, y));
  TestPixels dst = TestPixels::XRGB32(12, 12);
  DXRBlendRotateBlit(dst.S, src.S, 4, 4, 3, 3, Rect(0, 2, 3, 5), 0, -0.5, 0, 1, 0, false, 0);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_NE(dst.Get(x, y), 0xFF00FFu) << x << "," << y;
  EXPECT_EQ(dst.Get(4, 5), 0u);  // the row that would have read above the rectangle
  EXPECT_EQ(dst.Get(4, 6), N(0, 2));
  EXPECT_EQ(dst.Get(5, 7), N(1, 3));

  // Turned a quarter, the column stands still along the row instead; the rectangle is columns
  // 2 to 4 and the first row would have read column 0.
  TestPixels wide = TestPixels::XRGB32(6, 8);
  wide.FillAll(0xFF00FF);
  for (int y = 2; y < 5; ++y)
    for (int x = 2; x < 5; ++x) wide.Set(x, y, N(x, y));
  dst.FillAll(0);
  DXRBlendRotateBlit(dst.S, wide.S, 4, 4, 3, 3, Rect(2, 2, 5, 5), -0.5, 0, 64, 1, 0, false, 0);
  int drawn = 0;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      EXPECT_NE(dst.Get(x, y), 0xFF00FFu) << x << "," << y;
      drawn += dst.Get(x, y) != 0;
    }
  EXPECT_GT(drawn, 0);
}

TEST_F(BlendDrawTest, SurfaceOperationsReleaseTheirLocks) {
  TDirectDrawSurface* src = Make(4, 4, 32);
  TDirectDrawSurface* dst = Make(4, 4, 32);
  Number(src);
  const TRect all = Rect(0, 0, 4, 4);
  dst->DrawRotateAlpha(2, 2, 4, 4, all, src, 0.5, 0.5, false, 10.4f, 100);
  EXPECT_TRUE(Lockable(src) && Lockable(dst));

  // Onto itself: the second lock fails, nothing is drawn, nothing stays locked.
  dst->DrawAlpha(all, all, dst, false, 128);
  EXPECT_TRUE(Lockable(dst));

  // A source that is locked elsewhere: the destination's lock is given back.
  DDSURFACEDESC d;
  ASSERT_TRUE(src->Lock(nullptr, d));
  dst->DrawAdd(all, all, src, false, 255);
  src->Unlock();
  EXPECT_TRUE(Lockable(dst));

  // A failure inside the drawing still unlocks both.
  EXPECT_THROW(dst->DrawRotate(1, 1, 4, 4, all, src, std::numeric_limits<double>::quiet_NaN(), 0.5,
                               false, 0),
               EInvalidOp);
  EXPECT_THROW(dst->DrawRotate(1, 1, 4, 4, all, src, 0.5, 0.5, false, 1e30f), EInvalidOp);
  EXPECT_TRUE(Lockable(src) && Lockable(dst));

  // The guards: nothing drawn for zero sizes or no alpha.
  Fill(dst, 0x123456);
  dst->DrawRotate(1, 1, 0, 4, all, src, 0.5, 0.5, false, 0);
  dst->DrawRotateAdd(1, 1, 4, 4, all, src, 0.5, 0.5, false, 0, 0);
  dst->DrawSub(all, all, nullptr, false, 255);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dst->Pixels(x, y), 0x123456u);
}

TEST_F(BlendDrawTest, RotatedOperationsBlendLikeTheirPlainForms) {
  TDirectDrawSurface* src = Make(2, 2, 32);
  Fill(src, 0x404040);
  TDirectDrawSurface* dst = Make(2, 2, 32);
  const TRect all = Rect(0, 0, 2, 2);
  Fill(dst, 0x202020);
  dst->DrawRotateAdd(0, 0, 2, 2, all, src, 0, 0, false, 0, 255);
  EXPECT_EQ(dst->Pixels(1, 1), 0x606060u);
  Fill(dst, 0x808080);
  dst->DrawRotateSub(0, 0, 2, 2, all, src, 0, 0, false, 0.4f, 255);
  EXPECT_EQ(dst->Pixels(1, 1), 0x404040u);
  Fill(dst, 0x808080);
  dst->DrawRotateAlpha(0, 0, 2, 2, all, src, 0, 0, false, -0.5f, 128);
  // R and G as a pair: (64*128 + 128*127)/256 = 95; B alone: 128 - 32 = 96.
  EXPECT_EQ(dst->Pixels(1, 1), 0x5F5F60u);
}

TEST_F(BlendDrawTest, IndexedSourcesDecodeThroughTheirPalette) {
  TDirectDrawSurface* src = Make(2, 1, 8);
  std::vector<PALETTEENTRY> entries(256);
  entries[3] = PALETTEENTRY{10, 20, 30, 0};
  entries[4] = PALETTEENTRY{200, 100, 50, 0};
  auto* palette = new TDirectDrawPalette(DD);
  palette->CreatePalette(DDPCAPS_8BIT, entries.data());
  src->SetPalette(palette);
  src->SetPixels(0, 0, 3);
  src->SetPixels(1, 0, 4);
  TDirectDrawSurface* dst = Make(2, 1, 32);
  dst->DrawAlpha(Rect(0, 0, 2, 1), Rect(0, 0, 2, 1), src, false, 255);
  EXPECT_EQ(dst->Pixels(0, 0), 0x0A141Eu);
  EXPECT_EQ(dst->Pixels(1, 0), 0xC86432u);
}

}  // namespace
