// The image list on an initialized display: cutting pictures into pattern surfaces, drawing by
// index, following the display's notifications, lookup and stored data.
#include <gtest/gtest.h>

#include "SpriteTestSupport.h"
#include "framework/graphics/DXConsts.h"
#include "platform/rtl/Streams.h"

using namespace sprite_test;

namespace {

class ImageListTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    dx->Initialize();
    list = new TDXImageList(form);
    list->SetDXDraw(dx);
  }
  TPictureCollectionItem* Add(const std::string& Name, int W, int H, int PW, int PH,
                              std::function<DWORD(int, int)> Colour = nullptr) {
    auto* item = static_cast<TPictureCollectionItem*>(list->Items()->Add());
    item->SetName(Name);
    if (!Colour) Colour = [](int x, int y) { return 0x808080u + (x & 0xF); };
    SetPicture(item, W, H, Colour);
    item->PatternWidth = PW;
    item->PatternHeight = PH;
    item->Restore();
    return item;
  }
  int SurfaceIndex(TPictureCollectionItem* Item, int Pattern) {
    const auto& s = Item->Surfaces();
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == Item->PatternSurfaces(Pattern)) return static_cast<int>(i);
    }
    return -1;
  }
  TDXImageList* list = nullptr;
};

TEST_F(ImageListTest, CutsPicturesIntoTilesOfWholeStrides) {
  // Two patterns side by side on one surface.
  auto* a = Add("A", 64, 32, 32, 0);
  EXPECT_EQ(a->Width(), 32);
  EXPECT_EQ(a->Height(), 32);
  ASSERT_EQ(a->Surfaces().size(), 1u);
  EXPECT_EQ(a->Surfaces()[0]->Width(), 64);
  EXPECT_EQ(a->PatternCount(), 2);
  EXPECT_EQ(a->PatternRects(0), (TRect{0, 0, 32, 32}));
  EXPECT_EQ(a->PatternRects(1), (TRect{32, 0, 64, 32}));
  EXPECT_EQ(a->PatternRects(2), TRect{});
  EXPECT_EQ(a->PatternSurfaces(-1), nullptr);

  // One pattern covering the picture.
  auto* b = Add("B", 40, 30, 0, 0);
  EXPECT_EQ(b->PatternCount(), 1);
  EXPECT_EQ(b->Surfaces().size(), 1u);
  EXPECT_EQ(b->PatternRects(0), (TRect{0, 0, 40, 30}));

  // Wide pictures are split at 2048 pixels...
  auto* c = Add("C", 4096, 128, 128, 128);
  ASSERT_EQ(c->Surfaces().size(), 2u);
  EXPECT_EQ(c->Surfaces()[0]->Width(), 2048);
  EXPECT_EQ(c->Surfaces()[1]->Width(), 2048);
  EXPECT_EQ(c->PatternCount(), 32);
  EXPECT_EQ(SurfaceIndex(c, 20), 1);
  EXPECT_EQ(c->PatternRects(20), (TRect{512, 0, 640, 128}));

  // ...or at the first whole stride past it, the last tile cut to the picture.
  auto* d = Add("D", 3000, 100, 100, 100);
  ASSERT_EQ(d->Surfaces().size(), 2u);
  EXPECT_EQ(d->Surfaces()[0]->Width(), 2100);
  EXPECT_EQ(d->Surfaces()[1]->Width(), 900);
  EXPECT_EQ(SurfaceIndex(d, 25), 1);
  EXPECT_EQ(d->PatternRects(25).Left, 400);
}

