// Turned drawings placed, sized and turned far beyond anything on the screen: centres of a
// billion picture widths, sizes of 2^31 - 1, positions at the ends of int, angles of 1e18.
// Through the accelerated drawer each comes back at once and draws the part that lies on the
// display, or nothing; through the software renderer each comes back at once too (or raises
// EInvalidOp where a figure lies beyond the 64-bit range, as that renderer always has).
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/DisplayTestSupport.h"
#include "platform/rtl/SysUtils.h"
#include "support/Watchdog.h"

namespace {

constexpr TColor kBackground = 0x404040, kPicture = 0x00FF00;
constexpr int kW = 64, kH = 48;  // the test display

struct Turn {
  int X, Y, Width, Height;
  double CenterX, CenterY;
  float Angle;
  std::string Name() const {
    std::ostringstream s;
    s << "a turned drawing at (" << X << ", " << Y << "), " << Width << " x " << Height
      << ", centre (" << CenterX << ", " << CenterY << "), angle " << Angle;
    return s.str();
  }
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Each lies wholly off the display.
const Turn kOffTheDisplay[] = {
    // Corners near 3e9, where a float still tells them apart.
    {20, 20, 1024, 512, -3e6, 0.5, 0},
    {20, 20, 1024, 512, -3e6, 0.5, 64},
    {20, 20, 1024, 512, 0.5, -6e6, 0},
    {20, 20, 1024, 512, 0.5, 6e6, 128},
    {20, 20, 1024, 512, 3e6, 6e6, 32},
    // Corners too far apart, or too far off, for any float to keep the picture's size.
    {20, 20, 8, 4, -3e8, 0.5, 0},
    {20, 20, 8, 4, -1e30, 0.5, 0},
    {20, 20, 8, 4, 1e300, -1e300, 200},
    {20, 20, 8, 4, kNaN, 0.5, 0},
    {INT_MAX, INT_MAX, 8, 4, 0.5, 0.5, 0},
    {INT_MIN, 20, 8, 4, 0.5, 0.5, 96},
    {100, 100, INT_MAX, INT_MAX, 0, 0, 0},
    {INT_MAX, 20, 8, 4, 0.5, 0.5, 1e18f},
    {20, INT_MIN, 8, 4, 0.5, 0.5, -1e18f},
};
// Each covers the whole display.
const Turn kOverTheDisplay[] = {
    {20, 20, INT_MAX, INT_MAX, 0.5, 0.5, 0},
    {20, 20, INT_MAX, INT_MAX, 0.5, 0.5, 64},
    {20, 20, 1 << 30, 1 << 30, 0.5, 0.5, 1e9f},  // 1e9 is a whole number of turns
};

class RotatedDrawRangeTest : public display_test::SmallDisplayTest {
 protected:
  void MakeDisplay(TDXDrawOptions Options) {
    OpenDisplay(Options);
    if (HasFatalFailure()) return;
    Source = new TDirectDrawSurface(dx->DDraw);
    Source->SetSize(8, 4);
    Source->Fill(Source->MatchColor(kPicture));
  }
  void TearDown() override {
    delete Source;
    SmallDisplayTest::TearDown();
  }
  void Clear() { dx->Surface->Fill(dx->Surface->MatchColor(kBackground)); }
  bool All(TColor c) {
    const DWORD want = dx->Surface->MatchColor(c);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (dx->Surface->Pixels(x, y) != want) return false;
    return true;
  }
  void Draw(const Turn& t, int Kind) {
    TDirectDrawSurface* s = dx->Surface;
    const TRect all = Source->ClientRect();
    switch (Kind) {
      case 0:
        return s->DrawRotate(t.X, t.Y, t.Width, t.Height, all, Source, t.CenterX, t.CenterY, false,
                             t.Angle);
      case 1:
        return s->DrawRotateAdd(t.X, t.Y, t.Width, t.Height, all, Source, t.CenterX, t.CenterY,
                                false, t.Angle, 255);
      case 2:
        return s->DrawRotateAlpha(t.X, t.Y, t.Width, t.Height, all, Source, t.CenterX, t.CenterY,
                                  false, t.Angle, 255);
      default:
        return s->DrawRotateSub(t.X, t.Y, t.Width, t.Height, all, Source, t.CenterX, t.CenterY,
                                false, t.Angle, 255);
    }
  }

  TDirectDrawSurface* Source = nullptr;
};

TEST_F(RotatedDrawRangeTest, TheAcceleratedDrawerDrawsOnlyWhatLiesOnTheDisplayAndAtOnce) {
  MakeDisplay({doWaitVBlank, do3D, doDirectX7Mode, doHardware});
  if (HasFatalFailure()) return;
  ASSERT_TRUE(dx->D2D && dx->D2D->IsActive());
  dx->D2D->SetTextureFilter(false);
  for (const Turn& t : kOffTheDisplay)
    for (int kind = 0; kind < 4; ++kind) {
      Clear();
      {
        Watchdog guard(t.Name());
        Draw(t, kind);
      }
      EXPECT_TRUE(All(kBackground)) << t.Name() << ", kind " << kind;
    }
  for (const Turn& t : kOverTheDisplay) {
    Clear();
    {
      Watchdog guard(t.Name());
      Draw(t, 0);
    }
    EXPECT_TRUE(All(kPicture)) << t.Name();
  }
}

TEST_F(RotatedDrawRangeTest, TheSoftwareRendererComesBackAtOnceWhateverTheFigures) {
  MakeDisplay({doWaitVBlank});
  if (HasFatalFailure()) return;
  ASSERT_FALSE(dx->D2D && dx->D2D->IsActive());
  std::vector<Turn> all(std::begin(kOffTheDisplay), std::end(kOffTheDisplay));
  all.insert(all.end(), std::begin(kOverTheDisplay), std::end(kOverTheDisplay));
  for (const Turn& t : all)
    for (int kind = 0; kind < 4; ++kind) {
      Clear();
      Watchdog guard(t.Name());
      try {
        Draw(t, kind);
      } catch (const EInvalidOp&) {
        // A centre or an angle beyond the 64-bit range, as that renderer has always said.
        EXPECT_TRUE(std::isnan(t.CenterX) || std::abs(t.CenterX) > 1e18 ||
                    std::abs(t.CenterY) > 1e18)
            << t.Name();
      }
    }
}

}  // namespace
