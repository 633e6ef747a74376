// The accelerated drawer on a 3-D display, pixel by pixel: when it is active, copies, blends and
// rotations of surfaces and of image-list patterns, texture coordinates and the texture cache,
// and what happens when a texture or a drawing fails.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>

#include "framework/graphics/D2D.h"
#include "framework/graphics/DXDraws.h"
#include "framework/graphics/DXImageList.h"
#include "graphics/DisplayTestSupport.h"
#include "graphics/SpriteTestSupport.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/d3d/D3D.h"
#include "platform/d3d/Rasterizer.h"
#include "platform/forms/Forms.h"

namespace {

using sprite_test::SetPicture;

constexpr TColor kBackground = 0x404040;

class D2DTest : public display_test::SmallDisplayTest {
 protected:
  // The editor's kind of display, 64 x 48, initialized and filled with the background.
  void MakeDisplay(TDXDrawOptions Options = {doWaitVBlank, do3D, doDirectX7Mode, doHardware}) {
    OpenDisplay(Options);
    if (HasFatalFailure()) return;
    dx->Surface->Fill(dx->Surface->MatchColor(kBackground));
  }
  // A surface of the display holding Colour(x, y) (colours as TColor values).
  TDirectDrawSurface* MakeSurface(int W, int H, const std::function<DWORD(int, int)>& Colour) {
    auto* s = new TDirectDrawSurface(dx->DDraw);
    s->SetSize(W, H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        s->SetPixels(x, y, s->MatchColor(static_cast<TColor>(Colour(x, y))));
    return s;
  }
  TPictureCollectionItem* AddPicture(const std::string& Name, int W, int H, int PW, int PH,
                                     const std::function<DWORD(int, int)>& Colour) {
    if (!List) {
      List = new TDXImageList(Form);
      List->SetDXDraw(dx);
    }
    auto* item = static_cast<TPictureCollectionItem*>(List->Items()->Add());
    item->SetName(Name);
    SetPicture(item, W, H, Colour);
    item->PatternWidth = PW;
    item->PatternHeight = PH;
    item->Restore();
    return item;
  }
  DWORD Pixel(int X, int Y) { return dx->Surface->Pixels(X, Y); }
  DWORD Colour(TColor C) { return dx->Surface->MatchColor(C); }
};

TEST_F(D2DTest, ActiveOnSixteenAndThirtyTwoBitDisplaysWithTheEditorsOptions) {
  MakeDisplay();
  TD2D* d2d = dx->D2D;
  ASSERT_NE(d2d, nullptr);
  EXPECT_TRUE(d2d->IsActive());
  EXPECT_EQ(d2d->SurfaceBitCount, 32);
  ASSERT_NE(d2d->Textures(), nullptr);
  EXPECT_EQ(d2d->TextureCount(), 0);
  for (const D3DTLVERTEX& v : d2d->Vertices) {
    EXPECT_EQ(v.rhw, 1.0f);
    EXPECT_EQ(v.specular, 0xFFFFFFFFu);
    EXPECT_EQ(v.sx, 0.0f);
  }

  // Without hardware asked for, nothing comes here.
  dx->SetOptions({doWaitVBlank, do3D, doDirectX7Mode});
  EXPECT_FALSE(d2d->IsActive());
  TDirectDrawSurface* source = MakeSurface(4, 4, [](int, int) { return 0xFFFFFF; });
  EXPECT_FALSE(d2d->Draw(Rect(0, 0, 4, 4), source, false));
  EXPECT_EQ(Pixel(1, 1), Colour(kBackground));
  delete source;
  Application->DestroyComponents();

  ddraw::SetDesktopFormat(16);
  MakeDisplay();
  EXPECT_TRUE(dx->D2D->IsActive());
  EXPECT_EQ(dx->D2D->SurfaceBitCount, 16);
  source = MakeSurface(4, 4, [](int, int) { return 0xFFFFFF; });
  dx->Surface->Draw(0, 0, source->ClientRect(), source, false);
  EXPECT_EQ(Pixel(3, 3), Colour(0xFFFFFF));
  delete source;
  Application->DestroyComponents();

  // A 24-bit display never draws through the device, whatever its options.
  ddraw::SetDesktopFormat(24);
  MakeDisplay();
  EXPECT_FALSE(dx->D2D->IsActive());
  EXPECT_EQ(dx->D2D->SurfaceBitCount, 24);
  source = MakeSurface(4, 4, [](int, int) { return 0xFFFFFF; });
  EXPECT_FALSE(dx->D2D->Draw(Rect(0, 0, 4, 4), source, false));
  EXPECT_EQ(Pixel(1, 1), Colour(kBackground));
  delete source;
}

TEST_F(D2DTest, SurfacesAreCopiedThroughTextures) {
  MakeDisplay();
  // 10 x 6, a different colour in every column; the top-left pixel is the key colour.
  TDirectDrawSurface* source = MakeSurface(
      10, 6, [](int x, int y) { return (x == 0 && y == 0) ? 0xFF00FF : 0x000010 * (x + 1); });
  dx->Surface->Draw(5, 5, source->ClientRect(), source, false);
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(Pixel(5 + x, 7), Colour(0x000010 * (x + 1))) << x;
    EXPECT_EQ(Pixel(5 + x, 10), Colour(0x000010 * (x + 1))) << x;
  }
  EXPECT_EQ(Pixel(5, 5), Colour(0xFF00FF));
  EXPECT_EQ(Pixel(15, 7), Colour(kBackground));
  EXPECT_EQ(Pixel(5, 11), Colour(kBackground));
  // The texture is a power of two on each side; the surface lies in its top-left part.
  ASSERT_EQ(dx->D2D->TextureCount(), 1);
  const TD2DTextureEntry& e = dx->D2D->Textures()->Entries[0];
  EXPECT_EQ(e.U1, 10.0 / 16);
  EXPECT_EQ(e.V1, 6.0 / 8);
  EXPECT_EQ(e.Name, IntToStr(reinterpret_cast<std::intptr_t>(source)));