TEST_F(ImageListTest, GapsOddSizesAndSystemMemory) {
  auto* gaps = static_cast<TPictureCollectionItem*>(list->Items()->Add());
  gaps->SkipWidth = 5;
  SetPicture(gaps, 70, 21, [](int, int) { return 0x404040u; });
  gaps->PatternWidth = 20;
  gaps->PatternHeight = 10;
  gaps->SkipHeight = 1;
  gaps->Restore();
  // Stride 25 across, 11 down: three columns, two rows.
  ASSERT_EQ(gaps->PatternCount(), 6);
  EXPECT_EQ(gaps->PatternRects(1), (TRect{25, 0, 45, 10}));
  EXPECT_EQ(gaps->PatternRects(2), (TRect{50, 0, 70, 10}));
  EXPECT_EQ(gaps->PatternRects(4), (TRect{25, 11, 45, 21}));

  auto* sys = static_cast<TPictureCollectionItem*>(list->Items()->Add());
  sys->SystemMemory = true;
  SetPicture(sys, 30, 20, [](int, int) { return 0x404040u; });
  sys->PatternWidth = 10;
  sys->PatternHeight = 10;
  sys->Restore();
  ASSERT_EQ(sys->Surfaces().size(), 1u);
  EXPECT_EQ(sys->PatternCount(), 6);
  EXPECT_EQ(sys->PatternRects(4), (TRect{10, 10, 20, 20}));

  // A stride wider than the picture: no pattern; tiled, not even a surface.
  sys->PatternWidth = 31;
  sys->Restore();
  EXPECT_EQ(sys->Surfaces().size(), 1u);
  EXPECT_EQ(sys->PatternCount(), 0);
  sys->SystemMemory = false;
  sys->Restore();
  EXPECT_EQ(sys->Surfaces().size(), 0u);
  EXPECT_EQ(sys->PatternCount(), 0);

  // Gaps that leave no stride at all cut nothing and raise nothing.
  sys->PatternWidth = 10;
  sys->SkipWidth = -10;
  EXPECT_NO_THROW(sys->Restore());
  EXPECT_EQ(sys->PatternCount(), 0);
}

TEST_F(ImageListTest, EmptyPictureKeepsWhatWasBuilt) {
  auto* a = Add("A", 64, 32, 32, 0);
  TDirectDrawSurface* before = a->Surfaces()[0];
  a->Picture()->SetGraphic(nullptr);
  a->Restore();
  ASSERT_EQ(a->Surfaces().size(), 1u);
  EXPECT_EQ(a->Surfaces()[0], before);
  EXPECT_EQ(a->PatternCount(), 2);
}

TEST_F(ImageListTest, FindIgnoresCaseAndNamesTheMissing) {
  auto* hero = Add("Hero", 8, 8, 0, 0);
  EXPECT_EQ(list->Items()->Find("hero"), hero);
  EXPECT_EQ(list->Items()->Find("HERO"), hero);
  try {
    list->Items()->Find("Boss");
    FAIL();
  } catch (const EPictureCollectionError& e) {
    EXPECT_STREQ(e.what(), "Image 'Boss' not found");
  }
}

TEST_F(ImageListTest, DrawsPatternsByIndexWithTheirKey) {
  // Pattern 1 is a green square with a black (keyed) border.
  auto* a = Add("A", 64, 32, 32, 0, [](int x, int y) {
    const int px = x % 32;
    return x >= 32 && px >= 4 && px < 28 && y >= 4 && y < 28 ? 0x00FF00u : 0u;
  });
  TDirectDrawSurface* src = a->PatternSurfaces(1);
  const DWORD green = src->Pixels(40, 10);
  const DWORD background = dx->Surface->MatchColor(static_cast<TColor>(0x00FF0000));
  ASSERT_NE(green, background);
  dx->Surface->Fill(background);
  a->Draw(dx->Surface, 100, 50, 1);
  EXPECT_EQ(Pixel(110, 60), green);
  EXPECT_EQ(Pixel(101, 51), background);  // the key lets the background through
  // Out of range and negative indexes draw nothing.
  a->Draw(dx->Surface, 200, 50, 2);
  a->Draw(dx->Surface, 200, 50, -1);
  EXPECT_EQ(Pixel(210, 60), background);
  // Without Transparent the key colour is drawn too.
  a->Transparent = false;
  a->Draw(dx->Surface, 300, 50, 1);
  EXPECT_EQ(Pixel(301, 51), src->Pixels(33, 1));
  EXPECT_NE(Pixel(301, 51), background);
  // Stretched: a 32 x 32 pattern into 64 x 64.
  a->Transparent = true;
  a->StretchDraw(dx->Surface, TRect{0, 200, 64, 264}, 1);
  EXPECT_EQ(Pixel(32, 232), green);
  EXPECT_EQ(Pixel(2, 202), background);
}

TEST_F(ImageListTest, FollowsTheDisplayThroughFinalizeAndInitialize) {
  auto* a = Add("A", 64, 32, 32, 0);
  EXPECT_TRUE(a->Initialized());
  dx->Finalize();
  EXPECT_FALSE(a->Initialized());
  EXPECT_EQ(a->PatternCount(), 0);
  EXPECT_TRUE(a->Surfaces().empty());
  EXPECT_EQ(list->Items()->DXDraw(), nullptr);
  dx->Initialize();
  EXPECT_TRUE(a->Initialized());
  EXPECT_EQ(a->PatternCount(), 2);
  EXPECT_EQ(a->Surfaces().size(), 1u);
  // Leaving the display drops everything; a new list on an initialized display is built at
  // once by the replay.
  list->SetDXDraw(nullptr);
  EXPECT_FALSE(a->Initialized());
  list->SetDXDraw(dx);
  EXPECT_EQ(a->PatternCount(), 2);
}

