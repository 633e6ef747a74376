#include <gtest/gtest.h>

#include <string>

#include "framework/graphics/DIB.h"
#include "framework/graphics/DXDraws.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/gdi/Colors.h"
#include "platform/gdi/Graphics.h"

namespace {

class SurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend::HeadlessBackend::InstallFresh();
    ddraw::ResetMachine();
  }
  void TearDown() override {
    delete DD;
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    EXPECT_EQ(ddraw::LiveDirectDrawCount(), 0);
    ddraw::ResetMachine();
  }
  void MakeDD(int desktopBits = 32) {
    ddraw::SetDesktopFormat(desktopBits);
    DD = new TDirectDraw(nullptr);
    DD->IDraw()->SetCooperativeLevel(0, DDSCL_NORMAL);
  }
  TDirectDrawSurface* Make(int w, int h) {
    auto* s = new TDirectDrawSurface(DD);
    s->SetSize(w, h);
    return s;
  }
  // Every pixel a value of its own: 1 + x + 256 * y.
  static TDirectDrawSurface* Numbered(TDirectDrawSurface* s) {
    for (int y = 0; y < s->Height(); ++y)
      for (int x = 0; x < s->Width(); ++x) s->SetPixels(x, y, 1 + x + 256 * y);
    return s;
  }
  static DWORD N(int x, int y) { return 1 + x + 256 * y; }

  TDirectDraw* DD = nullptr;
};

TEST_F(SurfaceTest, DirectDrawObjectOwnsWhatIsMadeOnIt) {
  MakeDD();
  EXPECT_NE(DD->IDDraw7(), nullptr);
  EXPECT_EQ(DD->DriverCaps.dwSize, 380u);
  EXPECT_EQ(DD->DriverCaps.dwCaps2 & DDCAPS2_PRIMARYGAMMA, 0u);
  auto* a = Make(4, 4);
  auto* b = Make(4, 4);
  new TDirectDrawClipper(DD);
  (new TDirectDrawPalette(DD))->CreatePalette(DDPCAPS_8BIT, std::vector<PALETTEENTRY>(256).data());
  EXPECT_EQ(DD->SurfaceCount(), 2);
  EXPECT_EQ(DD->Surfaces(1), b);
  delete a;
  EXPECT_EQ(DD->SurfaceCount(), 1);
  EXPECT_EQ(DD->Surfaces(0), b);
  EXPECT_EQ(DD->ClipperCount(), 1);
  EXPECT_EQ(DD->PaletteCount(), 1);
  // The rest goes with the DirectDraw object (checked in TearDown).

  // The DirectX 6 path has no version-7 interface, and neither do its surfaces.
  TDirectDraw six(nullptr, false);
  EXPECT_EQ(six.IDDraw7(), nullptr);
  EXPECT_NE(six.IDDraw4(), nullptr);
  EXPECT_THROW(six.IDraw7(), EDirectDrawError);
  six.IDraw()->SetCooperativeLevel(0, DDSCL_NORMAL);
  TDirectDrawSurface s(&six);
  s.SetSize(2, 2);
  EXPECT_NE(s.IDDSurface4(), nullptr);
  EXPECT_EQ(s.IDDSurface7(), nullptr);
}

TEST_F(SurfaceTest, EmptySurfacesReportRatherThanRaiseExceptThroughStrictAccessors) {
  MakeDD();
  TDirectDrawSurface s(DD);
  EXPECT_FALSE(s.Fill(0));
  EXPECT_FALSE(s.Restore());
  EXPECT_EQ(s.Pixels(0, 0), 0u);
  EXPECT_EQ(s.MatchColor(clRed), 0u);
  DDSURFACEDESC d;
  EXPECT_FALSE(s.Lock(nullptr, d));
  try {
    s.ISurface();
    FAIL();
  } catch (const EDirectDrawSurfaceError& e) {
    EXPECT_EQ(e.Message, "IDirectDrawSurface not made");
  }
  // Drawing on its canvas asks for the interface strictly.
  EXPECT_THROW(s.Canvas()->FillRect(Rect(0, 0, 1, 1)), EDirectDrawSurfaceError);
  s.SetSize(0, 10);
  EXPECT_EQ(s.IDDSurface(), nullptr);
}

