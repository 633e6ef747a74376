// Background sprites (maps of chips) and the sprite-engine component's collection of design-time
// sprites.
#include <gtest/gtest.h>

#include "SpriteTestSupport.h"
#include "framework/graphics/DXSprite.h"
#include "framework/graphics/DXSpriteEngine.h"

using namespace sprite_test;

namespace {

TEST(BackgroundMap, SizesAndCells) {
  TSpriteEngine e(nullptr);
  TBackgroundSprite bg(&e);
  EXPECT_FALSE(bg.Collisioned);
  bg.SetMapSize(3, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(bg.Chips(x, y), 0);
      EXPECT_TRUE(bg.CollisionMap(x, y));
    }
  }
  bg.SetChip(2, 1, 7);
  bg.SetCollisionMap(2, 1, false);
  EXPECT_EQ(bg.Chips(2, 1), 7);
  EXPECT_FALSE(bg.CollisionMap(2, 1));
  // Outside the map: -1 and not solid; writes there go nowhere.
  EXPECT_EQ(bg.Chips(3, 0), -1);
  EXPECT_EQ(bg.Chips(-1, 0), -1);
  EXPECT_FALSE(bg.CollisionMap(0, 2));
  bg.SetChip(5, 5, 1);
  // Setting the same size keeps the cells; any other size clears them.
  bg.SetMapSize(3, 2);
  EXPECT_EQ(bg.Chips(2, 1), 7);
  bg.SetMapWidth(0);
  EXPECT_EQ(bg.MapWidth(), 0);
  EXPECT_EQ(bg.MapHeight(), 0);
  bg.SetMapWidth(5);
  EXPECT_EQ(bg.MapWidth(), 0);
  EXPECT_EQ(bg.Chips(0, 0), -1);
  // An oversize map is refused and the old one stays.
  bg.SetMapSize(4, 4);
  EXPECT_THROW(bg.SetMapSize(1 << 16, 1 << 16), ESpriteError);
  EXPECT_THROW(bg.SetMapSize(2147483647, 2147483647), ESpriteError);
  EXPECT_EQ(bg.MapWidth(), 4);
  EXPECT_TRUE(bg.CollisionMap(3, 3));
  // Assign brings the cells with the size.
  bg.SetChip(3, 3, 9);
  TBackgroundSprite copy(&e);
  copy.Assign(&bg);
  EXPECT_EQ(copy.MapWidth(), 4);
  EXPECT_EQ(copy.Chips(3, 3), 9);
}

class BackgroundTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    dx->Initialize();
    list = new TDXImageList(form);
    list->SetDXDraw(dx);
    engine = new TDXSpriteEngine(form);
    engine->SetDXDraw(dx);
    chips = static_cast<TPictureCollectionItem*>(list->Items()->Add());
    // Two 32 x 32 chips: 0 red, 1 green.
    SetPicture(chips, 64, 32, [](int x, int) { return x < 32 ? 0x0000FFu : 0x00FF00u; });
    chips->PatternWidth = 32;
    chips->Restore();
    bg = new TBackgroundSprite(engine->Engine());
    bg->SetMapSize(2, 2);
    bg->SetImage(chips);
  }
  // The rectangles of the chips drawn in one frame.
  std::vector<TRect> DrawnChips() {
    std::vector<TRect> out;
    bg->OnDraw = [&](TObject*) { out.push_back(bg->ChipRect); };
    engine->Draw();
    bg->OnDraw = nullptr;
    return out;
  }
  TDXImageList* list = nullptr;
  TDXSpriteEngine* engine = nullptr;
  TPictureCollectionItem* chips = nullptr;
  TBackgroundSprite* bg = nullptr;
};

TEST_F(BackgroundTest, UntiledMapDrawsOnlyItsVisibleCells) {
  EXPECT_EQ(bg->Width, 64);
  bg->X = -40;
  const std::vector<TRect> drawn = DrawnChips();
  // Column 0 lies off-screen and is not visited; column 1 lands at -8.
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[0], (TRect{-8, 0, 24, 32}));
  EXPECT_EQ(drawn[1], (TRect{-8, 32, 24, 64}));
  // Pixels: chip 1 (green) in the top-right cell, an empty cell draws nothing.
  bg->X = 100;
  bg->Y = 50;
  bg->SetChip(1, 0, 1);
  bg->SetChip(0, 1, -1);
  const DWORD background = dx->Surface->MatchColor(0x00404040);
  dx->Surface->Fill(background);
  engine->Draw();
  EXPECT_EQ(Pixel(110, 60), chips->PatternSurfaces(0)->Pixels(0, 0));
  EXPECT_EQ(Pixel(140, 60), chips->PatternSurfaces(1)->Pixels(40, 0));
  EXPECT_EQ(Pixel(110, 90), background);
  EXPECT_EQ(bg->ChipIndex, 0);  // the last cell visited
}

