// Image sprites: animation, wrap-around, centring, drawing and the pixel collision test.
#include <gtest/gtest.h>

#include <cmath>

#include "SpriteTestSupport.h"
#include "framework/graphics/DXSprite.h"
#include "framework/graphics/DXSpriteEngine.h"

using namespace sprite_test;

namespace {

class TAreaEngine : public TSpriteEngine {
 public:
  explicit TAreaEngine(int W = 512, int H = 448) : TSpriteEngine(nullptr) {
    FSurfaceRect = TRect{0, 0, W, H};
  }
};

TEST(ImageSpriteAnimation, StopsAtTheLastFrame) {
  TAreaEngine e;
  TImageSprite s(&e);
  s.AnimCount = 4;
  s.AnimSpeed = 1;
  std::vector<double> seen;
  for (int i = 0; i < 5; ++i) {
    e.Move(1);
    seen.push_back(s.AnimPos);
  }
  EXPECT_EQ(seen, (std::vector<double>{1, 2, 3, 3, 3}));
  EXPECT_EQ(s.AnimSpeed, 0);
  // Without frames it settles at 0.
  TImageSprite empty(&e);
  empty.AnimSpeed = 1;
  e.Move(1);
  EXPECT_EQ(empty.AnimPos, 0);
  EXPECT_EQ(empty.AnimSpeed, 0);
  // Backwards past the first frame.
  TImageSprite back(&e);
  back.AnimCount = 3;
  back.AnimPos = 1;
  back.AnimSpeed = -0.75;
  e.Move(2);
  EXPECT_EQ(back.AnimPos, 0);
  EXPECT_EQ(back.AnimSpeed, 0);
}

TEST(ImageSpriteAnimation, LoopsOverManyFrames) {
  TAreaEngine e;
  TImageSprite s(&e);
  s.AnimCount = 2;
  s.AnimSpeed = 0.25;
  s.AnimLooped = true;
  s.AnimStart = 10;
  std::vector<int> frames;
  for (int i = 0; i < 8; ++i) {
    e.Move(1);
    frames.push_back(s.GetDrawImageIndex());
  }
  // Halves round to even: 0.5 draws frame 0, 1.5 frame 2 (one past the last).
  EXPECT_EQ(frames, (std::vector<int>{10, 10, 11, 11, 11, 12, 12, 10}));
  // Thousands of steps of an inexact speed stay in range.
  s.AnimCount = 7;
  s.AnimSpeed = 0.3;
  for (int i = 0; i < 5000; ++i) {
    e.Move(1);
    ASSERT_GE(s.AnimPos, 0);
    ASSERT_LT(s.AnimPos, 7);
  }
  EXPECT_NEAR(s.AnimPos, std::fmod(0.3 * 5000, 7), 1e-6);
  // A move handler replaces the animation step.
  const double pos = s.AnimPos;
  int moves = 0;
  s.OnMove = [&](TObject*, int&) { ++moves; };
  e.Move(1);
  EXPECT_EQ(moves, 1);
  EXPECT_EQ(s.AnimPos, pos);
}

TEST(ImageSpriteGeometry, TileWrapsAroundTheSurface) {
  TAreaEngine e(512, 448);
  TImageSprite s(&e);
  s.Width = 32;
  s.Height = 32;
  s.Tile = true;
  s.X = 520;
  EXPECT_EQ(s.BoundsRect().Left, -24);
  s.X = -40;
  EXPECT_EQ(s.BoundsRect().Left, 504);
  s.X = 512;
  EXPECT_EQ(s.BoundsRect().Left, 512);
  s.Y = 448 + 32 + 5;
  EXPECT_EQ(s.BoundsRect().Top, 5);
  // Nothing to wrap around: the position stays.
  TAreaEngine none(0, 0);
  TImageSprite z(&none);
  z.Tile = true;
  z.X = 77;
  EXPECT_EQ(z.BoundsRect().Left, 77);
}

TEST(ImageSpriteGeometry, PatternIsCentredInLargerBounds) {
  TAreaEngine e;
  TPictureCollection items(nullptr);
  auto* item = static_cast<TPictureCollectionItem*>(items.Add());
  SetPicture(item, 64, 31, [](int, int) { return 0u; });
  item->PatternWidth = 32;
  TImageSprite s(&e);
  s.SetImage(item);
  EXPECT_EQ(s.Width, 32);
  EXPECT_EQ(s.Height, 31);
  s.Width = 64;
  s.Height = 32;
  s.X = 10;
  EXPECT_EQ(s.GetDrawRect(), (TRect{26, 0, 90, 32}));
  s.SetImage(nullptr);
  EXPECT_EQ(s.Width, 0);
}

// Positions and frame numbers at the edge of the 32-bit range wrap around (run under UBSan, an
// overflow here would be reported).
TEST(ImageSpriteGeometry, EdgeOfTheIntegerRangeWraps) {
  TAreaEngine e;
  TPictureCollection items(nullptr);
  auto* item = static_cast<TPictureCollectionItem*>(items.Add());
  SetPicture(item, 32, 32, [](int, int) { return 0u; });
  TImageSprite s(&e);
  s.SetImage(item);
  s.Width = 64;
  s.X = 2147483640.0;
  const TRect r = s.GetDrawRect();
  EXPECT_EQ(r.Left, static_cast<int>(static_cast<std::uint32_t>(2147483640u + 16u)));
  EXPECT_EQ(static_cast<std::uint32_t>(r.Right) - static_cast<std::uint32_t>(r.Left), 64u);
  s.AnimStart = 2147483647;
  s.AnimPos = 1;
  EXPECT_EQ(s.GetDrawImageIndex(), static_cast<int>(0x80000000u));
}

// Masks: pattern 0 is opaque on its left half, pattern 1 on its right half; black is the key.
DWORD HalfMask(int x, int y) {
  const int px = x % 32;
  return (x < 32 ? px < 16 : px >= 16) ? 0x00FFFFFFu : 0u;
}

class ImageSpriteDisplayTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    dx->Initialize();
    list = new TDXImageList(form);
    list->SetDXDraw(dx);
    engine = new TDXSpriteEngine(form);
    engine->SetDXDraw(dx);
  }
  TPictureCollectionItem* Add(int W, int H, int PW, std::function<DWORD(int, int)> Colour) {
    auto* item = static_cast<TPictureCollectionItem*>(list->Items()->Add());
    SetPicture(item, W, H, Colour);
    item->PatternWidth = PW;
    item->Restore();
    return item;
  }
  TImageSprite* Sprite(TPictureCollectionItem* Item, int Frame, double X, double Y) {
    auto* s = new TImageSprite(engine->Engine());
    s->SetImage(Item);
    s->AnimStart = Frame;
    s->X = X;
    s->Y = Y;
    return s;
  }
  TDXImageList* list = nullptr;
  TDXSpriteEngine* engine = nullptr;
};

