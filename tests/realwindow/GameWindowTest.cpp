// The game in its real window: the screens a player goes through, reached with the keys alone.
#include <algorithm>
#include <optional>
#include <thread>

#include "realwindow/GameScreens.h"
#include "realwindow/RealWindowTest.h"

namespace realwindow {
namespace {

using namespace game;

class GameWindow : public RealWindowTest {
 protected:
  explicit GameWindow(std::optional<std::size_t> FolderLength = std::nullopt)
      : Folder_(FolderLength) {}

  // Starts the game and waits for its title screen.
  void StartAtTitle() {
    Game_ = std::make_unique<RunningProgram>(Folder_, "ProjectMorvane", DisplayName());
    ASSERT_TRUE(Game_->Started());
    Window_ = X().WaitForWindow("Morvane", Millis(10000));
    ASSERT_NE(Window_, 0u) << "no game window; the game said:\n" << Game_->Output();
    ASSERT_TRUE(WaitForPicture(Window_, IsTitle, "title")) << "the title never showed";
    X().Focus(Window_);
  }

  // Taps Key until the screen shows what Seen looks for. The first keys after the window got
  // the keyboard may come before the program hears that it did, so the tap is repeated, but
  // only while nothing has changed on the screen: once it has, the key was heard, and another
  // tap could take the program a step past the screen wanted.
  bool TapUntil(const std::string& Key, const std::function<bool(const Picture&)>& Seen,
                const std::string& Step) {
    const Picture before = X().CaptureWindow(Window_);
    const auto heard = [&](const Picture& p) { return Seen(p) || p.Pixels != before.Pixels; };
    for (int attempt = 0; attempt < 4; ++attempt) {
      X().Tap(Key);
      if (WaitForPicture(Window_, heard, Step, Millis(1500)))
        return WaitForPicture(Window_, Seen, Step);
    }
    return false;
  }

  void StartFirstStage() {
    ASSERT_NO_FATAL_FAILURE(StartAtTitle());
    ASSERT_TRUE(TapUntil("z", IsStageSelect, "select")) << "Z did not open the stage select";
    ASSERT_TRUE(TapUntil("z", BandShown, "play"))
        << "choosing the first stage showed no play screen";
  }

  ProgramFolder Folder_;
  std::unique_ptr<RunningProgram> Game_;
  Window Window_ = 0;
};

TEST_F(GameWindow, TitleLeadsToTheStageSelectWhoseCursorHeroFollowsTheStick) {
  ASSERT_NO_FATAL_FAILURE(StartAtTitle());
  // The window is the stored one, borderless and centred on the 1024 x 768 screen.
  const auto box = X().WindowBox(Window_);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->Width, kWidth);
  EXPECT_EQ(box->Height, kHeight);
  EXPECT_EQ(box->Left, (1024 - kWidth) / 2);
  EXPECT_EQ(box->Top, (768 - kHeight) / 2);
  // The title neither moves nor draws the hero.
  EXPECT_EQ(CursorRow(X().CaptureWindow(Window_)), 0);

  ASSERT_TRUE(TapUntil("z", IsStageSelect, "select"));
  EXPECT_EQ(CursorRow(X().CaptureWindow(Window_)), 1);

  // A short push moves the cursor one entry at once; a held stick would repeat only every
  // sixth frame, so a push of a few frames moves it by one and no more.
  X().Tap("Down", Millis(100));
  EXPECT_TRUE(WaitForPicture(
      Window_, [](const Picture& p) { return CursorRow(p) == 2; }, "down"));
  std::this_thread::sleep_for(Millis(300));
  EXPECT_EQ(CursorRow(X().CaptureWindow(Window_)), 2);