  // Transparent drawing keys out the colour of the top-left pixel (a new texture: the cache
  // knows surfaces by identity, so the same surface keeps its first texture).
  TDirectDrawSurface* keyed =
      MakeSurface(10, 6, [](int x, int y) { return (x == 0 && y == 0) ? 0xFF00FF : 0x00FF00; });
  keyed->SetPixels(3, 3, keyed->MatchColor(0xFF00FF));
  dx->Surface->Draw(30, 5, keyed->ClientRect(), keyed, true);
  EXPECT_EQ(Pixel(30, 5), Colour(kBackground));
  EXPECT_EQ(Pixel(33, 8), Colour(kBackground));
  EXPECT_EQ(Pixel(31, 5), Colour(0x00FF00));
  EXPECT_EQ(dx->D2D->TextureCount(), 2);
  delete keyed;
  delete source;
}

TEST_F(D2DTest, AddSubtractAndAlphaBlend) {
  MakeDisplay();
  TDirectDrawSurface* white = MakeSurface(4, 4, [](int, int) { return 0xFFFFFF; });
  const TRect src = white->ClientRect();
  dx->Surface->DrawAdd(Rect(0, 0, 4, 4), src, white, false, 128);
  dx->Surface->DrawSub(Rect(4, 0, 8, 4), src, white, false, 128);
  dx->Surface->DrawAlpha(Rect(8, 0, 12, 4), src, white, false, 128);
  // Stretched to twice the size.
  dx->Surface->DrawAdd(Rect(0, 8, 8, 16), src, white, false, 255);
  EXPECT_EQ(Pixel(1, 1), Colour(0xC0C0C0));
  EXPECT_EQ(Pixel(5, 1), Colour(0x202020));
  EXPECT_EQ(Pixel(9, 1), Colour(0xA0A0A0));
  EXPECT_EQ(Pixel(7, 15), Colour(0xFFFFFF));
  EXPECT_EQ(Pixel(8, 15), Colour(kBackground));
  EXPECT_EQ(Pixel(12, 1), Colour(kBackground));
  // One texture for all of them; every drawing leaves the quad reset.
  EXPECT_EQ(dx->D2D->TextureCount(), 1);
  EXPECT_EQ(dx->D2D->Vertices[3].sx, 0.0f);
  EXPECT_EQ(dx->D2D->Vertices[3].color, 0u);
  delete white;
}

TEST_F(D2DTest, QuarterTurnAboutTheCentre) {
  MakeDisplay();
  // 8 x 4: red left half, blue right half.
  TDirectDrawSurface* source =
      MakeSurface(8, 4, [](int x, int) { return x < 4 ? 0x0000FF : 0xFF0000; });
  // Centre (20, 20): the picture's width now runs down the screen, its height to the left.
  dx->Surface->DrawRotate(20, 20, 8, 4, source->ClientRect(), source, 0.5, 0.5, false, 64);
  EXPECT_EQ(Pixel(20, 17), Colour(0x0000FF));
  EXPECT_EQ(Pixel(20, 22), Colour(0xFF0000));
  EXPECT_EQ(Pixel(19, 22), Colour(0xFF0000));
  EXPECT_EQ(Pixel(20, 14), Colour(kBackground));
  EXPECT_EQ(Pixel(20, 25), Colour(kBackground));
  EXPECT_EQ(Pixel(23, 20), Colour(kBackground));
  EXPECT_EQ(Pixel(16, 20), Colour(kBackground));
  // Angle 0 draws it upright around the same centre.
  dx->Surface->Fill(dx->Surface->MatchColor(kBackground));
  dx->Surface->DrawRotateAdd(20, 20, 8, 4, source->ClientRect(), source, 0.5, 0.5, false, 0, 255);
  EXPECT_EQ(Pixel(17, 19), Colour(0x4040FF));
  EXPECT_EQ(Pixel(22, 19), Colour(0xFF4040));
  EXPECT_EQ(Pixel(20, 23), Colour(kBackground));
  delete source;
}

// Every quad the drawer draws, of surfaces and of pictures, in each blend, upright and turned,
// with and without its filter, on both kinds of display, is one drawing the device's span
// drawer takes whole: none goes pixel by pixel.
TEST_F(D2DTest, EveryQuadGoesToTheSpanDrawer) {
  for (int bits : {32, 16})
    for (bool filter : {true, false}) {
      SCOPED_TRACE(std::to_string(bits) + (filter ? " bits, filtered" : " bits, point"));
      ddraw::SetDesktopFormat(bits);
      MakeDisplay();
      if (HasFatalFailure()) return;
      TD2D& d2d = *dx->D2D;
      ASSERT_TRUE(d2d.IsActive());
      ASSERT_EQ(d2d.SurfaceBitCount, bits);
      d2d.SetTextureFilter(filter);
      TDirectDrawSurface* source =
          MakeSurface(10, 6, [](int x, int y) { return x == y ? 0xFF00FF : 0x20A040; });
      TPictureCollectionItem* picture =
          AddPicture("Picture", 32, 16, 16, 16, [](int x, int) { return 0x104080 + x; });
      const TRect box = Rect(3, 4, 23, 16);
      const std::function<bool()> draws[] = {
          [&] { return d2d.Draw(box, source, false); },
          [&] { return d2d.Draw(box, source, true); },
          [&] { return d2d.DrawAdd(box, source, true, 200); },
          [&] { return d2d.DrawSub(box, source, false, 90); },
          [&] { return d2d.DrawAlpha(box, source, true, 128); },
          [&] { return d2d.DrawRotate(30, 20, 10, 6, source, 0.5, 0.5, true, 37); },
          [&] { return d2d.DrawRotateAdd(30, 20, 10, 6, source, 0.5, 0.5, false, 64, 255); },
          [&] { return d2d.DrawRotateSub(30, 20, 10, 6, source, 0.25, 0.5, true, 200, 40); },
          [&] { return d2d.DrawRotateAlpha(30, 20, 12, 8, source, 0, 1, false, 128, 99); },
          [&] { return d2d.StretchDraw(picture, box, 1); },
          [&] { return d2d.DrawAdd(picture, box, 0, 128); },
          [&] { return d2d.DrawSub(picture, box, 1, 255); },
          [&] { return d2d.DrawAlpha(picture, box, 0, 60); },
          [&] { return d2d.DrawRotate(picture, 30, 20, 16, 16, 1, 0.5, 0.5, 21); },
          [&] { return d2d.DrawRotateAdd(picture, 30, 20, 16, 16, 0, 0.5, 0.5, 100, 128); },
          [&] { return d2d.DrawRotateSub(picture, 30, 20, 16, 16, 1, 0.5, 0.5, 192, 30); },
          [&] { return d2d.DrawRotateAlpha(picture, 30, 20, 16, 16, 0, 0.5, 0.5, 5, 200); },
      };
      for (std::size_t k = 0; k < std::size(draws); ++k) {
        const d3d::SpanDrawerCounts before = d3d::SpanDrawerCountsSoFar();
        EXPECT_TRUE(draws[k]()) << "drawing " << k;
        const d3d::SpanDrawerCounts after = d3d::SpanDrawerCountsSoFar();
        EXPECT_EQ(after.Taken - before.Taken, 1u) << "drawing " << k;
        EXPECT_EQ(after.Declined, before.Declined) << "drawing " << k;
        EXPECT_EQ(after.TrianglesLeft, before.TrianglesLeft) << "drawing " << k;
      }
      delete source;
      Application->DestroyComponents();
      List = nullptr;
    }
}

TEST_F(D2DTest, PatternsOfPicturesAndTheirTextureCoordinates) {
  MakeDisplay();
  // Point sampling: the texels of neighbouring patterns do not bleed in at the edges.
  dx->D2D->SetTextureFilter(false);
  // 48 x 48 in 16 x 16 patterns, each a colour of its own: pattern 4 is the second row's second.
  TPictureCollectionItem* grid = AddPicture("Grid", 48, 48, 16, 16, [](int x, int y) {
    return static_cast<DWORD>(0x202020 + 0x10 * (x / 16) + 0x1000 * (y / 16));
  });
  grid->Transparent = false;
  grid->Draw(dx->Surface, 10, 10, 4);
  EXPECT_EQ(Pixel(10, 10), Colour(0x203030));
  EXPECT_EQ(Pixel(25, 25), Colour(0x203030));
  EXPECT_EQ(Pixel(26, 26), Colour(kBackground));
  ASSERT_EQ(dx->D2D->TextureCount(), 1);
  const TD2DTextureEntry& e = dx->D2D->Textures()->Entries[0];
  EXPECT_EQ(e.Name, "Grid");
  EXPECT_EQ(e.U0, 16.0 / 64);
  EXPECT_EQ(e.V0, 16.0 / 64);
  EXPECT_EQ(e.U1, 32.0 / 64);
  EXPECT_EQ(e.V1, 32.0 / 64);

  // Drawing to any other surface draws nothing.
  TDirectDrawSurface other(dx->DDraw);
  other.SetSize(16, 16);
  other.Fill(0);
  grid->Draw(&other, 0, 0, 4);
  EXPECT_EQ(other.Pixels(8, 8), 0u);

  // A 1 x 1 picture becomes a 2 x 2 texture, with the picture in its first quarter.
  TPictureCollectionItem* dot = AddPicture("Dot", 1, 1, 0, 0, [](int, int) { return 0x00FFFF; });
  dot->Transparent = false;
  dot->StretchDraw(dx->Surface, Rect(40, 40, 44, 44), 0);
  EXPECT_EQ(Pixel(40, 40), Colour(0x00FFFF));
  EXPECT_EQ(Pixel(43, 43), Colour(0x00FFFF));
  const int i = dx->D2D->Textures()->Find("dot");
  ASSERT_GE(i, 0);
  EXPECT_EQ(dx->D2D->Textures()->Entries[i].U1, 0.5);
  EXPECT_EQ(dx->D2D->Textures()->Entries[i].V1, 0.5);
  EXPECT_EQ(dx->D2D->Textures()->Entries[i].Texture->Image()->Width, 2);

  // The image list's restore empties the cache.
  grid->Restore();
  EXPECT_EQ(dx->D2D->TextureCount(), 0);
}

TEST_F(D2DTest, TransparentPicturesAndNamesThatDifferInCase) {
  MakeDisplay();
  TPictureCollectionItem* ball =
      AddPicture("Ball", 4, 4, 0, 0, [](int x, int) { return x < 2 ? 0xFF00FF : 0x0000FF; });
  // A second picture whose name differs only in case (made before drawing: cutting a picture
  // empties the cache).
  TPictureCollectionItem* other = AddPicture("BALL", 4, 4, 0, 0, [](int, int) { return 0x00FF00; });
  ball->SetTransparentColor(0xFF00FF);
  ball->Transparent = true;
  ball->Draw(dx->Surface, 0, 0, 0);
  EXPECT_EQ(Pixel(0, 0), Colour(kBackground));
  EXPECT_EQ(Pixel(3, 3), Colour(0x0000FF));

  // ...is drawn with the first one's texture.
  other->Transparent = false;
  other->Draw(dx->Surface, 8, 0, 0);
  EXPECT_EQ(Pixel(11, 3), Colour(0x0000FF));
  EXPECT_EQ(dx->D2D->TextureCount(), 2);

  // An unnamed picture is given a name for its texture.
  TPictureCollectionItem* unnamed = AddPicture("", 2, 2, 0, 0, [](int, int) { return 0xFFFFFF; });
  unnamed->Draw(dx->Surface, 16, 0, 0);
  EXPECT_FALSE(unnamed->Name().empty());
  EXPECT_EQ(Pixel(17, 1), Colour(0xFFFFFF));
}

TEST_F(D2DTest, TheCacheIsEmptiedBeforeItGrowsPastItsLimit) {
  MakeDisplay();
  TPictureCollectionItem* a = AddPicture("A", 2, 2, 0, 0, [](int, int) { return 0xFFFFFF; });
  TPictureCollectionItem* b = AddPicture("B", 2, 2, 0, 0, [](int, int) { return 0x000000; });
  b->Transparent = false;
  dx->D2D->SetTextureCount(TD2D::MaxTextures - 1);
  EXPECT_EQ(dx->D2D->TextureCount(), TD2D::MaxTextures - 1);
  a->Draw(dx->Surface, 0, 0, 0);  // the 2048th: kept
  EXPECT_EQ(dx->D2D->TextureCount(), TD2D::MaxTextures);
  dx->D2D->SetTextureCount(TD2D::MaxTextures + 1);
  b->Draw(dx->Surface, 4, 0, 0);  // more than 2048 held: emptied first
  EXPECT_EQ(dx->D2D->TextureCount(), 1);
  EXPECT_EQ(Pixel(4, 0), Colour(0x000000));
  dx->D2D->SetTextureCount(0);  // ignored
  EXPECT_EQ(dx->D2D->TextureCount(), 1);
  dx->D2D->ClearTextures();
  EXPECT_EQ(dx->D2D->TextureCount(), 0);
}

TEST_F(D2DTest, FailuresDrawNothingAndHoldTheFrame) {
  MakeDisplay();
  // A picture that cannot become a texture: no entry, no quad.
  TPictureCollectionItem* empty = AddPicture("Empty", 2, 2, 0, 0, [](int, int) { return 0; });
  empty->Picture()->SetGraphic(nullptr);
  EXPECT_FALSE(dx->D2D->StretchDraw(empty, Rect(0, 0, 8, 8), 0));
  EXPECT_EQ(dx->D2D->TextureCount(), 0);
  EXPECT_EQ(Pixel(4, 4), Colour(kBackground));

  // A drawing surface held by its canvas cannot be drawn on: the next flip is skipped.
  TDirectDrawSurface* white = MakeSurface(4, 4, [](int, int) { return 0xFFFFFF; });
  dx->Surface->Canvas()->Handle();
  EXPECT_TRUE(dx->D2D->Draw(Rect(0, 0, 4, 4), white, false));
  EXPECT_TRUE(SkipNextFlip);
  dx->Surface->Canvas()->Release();
  EXPECT_TRUE(dx->D2D->Draw(Rect(0, 0, 4, 4), white, false));
  EXPECT_FALSE(SkipNextFlip);
  EXPECT_EQ(Pixel(2, 2), Colour(0xFFFFFF));
  delete white;
}

TEST_F(D2DTest, TexturesComeBackAfterLostSurfaces) {
  MakeDisplay();
  TDirectDrawSurface* green = MakeSurface(4, 4, [](int, int) { return 0x00FF00; });
  dx->Surface->Draw(0, 0, green->ClientRect(), green, false);
  ASSERT_EQ(dx->D2D->TextureCount(), 1);
  ddraw::MarkSurfacesLost(dx->DDraw->IDDraw7());
  ASSERT_TRUE(dx->CanDraw());  // restores the display and reloads the textures
  dx->Surface->Fill(dx->Surface->MatchColor(kBackground));
  // The texture loads again from the copy it keeps, though its source surface is still lost.
  dx->Surface->Draw(0, 0, green->ClientRect(), green, false);
  EXPECT_EQ(Pixel(2, 2), Colour(0x00FF00));
  delete green;
}

}  // namespace
