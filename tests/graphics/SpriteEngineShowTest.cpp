// The whole path on the headless backend: a form read from stored data with its display, image
// list and sprite engine; animated sprites run for a few hundred frames and what reaches the
// window is checked pixel by pixel.
#include <gtest/gtest.h>

#include "SpriteTestSupport.h"
#include "framework/graphics/DXSprite.h"
#include "framework/graphics/DXSpriteEngine.h"

using namespace sprite_test;

namespace {

// The four frames of the animation: solid colours (red lowest, as pictures store them), with a
// keyed black border of two pixels.
const TColor kFrames[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF};

std::uint32_t Presented(TColor C) {
  return static_cast<std::uint32_t>((C & 0xFF) << 16 | (C & 0xFF00) | (C >> 16 & 0xFF));
}

// A sprite that walks right one pixel a frame and animates as it goes.
class TWalker : public TImageSprite {
 public:
  using TImageSprite::TImageSprite;

 protected:
  void DoMove(int MoveCount) override {
    TImageSprite::DoMove(MoveCount);
    X = X + MoveCount;
  }
};

class SpriteEngineShowTest : public DisplayTest {};

TEST_F(SpriteEngineShowTest, StoredPicturesAnimateOnTheWindow) {
  // Build the components once and keep only their stored form.
  std::string text;
  {
    TForm* source = nullptr;
    Application->CreateForm(source);
    source->SetName("ShowForm");
    auto* d = new TDXDraw(source);
    d->SetName("DXDraw1");
    d->SetParent(source);
    auto* images = new TDXImageList(source);
    images->SetName("DXImageList1");
    images->SetDXDraw(d);
    auto* sprites = new TDXSpriteEngine(source);
    sprites->SetName("DXSpriteEngine1");
    sprites->SetDXDraw(d);
    auto* item = static_cast<TPictureCollectionItem*>(images->Items()->Add());
    item->SetName("Walker");
    SetPicture(item, 4 * 20, 20, [](int x, int y) -> DWORD {
      const int px = x % 20;
      if (px < 2 || px >= 18 || y < 2 || y >= 18) return 0;
      return static_cast<DWORD>(kFrames[x / 20]);
    });
    item->PatternWidth = 20;
    item->PatternHeight = 20;
    item->SetTransparentColor(0);
    text = WriteStoredForm(source);
    source->Free();
  }

  // Read into the test's form, next to its own display.
  delete dx;
  dx = nullptr;
  ReadStoredForm(form, text);
  form->SetBounds(0, 0, 512, 448);  // the stored form brought the source form's size
  auto* display = dynamic_cast<TDXDraw*>(form->FindComponent("DXDraw1"));
  auto* images = dynamic_cast<TDXImageList*>(form->FindComponent("DXImageList1"));
  auto* sprites = dynamic_cast<TDXSpriteEngine*>(form->FindComponent("DXSpriteEngine1"));
  ASSERT_NE(display, nullptr);
  ASSERT_NE(images, nullptr);
  ASSERT_NE(sprites, nullptr);
  ASSERT_EQ(images->DXDraw(), display);
  ASSERT_EQ(sprites->DXDraw(), display);
  display->AutoInitialize = false;
  display->SetAutoSize(false);
  display->SetBounds(0, 0, 512, 448);
  display->SetSurfaceWidth(512);
  display->SetSurfaceHeight(448);
  display->SetOptions(
      {doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, doHardware, doSelectDriver});
  display->Initialize();
  ASSERT_TRUE(display->Initialized());

  TPictureCollectionItem* walker = images->Items()->Find("walker");
  ASSERT_EQ(walker->PatternCount(), 4);
  std::vector<TWalker*> walkers;
  for (int i = 0; i < 3; ++i) {
    auto* w = new TWalker(sprites->Engine());
    w->SetImage(walker);
    w->AnimCount = 4;
    w->AnimLooped = true;
    w->AnimSpeed = 0.1 * (i + 1);
    w->X = 10;
    w->Y = 40 + i * 60;
    walkers.push_back(w);
  }
  // A fourth sprite that lives for a while and then dies.
  auto* brief = new TWalker(sprites->Engine());
  brief->SetImage(walker);
  brief->Y = 300;

  const DWORD background = display->Surface->MatchColor(0x00302010);
  for (int frame = 1; frame <= 300; ++frame) {
    sprites->Move(1);
    if (frame == 100) brief->Dead();
    sprites->Dead();
    display->Surface->Fill(background);
    sprites->Draw();
    display->Flip();
  }
  EXPECT_EQ(sprites->Engine()->SpriteCount(), 3);
  EXPECT_EQ(sprites->Engine()->DrawCount(), 3);

  const auto* shot = hb->LastFrame(form->Handle());
  ASSERT_NE(shot, nullptr);
  // Everything checked lies in the top-left 330 x 340 pixels of the window's client area.
  ASSERT_GE(shot->width, 330);
  ASSERT_GE(shot->height, 340);
  const std::uint32_t back = Presented(0x00302010);
  for (std::size_t i = 0; i < walkers.size(); ++i) {
    TWalker* w = walkers[i];
    ASSERT_EQ(w->X, 310);
    const int shown = w->GetDrawImageIndex();
    ASSERT_GE(shown, 0);
    const int y = static_cast<int>(w->Y);
    if (shown < 4) {
      EXPECT_EQ(shot->Pixel(310 + 10, y + 10), Presented(kFrames[shown])) << i;
    } else {
      // One past the last frame: nothing is drawn.
      EXPECT_EQ(shot->Pixel(310 + 10, y + 10), back) << i;
    }
    EXPECT_EQ(shot->Pixel(310 + 1, y + 1), back) << "keyed border " << i;
    EXPECT_EQ(shot->Pixel(300, y + 10), back) << "trail " << i;
  }
  EXPECT_EQ(shot->Pixel(200, 310), back);  // the dead sprite is gone
}

}  // namespace