  X().Tap("Up", Millis(100));
  EXPECT_TRUE(WaitForPicture(
      Window_, [](const Picture& p) { return CursorRow(p) == 1; }, "up"));
  // Up at the first entry stays there.
  X().Tap("Up", Millis(100));
  std::this_thread::sleep_for(Millis(300));
  EXPECT_EQ(CursorRow(X().CaptureWindow(Window_)), 1);
}

TEST_F(GameWindow, BothButtonsHeldPastFiftyFramesReturnFromPlayToTheTitle) {
  ASSERT_NO_FATAL_FAILURE(StartFirstStage());
  const Picture play = X().CaptureWindow(Window_);
  // The status band: the meter and the dash count "0/10" at its left.
  EXPECT_GT(play.CountDark({5, 415, 40, 15}), 5);

  X().Key("z", true);
  X().Key("x", true);
  // A frame takes 34 ms or more, so fifty of them take longer than a second: the game is
  // still playing then.
  std::this_thread::sleep_for(Millis(1000));
  const Picture held = X().CaptureWindow(Window_);
  Keep(held, "held");
  EXPECT_TRUE(BandShown(held)) << "left the play screen before fifty frames of holding";
  EXPECT_TRUE(WaitForPicture(Window_, IsTitle, "back", Millis(8000)))
      << "holding both buttons did not return to the title";
  X().Key("x", false);
  X().Key("z", false);

  X().RequestClose(Window_);
  EXPECT_EQ(Game_->WaitForExit(Millis(10000)), 0) << Game_->ExitDescription();
}

TEST_F(GameWindow, ClosingTheWindowDuringPlayEndsTheProgramWithStatusZero) {
  ASSERT_NO_FATAL_FAILURE(StartFirstStage());
  X().RequestClose(Window_);
  EXPECT_EQ(Game_->WaitForExit(Millis(10000)), 0) << Game_->ExitDescription() << "\n"
                                                  << Game_->Output();
  EXPECT_TRUE(X().FindWindows("Morvane").empty());
}

// The game in a folder whose path is 150 characters long.
class GameInDeepFolder : public GameWindow {
 protected:
  GameInDeepFolder() : GameWindow(150) {}
};

TEST_F(GameInDeepFolder, TheBadChartLineBoxShowsWhollyOnTheScreen) {
  ASSERT_EQ(Folder_.Path().string().size(), 150u);
  // The second line has no kind: the stage's start reports it, with the chart's whole path.
  Folder_.WriteChart("Last Boss.txt", "1000,1\n2000\n3000,2\n");
  ASSERT_NO_FATAL_FAILURE(StartAtTitle());
  ASSERT_TRUE(TapUntil("z", IsStageSelect, "select"));
  const auto before = X().TopLevelWindows();
  X().Tap("z");

  // The box is a window of its own: the first one that was not there before.
  Window box = 0;
  Box where;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const auto& [w, b] : X().TopLevelWindows()) {
          const bool known = std::any_of(before.begin(), before.end(),
                                         [w = w](const auto& old) { return old.first == w; });
          if (!known) {
            box = w;
            where = b;
            return true;
          }
        }
        return false;
      },
      Millis(8000)))
      << "no box reported the bad line";
  // Mapped first and drawn after: wait for its face (neither the game's colours nor the black
  // screen behind) before looking at it.
  EXPECT_TRUE(WaitForPicture(
      box,
      [](const Picture& p) {
        const int face = p.Count({0, 0, p.Width, p.Height},
                                 [](std::uint32_t c) { return c != 0 && c != kBackColour; });
        return face > p.Width * p.Height / 2;
      },
      "box"));
  Keep(X().Capture(X().ScreenBox()), "screen");
  const Box screen = X().ScreenBox();
  EXPECT_EQ(X().WindowName(box), "iMorvane");
  EXPECT_GE(where.Left, 0);
  EXPECT_GE(where.Top, 0);
  EXPECT_LE(where.Right(), screen.Width)
      << "the box runs past the right edge, " << where.Width << " pixels wide at x " << where.Left;
  EXPECT_LE(where.Bottom(), screen.Height);

  // Answered, the box goes and the game ends, as the bad line asks.
  X().Focus(box);
  std::this_thread::sleep_for(Millis(200));
  X().Tap("Return");
  EXPECT_EQ(Game_->WaitForExit(Millis(10000)), 0) << Game_->ExitDescription() << "\n"
                                                  << Game_->Output();
}

}  // namespace
}  // namespace realwindow