TEST_F(ImageSpriteDisplayTest, EngineFollowsTheDisplaysSurface) {
  TSpriteEngine* e = engine->Engine();
  EXPECT_EQ(e->Surface(), dx->Surface);
  EXPECT_EQ(e->SurfaceRect(), (TRect{0, 0, 512, 448}));
  dx->Finalize();
  EXPECT_EQ(e->Surface(), nullptr);
  EXPECT_EQ(e->SurfaceRect(), (TRect{0, 0, 512, 448}));
  // Drawing while the display is down does nothing and keeps the count.
  new TSprite(e);
  e->Items(0)->Width = 5;
  e->Items(0)->Height = 5;
  e->Draw();
  EXPECT_EQ(e->DrawCount(), 1);
  engine->Draw();
  EXPECT_EQ(e->DrawCount(), 1);
  dx->Initialize();
  EXPECT_EQ(e->Surface(), dx->Surface);
}

TEST_F(ImageSpriteDisplayTest, PixelTestOnOneSurface) {
  auto* mask = Add(64, 32, 32, HalfMask);
  ASSERT_EQ(mask->PatternCount(), 2);
  TImageSprite* a = Sprite(mask, 0, 100, 100);  // opaque at x 100..115
  TImageSprite* b = Sprite(mask, 1, 100, 100);  // opaque at x 116..131
  a->PixelCheck = true;
  EXPECT_EQ(a->Collision(), 0);
  b->X = 99;  // b's opaque part now starts at 115
  EXPECT_EQ(a->Collision(), 1);
  // Only one side needs PixelCheck: the walk asks both.
  a->PixelCheck = false;
  b->PixelCheck = true;
  b->X = 100;
  EXPECT_EQ(a->Collision(), 0);
  EXPECT_EQ(b->Collision(), 0);
  // Every lock was given back.
  EXPECT_EQ(mask->PatternSurfaces(0)->LockCount(), 0);
  // Bounds that merely touch never reach the pixel test.
  b->X = 132;
  EXPECT_EQ(a->Collision(), 0);
  // A lock held elsewhere makes the test answer no collision.
  b->X = 99;
  DDSURFACEDESC desc;
  ASSERT_TRUE(mask->PatternSurfaces(0)->Lock(nullptr, desc));
  EXPECT_EQ(b->Collision(), 0);
  mask->PatternSurfaces(0)->Unlock();
  EXPECT_EQ(b->Collision(), 1);
}

