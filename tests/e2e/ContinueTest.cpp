// Losing the hero and what follows: the continue screen once the debris is gone, "Yes" starting
// the stage again, "No" going back to the title; giving up with both buttons; leaving with
// "Exit".
#include <vector>

#include "e2e/GameSession.h"

namespace e2e {
namespace {

constexpr std::uint32_t kInk = 0x000000;

// Plays the running stage without touching anything until the hero has died.
int LoseTheHero(GameSession& g) {
  int n = 0;
  while (GameMode == 3 && n < 2000) {
    EXPECT_TRUE(g.Frame());
    ++n;
  }
  return n;
}

TEST(Continue, LosingTheHeroLeadsToTheContinueScreenAndYesStartsTheStageAgain) {
  GameSession g(false);
  g.StartStageFromTitle(1);
  g.Frames(70);  // the music runs from the 63rd frame
  ASSERT_TRUE(Running);
  LoseTheHero(g);
  ASSERT_EQ(GameMode, 4);
  EXPECT_EQ(HeroSprite, nullptr);
  EXPECT_EQ(g.SpritesOf<TRuinSprite>().size(), 6u);

  // The stage stays on screen while the debris flies; the music stops.
  g.Frames(1);
  EXPECT_NE(g.form->MediaPlayer1->Mode(), mpPlaying);
  EXPECT_GT(CountColour(g.Shown(), 0, 397, 512, 400, kInk), 1000);  // the status band's line
  int flying = 1;
  while (HeroSprite == nullptr && flying < 200) {
    ASSERT_TRUE(g.Frame());
    ++flying;
  }
  // Debris moves for 51 frames, is freed on the 52nd and the hero is back on the 53rd.
  EXPECT_EQ(flying, 53);
  // Then only the new hero is left, as the cursor beside "Yes".
  ASSERT_NE(HeroSprite, nullptr);
  EXPECT_EQ(g.Engine()->Count(), 1);
  EXPECT_EQ(ContinueCursor, 1);
  g.Frames(1);
  {
    const Shot& f = g.Shown();
    EXPECT_GT(CountColour(f, 80, 50, 400, 110, kInk), 800);    // "Continue?"
    EXPECT_GT(CountColour(f, 120, 150, 200, 185, kInk), 100);  // "Yes"
    EXPECT_GT(CountColour(f, 120, 200, 200, 235, kInk), 100);  // "No"
    EXPECT_EQ(CountColour(f, 0, 397, 512, 400, kInk), 0);      // no status band
    EXPECT_EQ(HeroSprite->X, 95);
    EXPECT_EQ(HeroSprite->Y, 168);
  }
  // The stick moves the cursor; up again, and "Yes".
  g.Hold(kDown);
  g.Frames(1);
  EXPECT_EQ(ContinueCursor, 2);
  EXPECT_EQ(HeroSprite->Y, 218);
  g.Let(kDown);
  g.Hold(kUp);
  g.Frames(1);
  g.Let(kUp);
  EXPECT_EQ(ContinueCursor, 1);
  g.Hold(kButton0);
  ASSERT_TRUE(g.Frame());
  g.Let(kButton0);
  EXPECT_EQ(GameMode, 3);
  EXPECT_EQ(g.SpritesOf<TGrumbakSprite>().size(), 1u);
  EXPECT_TRUE(WaitingToStart);
  EXPECT_EQ(g.form->MediaPlayer1->Position(), 0);
  EXPECT_EQ(Score->CurrentIndex, 0);
  // The same stage runs again from its "Ready".
  g.Frames(70);
  EXPECT_TRUE(Running);
  EXPECT_EQ(g.form->MediaPlayer1->Mode(), mpPlaying);
  EXPECT_LT(Score->Position, 500);
  EXPECT_TRUE(g.hb->MessageBoxes().empty());
}

TEST(Continue, NoGoesBackToTheTitle) {
  GameSession g(false);
  g.StartStageFromTitle(2);
  g.Frames(70);
  LoseTheHero(g);
  ASSERT_EQ(GameMode, 4);
  for (int i = 0; i < 200 && HeroSprite == nullptr; ++i) ASSERT_TRUE(g.Frame());
  ASSERT_NE(HeroSprite, nullptr);
  g.Hold(kDown);
  g.Frames(1);
  g.Hold(kButton0);
  ASSERT_TRUE(g.Frame());
  g.Let(kButton0);
  g.Let(kDown);
  EXPECT_EQ(GameMode, 1);
  g.Frames(2);
  EXPECT_EQ(GameMode, 1);
  EXPECT_EQ(g.Engine()->Count(), 1);
  EXPECT_NE(g.form->MediaPlayer1->Mode(), mpPlaying);
  // The title again, and a new game from it.
  EXPECT_GT(CountColour(g.Shown(), 100, 230, 512, 290, kInk), 1500);
  g.Press(kButton0);
  EXPECT_EQ(GameMode, 2);
}

TEST(Continue, BothButtonsHeldGiveUpToTheTitleOnTheFiftyFirstFrame) {
  GameSession g(false);
  g.StartStageFromTitle(1);
  g.Frames(100);
  ASSERT_EQ(g.form->MediaPlayer1->Mode(), mpPlaying);
  g.Hold(kButton0);
  g.Hold(kButton1);
  int held = 0;
  while (GameMode == 3 && held < 100) {
    if (HeroSprite != nullptr) HeroSprite->Power = 404;
    ASSERT_TRUE(g.Frame());
    ++held;
  }
  EXPECT_EQ(held, 51);
  EXPECT_EQ(GameMode, 1);
  EXPECT_EQ(g.Engine()->Count(), 1);
  ASSERT_NE(HeroSprite, nullptr);
  EXPECT_EQ(HeroSprite->Power, 10);
  EXPECT_NE(g.form->MediaPlayer1->Mode(), mpPlaying);
  // A note passed on that last frame is not acted on later.
  EXPECT_FALSE(Score->Passed);
}

TEST(Continue, ExitLetsTheHeroBurstAndClosesTheGameOnceTheDebrisIsGone) {
  GameSession g(false);
  g.Frames(2);
  g.Press(kButton0);
  g.Press(kDown);
  g.Press(kDown);
  ASSERT_EQ(StageCursor, 3);
  g.Hold(kButton0);
  ASSERT_TRUE(g.Frame());
  g.Let(kButton0);
  EXPECT_EQ(HeroSprite, nullptr);
  EXPECT_EQ(g.SpritesOf<TRuinSprite>().size(), 6u);
  // Presses while the debris flies find no hero: neither a stage nor "Exit" does anything.
  g.Press(kButton0);
  g.Press(kUp);
  g.Press(kButton0);
  EXPECT_EQ(GameMode, 2);
  EXPECT_TRUE(g.SpritesOf<TGrumbakSprite>().empty());
  EXPECT_TRUE(g.hb->MessageBoxes().empty());
  int n = 0;
  while (!Application->Terminated() && n < 100) {
    g.Frame();
    ++n;
  }
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(g.Engine()->Count(), 0);
  EXPECT_EQ(GameMode, 1);
}

}  // namespace
}  // namespace e2e
