// The accelerated drawer draws what the surface operations draw: each picture is drawn once
// through the drawer and once by the plain surface operations on the same display, and the two
// pictures on the drawing surface are compared pixel by pixel (equal where both copy, within 2
// per channel where the blends round differently).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "framework/graphics/D2D.h"
#include "framework/graphics/DXDraws.h"
#include "framework/graphics/DXImageList.h"
#include "graphics/DisplayTestSupport.h"
#include "graphics/SpriteTestSupport.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/d3d/D3D.h"
#include "platform/forms/Forms.h"

namespace {

using sprite_test::SetPicture;

const TDXDrawOptions kWith3D{doWaitVBlank, do3D, doDirectX7Mode, doHardware};
const TDXDrawOptions kWithout3D{doWaitVBlank, doDirectX7Mode};

// Colours that differ from pixel to pixel in every channel, so that a texel out of place shows.
DWORD Noise(int x, int y) {
  std::uint32_t h =
      static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
  h *= 2654435761u;
  return (h >> 8) & 0xFFFFFF;
}

class D2DSurfaceParityTest : public display_test::SmallDisplayTest {
 protected:
  void MakeDisplay(TDXDrawOptions Options = kWith3D) { OpenDisplay(Options); }
  TDirectDrawSurface* MakeSurface(int W, int H) {
    auto* s = new TDirectDrawSurface(dx->DDraw);
    s->SetSize(W, H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        s->SetPixels(x, y, s->MatchColor(static_cast<TColor>(Noise(x, y))));
    return s;
  }
  TPictureCollectionItem* AddPicture(int W, int H, int PW, int PH) {
    if (!List) {
      List = new TDXImageList(Form);
      List->SetDXDraw(dx);
    }
    auto* item = static_cast<TPictureCollectionItem*>(List->Items()->Add());
    item->SetName("Picture" + std::to_string(List->Items()->Count()));
    SetPicture(item, W, H, Noise);
    item->PatternWidth = PW;
    item->PatternHeight = PH;
    item->Transparent = false;
    item->Restore();
    return item;
  }
  // A background that differs from pixel to pixel too, so that blends show their arithmetic.
  void FillBackground() {
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        dx->Surface->SetPixels(x, y,
                               dx->Surface->MatchColor(static_cast<TColor>(Noise(x + 7, y + 100))));
  }
  std::vector<DWORD> Snapshot() {
    std::vector<DWORD> pixels;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) pixels.push_back(dx->Surface->Pixels(x, y));
    return pixels;
  }
  // What Draw leaves on the background when it goes through the drawer.
  std::vector<DWORD> ViaDrawer(bool Linear, const std::function<void()>& Draw) {
    dx->SetOptions(kWith3D);
    EXPECT_TRUE(dx->D2D->CanDraw());
    dx->D2D->SetTextureFilter(Linear);
    FillBackground();
    Draw();
    return Snapshot();
  }
  // ...and when the display draws without 3-D.
  std::vector<DWORD> ViaSurface(const std::function<void()>& Draw) {
    dx->SetOptions(kWithout3D);
    EXPECT_FALSE(dx->D2D->IsActive());
    FillBackground();
    Draw();
    return Snapshot();
  }
  // Every pixel within Tolerance per channel (32-bit pixels), or equal (others); the first
  // pixel that is not is reported.
  void ExpectSame(const std::vector<DWORD>& Got, const std::vector<DWORD>& Want, int Tolerance,
                  const std::string& What) {
    ASSERT_EQ(Got.size(), Want.size());
    const bool channels = dx->Surface->BitCount() == 32;
    for (std::size_t i = 0; i < Got.size(); ++i) {
      bool same = Got[i] == Want[i];
      if (!same && channels) {
        same = true;
        for (int shift = 0; shift < 24; shift += 8)
          same = same && std::abs(static_cast<int>((Got[i] >> shift) & 0xFF) -
                                  static_cast<int>((Want[i] >> shift) & 0xFF)) <= Tolerance;
      }
      if (!same) {
        ADD_FAILURE() << What << ": pixel (" << i % 64 << ", " << i / 64 << ") is " << std::hex
                      << Got[i] << ", the surface operation gives " << Want[i];
        return;
      }
    }
  }
  bool Changed(const std::vector<DWORD>& Pixels) {
    FillBackground();
    return Pixels != Snapshot();
  }
};

TEST_F(D2DSurfaceParityTest, DrawingAPartOfASurfaceShowsThatPartMirroredWhenAsked) {
  MakeDisplay();
  TDirectDrawSurface* row = MakeSurface(8, 1);
  TDirectDrawSurface* source = MakeSurface(12, 10);
  struct Case {
    TDirectDrawSurface* Source;
    int X, Y;
    TRect Src;
    const char* What;
  };
  const Case cases[] = {
      {row, 0, 0, Rect(4, 0, 8, 1), "the right half of a row"},
      {source, 5, 5, source->ClientRect(), "the whole surface"},
      {source, 5, 5, Rect(3, 2, 9, 7), "an inner part"},
      {source, 5, 5, Rect(9, 2, 3, 7), "mirrored left to right"},
      {source, 5, 5, Rect(3, 7, 9, 2), "mirrored top to bottom"},
      {source, 5, 5, Rect(9, 7, 3, 2), "mirrored both ways"},
      {source, -3, 40, Rect(1, 0, 12, 10), "cut by the display's left and bottom edges"},
      {source, 58, -4, Rect(12, 10, 1, 0), "mirrored and cut by the right and top edges"},
      {source, 5, 5, Rect(-2, -3, 5, 4), "reaching before the source"},
      {source, 20, 5, Rect(15, 0, 6, 5), "mirrored and reaching past the source"},
  };
  for (bool linear : {false, true}) {
    for (const Case& c : cases) {
      auto draw = [&] { dx->Surface->Draw(c.X, c.Y, c.Src, c.Source, false); };
      const std::vector<DWORD> drawn = ViaDrawer(linear, draw);
      ExpectSame(drawn, ViaSurface(draw), 0,
                 std::string(c.What) + (linear ? ", bilinear" : ", point"));
      EXPECT_TRUE(Changed(drawn)) << c.What;
    }
  }
  delete source;
  delete row;
}

TEST_F(D2DSurfaceParityTest, BlendsOfAPartOfASurface) {
  MakeDisplay();
  TDirectDrawSurface* source = MakeSurface(12, 10);
  // The drawer's subtraction scales what is there by the source's complement instead, a
  // different picture; the alpha test checks it against itself.
  for (const bool add : {true, false}) {
    for (const int alpha : {64, 200, 255}) {
      auto draw = [this, source, add, alpha] {
        TDirectDrawSurface* target = dx->Surface;
        if (add)
          target->DrawAdd(Rect(10, 4, 16, 9), Rect(3, 2, 9, 7), source, false, alpha);
        else
          target->DrawAlpha(Rect(10, 4, 16, 9), Rect(3, 2, 9, 7), source, false, alpha);
      };
      ExpectSame(ViaDrawer(false, draw), ViaSurface(draw), 2,
                 (add ? "add " : "alpha ") + std::to_string(alpha));
    }
  }

  // A rotated drawing of the right half shows that half only: none of the left half's colours.
  TDirectDrawSurface* halves = new TDirectDrawSurface(dx->DDraw);
  halves->SetSize(8, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      halves->SetPixels(x, y, halves->MatchColor(x < 4 ? 0x0000FF : 0xFF0000));
  dx->SetOptions(kWith3D);
  dx->Surface->Fill(0);
  dx->Surface->DrawRotate(20, 20, 8, 8, Rect(4, 0, 8, 4), halves, 0.5, 0.5, false, 0);
  int blue = 0;
  for (int y = 10; y < 30; ++y)
    for (int x = 10; x < 30; ++x) {
      EXPECT_NE(dx->Surface->Pixels(x, y), halves->MatchColor(0x0000FF)) << x << ", " << y;
      blue += dx->Surface->Pixels(x, y) == dx->Surface->MatchColor(0xFF0000);
    }
  EXPECT_GE(blue, 36);
  delete halves;
  delete source;
}

TEST_F(D2DSurfaceParityTest, PatternsAtTheirOwnSizeAreTheirTexelsExactly) {
  for (int bits : {32, 16}) {
    SCOPED_TRACE(bits);
    ddraw::SetDesktopFormat(bits);
    MakeDisplay();
    // 48 x 32 in 16 x 16 patterns: six of them, drawn at places partly off the display too.
    TPictureCollectionItem* grid = AddPicture(48, 32, 16, 16);
    for (bool linear : {false, true}) {
      auto draw = [&] {
        for (int i = 0; i < 6; ++i) grid->Draw(dx->Surface, i * 13 - 6, (i % 2) * 20 - 3, i);
        grid->StretchDraw(dx->Surface, Rect(20, 30, 36, 46), 4);
      };
      ExpectSame(ViaDrawer(linear, draw), ViaSurface(draw), 0, linear ? "bilinear" : "point");
    }
    Application->DestroyComponents();
    List = nullptr;
  }
}

TEST_F(D2DSurfaceParityTest, ADisplayWhoseDrawerCannotDrawUsesTheSurfaceOperations) {
  auto drawAll = [&](TPictureCollectionItem* item, TDirectDrawSurface* surface) {
    item->Draw(dx->Surface, 3, 3, 1);
    item->StretchDraw(dx->Surface, Rect(30, 2, 46, 18), 2);
    item->DrawAlpha(dx->Surface, Rect(10, 25, 26, 41), 0, 128);
    item->DrawRotate(dx->Surface, 50, 35, 16, 16, 3, 0.5, 0.5, 32);
    dx->Surface->Draw(40, 30, Rect(2, 2, 10, 10), surface, false);
  };
  // Draws everything as the display is, then again with 3-D turned off, and expects the same
  // picture; gives it back.
  auto DrawnAsWithout3D = [&](TPictureCollectionItem* item, TDirectDrawSurface* surface,
                              const char* what) {
    FillBackground();
    drawAll(item, surface);
    const std::vector<DWORD> drawn = Snapshot();
    dx->SetOptions(kWithout3D);
    FillBackground();
    drawAll(item, surface);
    ExpectSame(drawn, Snapshot(), 0, what);
    return drawn;
  };
  // 24 bits: the device draws, the drawer does not. 8 bits: no device at all, the options
  // asking for one only after the display was made.
  for (int bits : {24, 8}) {
    SCOPED_TRACE(bits);
    ddraw::SetDesktopFormat(bits);
    MakeDisplay(bits == 24 ? kWith3D : kWithout3D);
    TPictureCollectionItem* item = AddPicture(32, 32, 16, 16);
    TDirectDrawSurface* surface = MakeSurface(12, 12);
    dx->SetOptions(kWith3D);
    ASSERT_FALSE(dx->D2D->CanDraw());
    EXPECT_TRUE(Changed(DrawnAsWithout3D(item, surface, "fallback")));
    delete surface;
    Application->DestroyComponents();
    List = nullptr;
  }

  // A 32-bit display that lost its device.
  ddraw::SetDesktopFormat(32);
  MakeDisplay();
  TPictureCollectionItem* item = AddPicture(32, 32, 16, 16);
  TDirectDrawSurface* surface = MakeSurface(12, 12);
  dx->D3DDevice7 = nullptr;
  ASSERT_TRUE(dx->D2D->IsActive());
  ASSERT_FALSE(dx->D2D->CanDraw());
  DrawnAsWithout3D(item, surface, "without a device");
  delete surface;
}

TEST_F(D2DSurfaceParityTest, AlphaAboveOneByteDrawsAsFullAlpha) {
  MakeDisplay();
  TPictureCollectionItem* item = AddPicture(16, 16, 0, 0);
  TDirectDrawSurface* surface = MakeSurface(16, 16);
  std::vector<DWORD> fullSub;
  for (int alpha : {255, 256, 300, 511}) {
    SCOPED_TRACE(alpha);
    auto draw = [&] {
      item->DrawAlpha(dx->Surface, Rect(0, 0, 16, 16), 0, alpha);
      item->DrawAdd(dx->Surface, Rect(20, 0, 36, 16), 0, alpha);
      dx->Surface->DrawAlpha(Rect(30, 25, 46, 41), surface->ClientRect(), surface, false, alpha);
    };
    const std::vector<DWORD> drawn = ViaDrawer(false, draw);
    ExpectSame(drawn, ViaSurface(draw), 2, "blends");
    // Full alpha copies the pattern.
    EXPECT_EQ(drawn[5 * 64 + 5], dx->Surface->MatchColor(static_cast<TColor>(Noise(5, 5))));
    // Subtraction and the rotated forms, which the surface operations draw otherwise, draw at
    // full alpha whatever the alpha above it.
    const std::vector<DWORD> sub = ViaDrawer(false, [&] {
      item->DrawSub(dx->Surface, Rect(40, 0, 56, 16), 0, alpha);
      item->DrawRotateAlpha(dx->Surface, 8, 30, 16, 16, 0, 0.5, 0.5, 0, alpha);
      item->DrawRotateAdd(dx->Surface, 30, 30, 16, 16, 0, 0.5, 0.5, 0, alpha);
    });
    if (alpha == 255)
      fullSub = sub;
    else
      ExpectSame(sub, fullSub, 0, "subtraction and rotation");
  }
  EXPECT_TRUE(Changed(fullSub));
  delete surface;
}

}  // namespace