TEST_F(ImageSpriteDisplayTest, PixelTestAcrossSurfaces) {
  auto* left = Add(32, 32, 0, [](int x, int) { return x < 16 ? 0x00FFFFFFu : 0u; });
  auto* right = Add(32, 32, 0, [](int x, int) { return x >= 16 ? 0x00FFFFFFu : 0u; });
  ASSERT_NE(left->PatternSurfaces(0), right->PatternSurfaces(0));
  TImageSprite* a = Sprite(left, 0, 10, 10);
  TImageSprite* b = Sprite(right, 0, 10, 10);
  a->PixelCheck = true;
  EXPECT_EQ(a->Collision(), 0);
  b->X = 9;
  b->Y = 40;  // bounds overlap by one row, opaque columns meet
  EXPECT_EQ(a->Collision(), 1);
  b->Y = 10;
  b->X = -5;  // b opaque at 11..26, a opaque at 10..25
  EXPECT_EQ(a->Collision(), 1);
  // A frame outside the item's patterns has an empty pattern and never collides.
  b->AnimStart = 3;
  EXPECT_EQ(a->Collision(), 0);
  EXPECT_EQ(left->PatternSurfaces(0)->LockCount(), 0);
  EXPECT_EQ(right->PatternSurfaces(0)->LockCount(), 0);
}

TEST_F(ImageSpriteDisplayTest, EqualZDrawsTheOldestOnTop) {
  auto* red = Add(8, 8, 0, [](int, int) { return 0x0000FFu; });
  auto* blue = Add(8, 8, 0, [](int, int) { return 0xFF0000u; });
  Sprite(red, 0, 20, 20);
  Sprite(blue, 0, 24, 24);
  dx->Surface->Fill(0);
  engine->Draw();
  EXPECT_EQ(engine->Engine()->DrawCount(), 2);
  EXPECT_EQ(Pixel(25, 25), red->PatternSurfaces(0)->Pixels(0, 0));
  EXPECT_EQ(Pixel(30, 30), blue->PatternSurfaces(0)->Pixels(0, 0));
}

// The game's large bullet: a small pattern stretched to 412 x 412 and hanging off the surface,
// drawn with its key.
TEST_F(ImageSpriteDisplayTest, ExtendedSpriteStretchesClipsAndKeys) {
  // Opaque in the middle, keyed black around it.
  auto* bullet = Add(16, 16, 0, [](int x, int y) {
    return x >= 4 && x < 12 && y >= 4 && y < 12 ? 0x00FFFFu : 0u;
  });
  auto* s = new TImageSpriteEx(engine->Engine());
  s->SetImage(bullet);
  s->Width = 412;
  s->Height = 412;
  s->X = 300;
  s->Y = 200;
  EXPECT_EQ(s->BoundsRect(), (TRect{0, 0, 512, 448}));
  const DWORD background = dx->Surface->MatchColor(0x00404040);
  dx->Surface->Fill(background);
  engine->Draw();
  const DWORD yellow = bullet->PatternSurfaces(0)->Pixels(8, 8);
  // The opaque middle covers 300 + 103 .. 300 + 309 across.
  EXPECT_EQ(Pixel(300 + 206, 200 + 206), yellow);
  EXPECT_EQ(Pixel(300 + 50, 200 + 50), background);  // keyed corner
  EXPECT_EQ(Pixel(299, 199), background);            // outside
  // Its collision test uses its own plain bounds.
  auto* other = new TSprite(engine->Engine());
  other->X = 10;
  other->Y = 10;
  other->Width = 10;
  other->Height = 10;
  EXPECT_EQ(s->Collision(), 0);
  other->X = 305;
  other->Y = 205;
  EXPECT_EQ(s->Collision(), 1);
}

TEST_F(ImageSpriteDisplayTest, SpriteWithoutImageOrSurfaceDrawsNothing) {
  auto* s = new TImageSprite(engine->Engine());
  s->Width = 10;
  s->Height = 10;
  EXPECT_NO_THROW(engine->Draw());
  // The image may come from the event, once, while none is set.
  auto* item = Add(10, 10, 0, [](int, int) { return 0x00FF00u; });
  int asked = 0;
  s->OnGetImage = [&](TObject*, TPictureCollectionItem*& Image) {
    ++asked;
    Image = item;
  };
  dx->Surface->Fill(0);
  engine->Draw();
  engine->Draw();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(s->Image(), item);
  EXPECT_EQ(Pixel(5, 5), item->PatternSurfaces(0)->Pixels(5, 5));
  // Without a surface nothing is drawn, and nothing breaks.
  engine->Engine()->SetSurface(nullptr);
  EXPECT_NO_THROW(engine->Engine()->Draw());
}

TEST_F(ImageSpriteDisplayTest, ComponentLeavesTheDisplayWhenFreed) {
  // Freed before the display: the display must not call back into it later.
  delete engine;
  engine = nullptr;
  dx->Finalize();
  dx->Initialize();
  // Freed after the display: it lets go of the display when told.
  auto* second = new TDXSpriteEngine(form);
  second->SetDXDraw(dx);
  auto* list2 = new TDXImageList(form);
  list2->SetDXDraw(dx);
  delete dx;
  dx = nullptr;
  EXPECT_EQ(second->DXDraw(), nullptr);
  EXPECT_EQ(list2->DXDraw(), nullptr);
  EXPECT_EQ(second->Engine()->Surface(), nullptr);
  delete second;
  delete list2;
}

}  // namespace