TEST_F(BackgroundTest, TiledMapCoversTheWholeSurface) {
  bg->Tile = true;
  bg->SetChip(1, 0, 1);
  bg->SetChip(1, 1, 1);
  EXPECT_EQ(bg->BoundsRect(), (TRect{0, 0, 512, 448}));
  const std::vector<TRect> drawn = DrawnChips();
  // Columns -1 .. (512 + 32) div 32 + 1 and rows -1 .. (448 + 32) div 32 + 1.
  EXPECT_EQ(drawn.size(), 20u * 18u);
  EXPECT_EQ(drawn.front(), (TRect{-32, -32, 0, 0}));
  dx->Surface->Fill(0);
  engine->Draw();
  // The map repeats every 64 pixels: red, green, red, green...
  const DWORD red = chips->PatternSurfaces(0)->Pixels(0, 0);
  const DWORD green = chips->PatternSurfaces(1)->Pixels(40, 0);
  for (int x = 0; x < 512; x += 32) {
    EXPECT_EQ(Pixel(x + 1, 300), (x / 32) % 2 == 0 ? red : green) << x;
  }
  // Scrolled by -40 the pattern shifts with it, wrapping at the edges.
  bg->X = -40;
  dx->Surface->Fill(0);
  engine->Draw();
  EXPECT_EQ(Pixel(0, 10), green);
  EXPECT_EQ(Pixel(24, 10), red);
  EXPECT_EQ(Pixel(511, 447), green);
}

TEST_F(BackgroundTest, CollisionByCellsAndEdges) {
  bg->Collisioned = true;
  bg->X = 100;
  bg->Y = 100;
  bg->SetCollisionMap(0, 0, false);
  bg->SetCollisionMap(1, 0, true);
  bg->SetCollisionMap(0, 1, false);
  bg->SetCollisionMap(1, 1, false);
  auto* s = new TSprite(engine->Engine());
  s->Width = 10;
  s->Height = 10;
  auto hits = [&](double x, double y) {
    s->X = x;
    s->Y = y;
    return s->Collision();
  };
  EXPECT_EQ(hits(110, 110), 0);  // over cell (0, 0), not solid
  EXPECT_EQ(hits(140, 110), 1);  // over cell (1, 0)
  EXPECT_EQ(hits(164, 110), 0);  // touching the map's right edge
  EXPECT_EQ(hits(100, 90), 0);   // touching its top edge
  EXPECT_EQ(hits(125, 140), 0);  // straddling (0, 1) and (1, 1)
  // Hanging over the right edge of the map: the cells beyond are not solid (they would be the
  // solid column 0 again if the map wrapped).
  bg->SetCollisionMap(0, 1, true);
  bg->SetCollisionMap(1, 0, false);
  EXPECT_EQ(hits(158, 140), 0);
  // Tiled, the map does wrap: the same spot now meets column 0 of the next copy.
  bg->Tile = true;
  EXPECT_EQ(hits(158 + 64, 140), 1);
  // A plain background test: true without an image or a map.
  TBackgroundSprite empty(engine->Engine());
  empty.Collisioned = true;
  empty.Width = 1000;
  empty.Height = 1000;
  bg->Collisioned = false;
  EXPECT_EQ(hits(10, 10), 0);  // empty has no bounds without an image
}