TEST_F(ImageListTest, InitializeWithoutAnInitializedDisplayRaises) {
  TPictureCollection items(nullptr);
  try {
    items.Initialize(nullptr);
    FAIL();
  } catch (const EPictureCollectionError& e) {
    EXPECT_STREQ(e.what(), "TPictureCollection cannot be initialized");
  }
  dx->Finalize();
  EXPECT_THROW(items.Initialize(dx), EPictureCollectionError);
  EXPECT_EQ(items.DXDraw(), dx);
}

// The game re-keys its boss picture, sets a new pattern width and restores it from each boss's
// constructor, three times in one frame, while the text canvas of the drawing surface still
// holds its device context.
TEST_F(ImageListTest, RestoresRepeatedlyWhileTheDrawingSurfaceCanvasIsHeld) {
  auto* boss = Add("Boss", 96, 32, 0, 0, [](int x, int y) {
    return x % 32 < 2 ? 0x0000FFu : 0xFFFF00u;  // blue edge, yellow body
  });
  TCanvas* canvas = dx->Surface->Canvas();
  canvas->TextOut(10, 10, "Ready");
  for (int i = 0; i < 3; ++i) {
    TDIB* dib = static_cast<TDIB*>(boss->Picture()->Graphic());
    boss->SetTransparentColor(static_cast<TColor>(dib->Pixels(0, 0)));
    boss->PatternWidth = 96 / (2 + 1);
    boss->Restore();
    ASSERT_EQ(boss->PatternCount(), 3);
  }
  dx->Surface->Canvas()->Release();
  // The key is the blue edge: drawing lets the background through there.
  const DWORD background = dx->Surface->MatchColor(0);
  dx->Surface->Fill(background);
  boss->Draw(dx->Surface, 0, 100, 2);
  EXPECT_EQ(Pixel(0, 100), background);
  EXPECT_NE(Pixel(5, 100), background);
}

TEST_F(ImageListTest, RekeyingAffectsTheSurfacesAlreadyBuilt) {
  auto* a = Add("A", 16, 16, 0, 0, [](int x, int) { return x < 8 ? 0xFF0000u : 0x0000FFu; });
  const DWORD left = a->Surfaces()[0]->Pixels(0, 0);
  const DWORD right = a->Surfaces()[0]->Pixels(15, 0);
  const DWORD background = dx->Surface->MatchColor(0x00808080);
  dx->Surface->Fill(background);
  a->Draw(dx->Surface, 0, 0, 0);
  EXPECT_EQ(Pixel(0, 0), left);
  // Key the left half's colour: a 24-bit picture's pixel reads as a colour value.
  TDIB* dib = static_cast<TDIB*>(a->Picture()->Graphic());
  a->SetTransparentColor(static_cast<TColor>(dib->Pixels(0, 0)));
  dx->Surface->Fill(background);
  a->Draw(dx->Surface, 0, 0, 0);
  EXPECT_EQ(Pixel(0, 0), background);
  EXPECT_EQ(Pixel(15, 0), right);
}

TEST_F(ImageListTest, AssignCopiesLayoutAndRebuildsAnInitializedItem) {
  auto* a = Add("A", 64, 32, 32, 0);
  a->SkipWidth = 0;
  a->SetTransparentColor(0x123456);
  auto* b = Add("B", 8, 8, 0, 0);
  b->Assign(a);
  EXPECT_EQ(b->Name(), "B");
  EXPECT_EQ(b->PatternWidth, 32);
  EXPECT_EQ(b->TransparentColor(), 0x123456);
  EXPECT_EQ(b->PatternCount(), 2);
  EXPECT_EQ(b->Picture()->Width(), 64);
  EXPECT_NE(b->Picture()->Graphic(), a->Picture()->Graphic());
}

// A root to write and read stored image lists in.
class TListForm : public TComponent {
 public:
  explicit TListForm(TComponent* AOwner) : TComponent(AOwner) {}
  const char* ClassName() const override { return "TListForm"; }
};