TEST_F(SurfaceTest, SizingFallsBackToSystemMemoryAndThenFails) {
  MakeDD();
  ddraw::SetMemoryBudgets(16 * 16 * 4, 64 * 64 * 4);
  TDirectDrawSurface s(DD);
  s.SetSize(32, 32);  // more than video memory holds
  ASSERT_NE(s.IDDSurface(), nullptr);
  EXPECT_TRUE(s.SystemMemory);
  EXPECT_TRUE(s.SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
  TDirectDrawSurface t(DD);
  try {
    t.SetSize(100, 100);
    FAIL();
  } catch (const EDirectDrawSurfaceError& e) {
    EXPECT_EQ(e.Message, "Surface cannot be made");
  }
}

TEST_F(SurfaceTest, DrawClipsAtEveryEdge) {
  MakeDD();
  auto* src = Numbered(Make(32, 32));
  auto* dst = Make(64, 48);
  const TRect all = src->ClientRect();
  struct Case {
    int x, y;
  } cases[] = {{-10, 0}, {40, 0}, {0, -7}, {0, 30}, {-5, -5}, {50, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    dst->Fill(0);
    dst->Draw(c.x, c.y, all, src, false);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const int sx = x - c.x, sy = y - c.y;
        const bool inside = sx >= 0 && sx < 32 && sy >= 0 && sy < 32;
        ASSERT_EQ(dst->Pixels(x, y), inside ? N(sx, sy) : 0u) << x << "," << y;
      }
  }
  // A point on the right edge passes the first test and is clipped away; beyond it nothing
  // happens at all.
  dst->Fill(0);
  dst->Draw(64, 0, all, src, false);
  dst->Draw(65, 0, all, src, false);
  EXPECT_EQ(dst->Pixels(63, 0), 0u);
  // A source rectangle beyond its surface is cut, and the destination by as much.
  dst->Draw(0, 0, Rect(-4, 28, 8, 40), src, false);
  EXPECT_EQ(dst->Pixels(4, 0), N(0, 28));
  EXPECT_EQ(dst->Pixels(11, 3), N(7, 31));
  EXPECT_EQ(dst->Pixels(12, 0), 0u);
  EXPECT_EQ(dst->Pixels(4, 4), 0u);
  // An empty source rectangle draws nothing.
  dst->Fill(0);
  dst->Draw(0, 0, Rect(5, 5, 5, 9), src, false);
  EXPECT_EQ(dst->Pixels(0, 0), 0u);
}

TEST_F(SurfaceTest, TransparentDrawSkipsTheKeyColour) {
  MakeDD();
  auto* src = Make(4, 1);
  src->Fill(src->MatchColor(clBlack));
  src->SetPixels(1, 0, 0x123456);
  src->SetTransparentColor(src->MatchColor(clBlack));
  auto* dst = Make(4, 1);
  dst->Fill(0x777777);
  dst->Draw(0, 0, src->ClientRect(), src, true);
  EXPECT_EQ(dst->Pixels(0, 0), 0x777777u);
  EXPECT_EQ(dst->Pixels(1, 0), 0x123456u);
  dst->Draw(0, 0, src->ClientRect(), src, false);
  EXPECT_EQ(dst->Pixels(0, 0), 0u);
}

// A source rectangle given right to left names the pattern between its edges and draws it
// mirrored; cut at an edge of the destination, the side that leaves is the one that is cut.
TEST_F(SurfaceTest, MirroredDrawShowsTheRightPixelsEvenWhenClipped) {
  MakeDD();
  auto* src = Numbered(Make(64, 32));
  auto* dst = Make(64, 48);
  for (int x0 : {0, -10, 40}) {
    SCOPED_TRACE(x0);
    dst->Fill(0);
    dst->Draw(x0, 0, Rect(32, 0, 0, 32), src, false);
    for (int x = 0; x < 64; ++x) {
      const int k = x - x0;  // column of the drawn picture
      ASSERT_EQ(dst->Pixels(x, 5), (k >= 0 && k < 32) ? N(31 - k, 5) : 0u) << x;
    }
  }
  for (int y0 : {0, -6, 30}) {
    SCOPED_TRACE(y0);
    dst->Fill(0);
    dst->Draw(0, y0, Rect(0, 32, 32, 0), src, false);
    for (int y = 0; y < 48; ++y) {
      const int k = y - y0;
      ASSERT_EQ(dst->Pixels(3, y), (k >= 0 && k < 32) ? N(3, 31 - k) : 0u) << y;
    }
  }
  // Both at once, with the second pattern of the sheet.
  dst->Fill(0);
  dst->Draw(0, 0, Rect(64, 32, 32, 0), src, false);
  EXPECT_EQ(dst->Pixels(0, 0), N(63, 31));
  EXPECT_EQ(dst->Pixels(31, 31), N(32, 0));
  // Wholly off to the left or top: nothing.
  dst->Fill(0);
  dst->Draw(-32, 0, Rect(32, 0, 0, 32), src, false);
  EXPECT_EQ(dst->Pixels(0, 0), 0u);
}

TEST_F(SurfaceTest, StretchDrawScalesAndClipsToTheSurface) {
  MakeDD();
  auto* src = Numbered(Make(4, 4));
  auto* dst = Make(8, 8);
  dst->StretchDraw(Rect(-4, 0, 12, 8), src->ClientRect(), src, false);  // 4x wide, 2x high
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(dst->Pixels(x, y), N((x + 4) / 4, y / 2)) << x << y;
  EXPECT_FALSE(dst->HasClipper);
  // The clipper used for it is detached again: plain blits still go fast.
  dst->Draw(0, 0, src->ClientRect(), src, false);
  EXPECT_EQ(dst->ResultCode(), DD_OK);
  // Empty rectangles are refused before any blit.
  dst->Fill(0);
  dst->StretchDraw(Rect(0, 0, 0, 8), src->ClientRect(), src, false);
  dst->StretchDraw(Rect(0, 0, 8, 8), Rect(1, 1, 1, 3), src, false);
  EXPECT_EQ(dst->Pixels(0, 0), 0u);
}

TEST_F(SurfaceTest, DrawFindsAClipperAttachedBehindItsBack) {
  MakeDD();
  auto* src = Numbered(Make(4, 4));
  auto* dst = Make(8, 8);
  auto* clipper = new TDirectDrawClipper(DD);
  clipper->SetClipRects({Rect(0, 0, 8, 8)});
  dst->ISurface()->SetClipper(clipper->IDDClipper());  // the wrapper does not know
  ASSERT_FALSE(dst->HasClipper);
  dst->Draw(2, 2, src->ClientRect(), src, false);
  EXPECT_TRUE(dst->HasClipper);
  EXPECT_EQ(dst->Pixels(2, 2), N(0, 0));
  EXPECT_EQ(dst->Pixels(5, 5), N(3, 3));
}

TEST_F(SurfaceTest, LocksDoNotNest) {
  MakeDD();
  auto* s = Make(8, 8);
  DDSURFACEDESC a, b;
  ASSERT_TRUE(s->Lock(nullptr, a));
  EXPECT_FALSE(s->Lock(nullptr, b));
  EXPECT_EQ(s->LockCount(), 1);
  s->Unlock();
  EXPECT_EQ(s->LockCount(), 0);
  s->Unlock();  // nothing more
  EXPECT_TRUE(s->Fill(0));
  // A rectangle equal to the whole surface locks the whole surface.
  const TRect whole = s->ClientRect();
  ASSERT_TRUE(s->Lock(&whole, b));
  EXPECT_EQ(b.lpSurface, a.lpSurface);
  s->Unlock();
  const TRect part = Rect(2, 3, 4, 4);
  ASSERT_TRUE(s->Lock(&part, b));
  EXPECT_EQ(static_cast<BYTE*>(b.lpSurface), static_cast<BYTE*>(a.lpSurface) + 3 * a.lPitch + 8);
  s->Unlock();
}

TEST_F(SurfaceTest, RawPixelsOfEveryDepth) {
  MakeDD();
  auto make = [&](DWORD flags, int bits, DWORD r, DWORD g, DWORD b) {
    auto* s = new TDirectDrawSurface(DD);
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = 11;
    d.dwHeight = 3;
    d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    d.ddpfPixelFormat.dwSize = kDDPixelFormatSize;
    d.ddpfPixelFormat.dwFlags = flags;
    d.ddpfPixelFormat.dwRGBBitCount = bits;
    d.ddpfPixelFormat.dwRBitMask = r;
    d.ddpfPixelFormat.dwGBitMask = g;
    d.ddpfPixelFormat.dwBBitMask = b;
    EXPECT_TRUE(s->CreateSurface(d));
    return s;
  };
  auto* one = make(DDPF_RGB | DDPF_PALETTEINDEXED1, 1, 0, 0, 0);
  one->SetPixels(9, 1, 5);
  EXPECT_EQ(one->Pixels(9, 1), 1u);
  EXPECT_EQ(one->Pixels(8, 1), 0u);
  EXPECT_EQ(one->Pixels(10, 1), 0u);
  one->SetPixels(9, 1, 0);
  EXPECT_EQ(one->Pixels(9, 1), 0u);
  auto* four = make(DDPF_RGB | DDPF_PALETTEINDEXED4, 4, 0, 0, 0);
  four->SetPixels(4, 0, 0xAB);
  four->SetPixels(5, 0, 0x3);
  EXPECT_EQ(four->Pixels(4, 0), 0xBu);
  EXPECT_EQ(four->Pixels(5, 0), 0x3u);
  auto* t24 = make(DDPF_RGB, 24, 0xFF0000, 0xFF00, 0xFF);
  t24->SetPixels(10, 2, 0xAA123456);
  EXPECT_EQ(t24->Pixels(10, 2), 0x123456u);
  EXPECT_EQ(t24->Pixels(9, 2), 0u);
  auto* t16 = make(DDPF_RGB, 16, 0xF800, 0x7E0, 0x1F);
  t16->SetPixels(3, 1, 0x1F0F0F);
  EXPECT_EQ(t16->Pixels(3, 1), 0x0F0Fu);
  // Outside the surface: 0 and nothing written.
  EXPECT_EQ(t16->Pixels(11, 0), 0u);
  EXPECT_EQ(t16->Pixels(-1, 0), 0u);
  t16->SetPixels(0, 3, 1);
}

TEST_F(SurfaceTest, MatchColorConvertsLikeGdiAndGivesThePixelBack) {
  MakeDD(16);
  auto* s = Make(4, 4);
  s->SetPixels(0, 0, 0x1234);
  EXPECT_EQ(s->MatchColor(clRed), 0xF800u);
  EXPECT_EQ(s->MatchColor(clWhite), 0xFFFFu);
  EXPECT_EQ(s->Pixels(0, 0), 0x1234u);
  delete DD;
  DD = nullptr;
  MakeDD(32);
  auto* t = Make(2, 2);
  EXPECT_EQ(t->MatchColor(clBlue), 0x0000FFu);
  EXPECT_EQ(t->MatchColor(RGB(1, 2, 3)), 0x010203u);
  // While the canvas holds the surface's device context the pixel cannot be borrowed: 0, and
  // the pixel is left as it was.
  t->SetPixels(0, 0, 0x445566);
  t->Canvas()->Handle();
  EXPECT_EQ(t->MatchColor(clRed), 0u);
  t->Canvas()->Release();
  EXPECT_EQ(t->Pixels(0, 0), 0x445566u);
  EXPECT_EQ(t->MatchColor(clRed), 0xFF0000u);
}

TEST_F(SurfaceTest, CanvasDrawsThroughTheDeviceContextUntilReleased) {
  MakeDD();
  auto* s = Make(80, 30);
  s->Fill(0);
  TCanvas* c = s->Canvas();
  c->Brush()->SetStyle(bsClear);
  c->Font()->SetColor(clWhite);
  c->Font()->SetSize(14);
  c->TextOut(2, 2, "Ready");
  EXPECT_FALSE(s->Fill(0));  // the device context locks the surface
  s->Canvas()->Release();
  int ink = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 80; ++x) ink += s->Pixels(x, y) != 0;
  EXPECT_GT(ink, 30);
  // The font stays with the canvas after Release.
  EXPECT_EQ(s->Canvas()->Font()->Size(), 14);
  EXPECT_TRUE(s->Fill(0));
}