TEST_F(BackgroundTest, PictureWithoutPatternsDrawsAndHitsNothing) {
  auto* uncut = static_cast<TPictureCollectionItem*>(list->Items()->Add());
  SetPicture(uncut, 16, 16, [](int, int) { return 0x00FFFFu; });
  uncut->PatternWidth = 32;  // wider than the picture: no pattern
  uncut->Restore();
  ASSERT_EQ(uncut->PatternCount(), 0);
  bg->SetImage(uncut);
  int drawn = 0;
  bg->OnDraw = [&](TObject*) { ++drawn; };
  EXPECT_NO_THROW(engine->Draw());
  bg->Tile = true;
  EXPECT_NO_THROW(engine->Draw());
  EXPECT_EQ(drawn, 0);
  // It counts as an empty map.
  auto* s = new TSprite(engine->Engine());
  s->Width = 10;
  s->Height = 10;
  bg->Collisioned = true;
  EXPECT_EQ(s->Collision(), 1);
}

// --- the component's collection ---------------------------------------------------------------

TEST(SpriteCollection, ItemsKeepATemplateSpriteInTheEngine) {
  TDXSpriteEngine component(nullptr);
  TSpriteCollection* items = component.Items();
  auto* a = static_cast<TSpriteCollectionItem*>(items->Add());
  a->SetName("Enemy");
  EXPECT_EQ(a->KindSprite(), stSprite);
  ASSERT_NE(a->Sprite(), nullptr);
  EXPECT_EQ(a->Sprite()->Parent(), component.Engine());
  EXPECT_EQ(component.Engine()->SpriteCount(), 1);

  // A new kind keeps position, size, flags and events, and draws its image.
  a->Sprite()->X = 12;
  a->Sprite()->Width = 7;
  a->Sprite()->Visible = false;
  int moved = 0;
  a->OnMove() = [&](TObject*, int&) { ++moved; };
  a->SetKindSprite(stImageSprite);
  auto* image = dynamic_cast<TImageSprite*>(a->Sprite());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->X, 12);
  EXPECT_EQ(image->Width, 7);
  EXPECT_FALSE(image->Visible);
  component.Move(1);
  EXPECT_EQ(moved, 1);
  EXPECT_EQ(component.Engine()->SpriteCount(), 1);

  // Names: unique ignoring case, but an item may change the case of its own.
  auto* b = static_cast<TSpriteCollectionItem*>(items->Add());
  b->SetName("Boss");
  try {
    b->SetDisplayName("ENEMY");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Item duplicate name \"ENEMY\" error");
  }
  EXPECT_NO_THROW(b->SetDisplayName("BOSS"));
  EXPECT_NO_THROW(b->SetDisplayName(""));
}

TEST(SpriteCollection, InitializeSwallowsTheHandlersError) {
  TDXSpriteEngine component(nullptr);
  TSpriteCollection* items = component.Items();
  EXPECT_TRUE(items->Initialize(component.Engine()));
  TSpriteEngine* seen = nullptr;
  items->OnInitialize = [&](TSpriteEngine* e) { seen = e; };
  EXPECT_TRUE(items->Initialize(component.Engine()));
  EXPECT_EQ(seen, component.Engine());
  items->OnInitialize = [](TSpriteEngine*) { throw Exception("no"); };
  EXPECT_FALSE(items->Initialize(component.Engine()));
}

// A template sprite whose own move handler changes the item's kind: the old sprite is running
// that handler and stands in the list being walked, so it must not be freed there.
TEST(SpriteCollection, KindChangedFromTheSpritesOwnEventIsDeferred) {
  TDXSpriteEngine component(nullptr);
  auto* item = static_cast<TSpriteCollectionItem*>(component.Items()->Add());
  auto* sibling = new TSprite(component.Engine());
  int siblingMoves = 0;
  sibling->OnMove = [&](TObject*, int&) { ++siblingMoves; };
  item->OnMove() = [item](TObject*, int&) {
    if (item->KindSprite() == stSprite) item->SetKindSprite(stImageSpriteEx);
  };
  component.Move(1);
  EXPECT_EQ(siblingMoves, 1);
  EXPECT_EQ(item->KindSprite(), stImageSpriteEx);
  EXPECT_EQ(component.Engine()->DeadList().size(), 1u);
  component.Move(1);  // the old sprite is switched off: only the new one and the sibling move
  EXPECT_EQ(siblingMoves, 2);
  component.Dead();
  EXPECT_EQ(component.Engine()->SpriteCount(), 2);
  // Outside a walk the old sprite goes at once.
  item->SetKindSprite(stBackgroundSprite);
  EXPECT_EQ(component.Engine()->SpriteCount(), 2);
  EXPECT_TRUE(component.Engine()->DeadList().empty());
}

}  // namespace