TEST_F(ImageListTest, StoredListKeepsItsColourTableAndItems) {
  RegisterClass<TListForm>("TListForm");
  TListForm root(nullptr);
  root.SetName("ListForm1");
  auto* stored = new TDXImageList(&root);
  stored->SetName("DXImageList1");
  for (int i = 0; i < TPictureCollection::ColorTableSize; ++i) {
    stored->Items()->ColorTable[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  auto* item = static_cast<TPictureCollectionItem*>(stored->Items()->Add());
  item->SetName("Go");
  item->PatternWidth = 16;
  item->SkipWidth = 2;
  item->Transparent = false;
  item->SetTransparentColor(0x00FF00FF);
  SetPicture(item, 34, 16, [](int x, int y) { return static_cast<DWORD>(x * 0x10101 + y); });
  const std::string text = WriteStoredForm(&root);

  TListForm copy(nullptr);
  ReadStoredForm(&copy, text);
  auto* read = dynamic_cast<TDXImageList*>(copy.FindComponent("DXImageList1"));
  ASSERT_NE(read, nullptr);
  for (int i = 0; i < TPictureCollection::ColorTableSize; ++i) {
    ASSERT_EQ(read->Items()->ColorTable[i], static_cast<std::uint8_t>(i * 7 + 3)) << i;
  }
  TPictureCollectionItem* back = read->Items()->Find("go");
  EXPECT_EQ(back->PatternWidth, 16);
  EXPECT_EQ(back->SkipWidth, 2);
  EXPECT_FALSE(back->Transparent);
  EXPECT_EQ(back->TransparentColor(), 0x00FF00FF);
  auto* dib = dynamic_cast<TDIB*>(back->Picture()->Graphic());
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->Width(), 34);
  EXPECT_EQ(dib->Pixels(5, 3), static_cast<DWORD>(5 * 0x10101 + 3));
  EXPECT_EQ(WriteStoredForm(&copy), text);
}

}  // namespace

namespace {

// A display asked for 3-D sends pictures to its accelerator, which draws them on the display's
// drawing surface and nowhere else.
TEST_F(ImageListTest, ThreeDDisplayDrawsThroughItsAcceleratorOnly) {
  auto* a = Add("A", 16, 16, 0, 0, [](int, int) { return 0x00FF00u; });
  dx->Finalize();
  dx->SetOptions(dx->Options() + TDXDrawOptions{do3D, doDirectX7Mode, doHardware});
  dx->Initialize();
  ASSERT_EQ(a->PatternCount(), 1);
  const DWORD background = dx->Surface->MatchColor(0x00404040);
  const DWORD green = dx->Surface->MatchColor(0x0000FF00);
  dx->Surface->Fill(background);
  a->Draw(dx->Surface, 0, 0, 0);
  EXPECT_EQ(Pixel(4, 4), green);
  EXPECT_EQ(Pixel(20, 20), background);
  a->StretchDraw(dx->Surface, TRect{0, 0, 32, 32}, 0);
  EXPECT_EQ(Pixel(20, 20), green);
  EXPECT_EQ(Pixel(32, 32), background);

  TDirectDrawSurface other(dx->DDraw);
  other.SetSize(8, 8);
  other.Fill(0);
  a->Draw(&other, 0, 0, 0);
  EXPECT_EQ(other.Pixels(4, 4), 0u);
}

}  // namespace

namespace {

// Lost surfaces come back with undefined contents: the restore notice re-cuts every picture.
TEST_F(ImageListTest, LostSurfacesAreCutAgainOnRestore) {
  auto* a = Add("A", 64, 32, 32, 0, [](int x, int) { return x < 32 ? 0x0000FFu : 0x00FF00u; });
  auto* b = Add("B", 3000, 100, 100, 100, [](int x, int) { return x >= 2500 ? 0xFF0000u : 0u; });
  const DWORD aPixel = a->PatternSurfaces(1)->Pixels(40, 5);
  const DWORD bPixel = b->PatternSurfaces(27)->Pixels(b->PatternRects(27).Left + 5, 5);
  ddraw::MarkSurfacesLost(dx->DDraw->IDDraw());
  ASSERT_TRUE(dx->CanDraw());
  ASSERT_EQ(a->PatternCount(), 2);
  ASSERT_EQ(b->PatternCount(), 30);
  EXPECT_EQ(a->PatternSurfaces(1)->Pixels(40, 5), aPixel);
  EXPECT_EQ(b->PatternSurfaces(27)->Pixels(b->PatternRects(27).Left + 5, 5), bPixel);
  const DWORD background = dx->Surface->MatchColor(0x00404040);
  dx->Surface->Fill(background);
  a->Draw(dx->Surface, 0, 0, 1);
  b->Draw(dx->Surface, 100, 0, 27);
  EXPECT_EQ(Pixel(10, 10), aPixel);
  EXPECT_EQ(Pixel(110, 10), bPixel);
}

}  // namespace