TEST_F(SurfaceTest, LoadFromGraphicRectTakesDIBsAndOtherGraphics) {
  MakeDD();
  // A 24-bit DIB pixel reads blue in its high byte; the surface keeps red there.
  auto swapRB = [](DWORD v) { return (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF); };
  TDIB dib;
  dib.SetSize(8, 4, 24);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) dib.SetPixels(x, y, (x * 20) << 16 | (y * 50));
  TDirectDrawSurface s(DD);
  s.LoadFromGraphicRect(&dib, 0, 0, Rect(4, 1, 8, 3));
  ASSERT_EQ(s.Width(), 4);
  ASSERT_EQ(s.Height(), 2);
  EXPECT_EQ(s.Pixels(0, 0), swapRB(dib.Pixels(4, 1)));
  EXPECT_EQ(s.Pixels(3, 1), swapRB(dib.Pixels(7, 2)));
  s.LoadFromGraphic(&dib);
  EXPECT_EQ(s.Width(), 8);
  EXPECT_EQ(s.Pixels(7, 3), swapRB(dib.Pixels(7, 3)));

  TBitmap bmp;
  bmp.SetSize(6, 6);
  bmp.Canvas()->Brush()->SetColor(clBlue);
  bmp.Canvas()->FillRect(Rect(0, 0, 6, 6));
  bmp.Canvas()->Brush()->SetColor(clLime);
  bmp.Canvas()->FillRect(Rect(2, 2, 4, 4));
  s.LoadFromGraphicRect(&bmp, 0, 0, Rect(2, 2, 5, 5));  // at its own size
  EXPECT_EQ(s.Width(), 3);
  EXPECT_EQ(s.Pixels(0, 0), 0x00FF00u);
  EXPECT_EQ(s.Pixels(2, 2), 0x0000FFu);
  s.LoadFromGraphicRect(&bmp, 6, 6, Rect(2, 2, 5, 5));  // stretched twice
  EXPECT_EQ(s.Width(), 6);
  EXPECT_EQ(s.Pixels(3, 3), 0x00FF00u);
  EXPECT_EQ(s.Pixels(5, 5), 0x0000FFu);
  // Each way leaves the canvas released.
  EXPECT_TRUE(s.Fill(0));
}

TEST_F(SurfaceTest, AssignDuplicatesAndCopiesIntoABitmap) {
  MakeDD();
  auto* s = Numbered(Make(5, 3));
  TDirectDrawSurface dup(DD);
  dup.Assign(s);
  EXPECT_EQ(dup.Pixels(4, 2), N(4, 2));
  s->SetPixels(0, 0, 0x42);
  EXPECT_EQ(dup.Pixels(0, 0), 0x42u);  // the same memory
  TDirectDrawSurface none(DD);
  dup.Assign(&none);
  EXPECT_EQ(dup.IDDSurface(), nullptr);
  s->Fill(0x336699);
  TDIB dib;
  dib.Assign(s);
  ASSERT_EQ(dib.Width(), 5);
  EXPECT_EQ(dib.BitCount(), 24);
  EXPECT_EQ(dib.Pixels(2, 1), 0x996633u);  // blue in the high byte
  EXPECT_TRUE(s->Fill(0));
  TDirectDrawPalette pal(DD);
  EXPECT_THROW(dup.Assign(&pal), EConvertError);
  // A picture loads its graphic; an empty one leaves the surface empty.
  TPicture picture;
  TDIB red;
  red.SetSize(3, 2, 24);
  red.Canvas()->Brush()->SetColor(clRed);
  red.Canvas()->FillRect(Rect(0, 0, 3, 2));
  picture.SetGraphic(&red);
  dup.Assign(&picture);
  ASSERT_EQ(dup.Width(), 3);
  EXPECT_EQ(dup.Pixels(2, 1), 0xFF0000u);
  TPicture empty;
  EXPECT_NO_THROW(dup.Assign(&empty));
  EXPECT_EQ(dup.IDDSurface(), nullptr);
}

TEST_F(SurfaceTest, AttachingTheSameInterfaceKeepsTheState) {
  MakeDD();
  auto* s = Make(4, 4);
  DDSURFACEDESC d;
  ASSERT_TRUE(s->Lock(nullptr, d));
  s->HasClipper = true;
  s->SetIDDSurface(s->IDDSurface());
  EXPECT_EQ(s->LockCount(), 1);
  EXPECT_TRUE(s->HasClipper);
  s->Unlock();
  // Another interface resets them.
  auto* t = Make(2, 2);
  s->SetIDDSurface(t->IDDSurface4());
  EXPECT_FALSE(s->HasClipper);
  EXPECT_EQ(s->Width(), 2);
}

}  // namespace
