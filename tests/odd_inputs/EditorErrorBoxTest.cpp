// An error that comes back on every frame must not trap the user in its box: the application
// shows each error once until the user does something else; and the editor given a chart with
// a note at the very start of the 32-bit range plays it without raising at all, leaves that
// note off the lane, and still closes and saves every line.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "e2e/EditorSession.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "support/HeadlessApp.h"

namespace {

class ErrorBoxTest : public HeadlessAppTest {
 protected:
  TForm* MainForm() {
    TForm* f = nullptr;
    Application->CreateForm(f);
    f->SetBounds(100, 50, 200, 200);
    f->Show();
    Application->ProcessMessages();
    return f;
  }
  // Runs this many passes of the idle event.
  void Idle(int passes) {
    const std::uint64_t until = Application->IdleCount() + static_cast<std::uint64_t>(passes);
    Application->RunUntil([&] { return Application->IdleCount() >= until; });
  }
  std::size_t Boxes() const { return hb->MessageBoxes().size(); }
};

TEST_F(ErrorBoxTest, AnErrorOfEveryFrameIsShownOnceUntilTheUserActs) {
  TForm* f = MainForm();
  int pass = 0;
  bool alternate = false;
  Application->OnIdle = [&](TObject*, bool& Done) {
    Done = false;
    ++pass;
    if (alternate && pass % 2) throw ERangeError("Range check error");
    throw EIntOverflow("Integer overflow");
  };
  Idle(50);
  ASSERT_EQ(Boxes(), 1u);
  EXPECT_EQ(hb->MessageBoxes()[0].text, "Integer overflow");

  // Two errors taking turns: each is shown once.
  alternate = true;
  Idle(50);
  ASSERT_EQ(Boxes(), 2u);
  EXPECT_EQ(hb->MessageBoxes()[1].text, "Range check error");

  // A key held down repeating is nothing new; a key going down, a click, the wheel are.
  backend::Event repeat;
  repeat.type = backend::EventType::KeyDown;
  repeat.window = f->Handle();
  repeat.scancode = 4;
  repeat.repeat = true;
  hb->PushEvent(repeat);
  Idle(10);
  EXPECT_EQ(Boxes(), 2u);
  alternate = false;
  hb->ReleaseKey(4, 0, f->Handle());
  hb->PressKey(5, 0, f->Handle());
  hb->ReleaseKey(5, 0, f->Handle());
  Idle(10);
  EXPECT_EQ(Boxes(), 3u);
  hb->PressMouse(f->Handle(), 1);
  hb->ReleaseMouse(f->Handle(), 1);
  Idle(10);
  EXPECT_EQ(Boxes(), 4u);
  hb->WheelMouse(f->Handle(), 1);
  Idle(10);
  EXPECT_EQ(Boxes(), 5u);
  // Moving the mouse is not doing something else.
  hb->MoveMouse(f->Handle(), 20, 20);
  Idle(10);
  EXPECT_EQ(Boxes(), 5u);

  // The close box is answered even though the error goes on.
  bool asked = false;
  f->OnCloseQuery = [&](TObject*, bool& CanClose) { asked = true; };
  hb->ClickCloseBox(f->Handle());
  Application->RunUntil([] { return Application->Terminated(); }, 1000);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(Application->Terminated());
}

constexpr int kMin = std::numeric_limits<std::int32_t>::min();
constexpr int kMax = std::numeric_limits<std::int32_t>::max();

TEST(EditorErrorBox, ANoteAtTheStartOfTheRangePlaysWithoutABoxAndTheWindowCloses) {
  e2e::ScratchFolder dir("overflow");
  const std::string chart = dir.Dir() + "Last Boss.txt";
  e2e::WriteBytes(chart, "-2147483648,3\r\n300,1\r\n2147483647,2\r\n");
  {
    e2e::EditorSession s(chart);
    ASSERT_EQ(s.Notes().size(), 3u);
    s.Tap(e2e::kPlaybackKey);
    ASSERT_TRUE(s.FramesUntil([] { return Tessaly::MusicPos > 500; }, 200));
    s.Frames(24);  // two more drawings of the lane in playback
    for (const auto& box : s.hb->MessageBoxes()) ADD_FAILURE() << box.text;
    // The note in reach was played and placed on the lane; the one 2^31 ms behind the music
    // lies far below it, the last far above.
    for (int i = 0; i < s.Score().Count(); ++i) {
      const Tessaly::TNote* n = s.Score().GetNote(i);
      if (n->Time == 300) {
        EXPECT_TRUE(n->Played);
        EXPECT_GT(n->Y, Tessaly::JudgeLineY);
        EXPECT_LT(n->Y, Tessaly::LaneHeight);
      } else if (n->Time == kMin) {
        EXPECT_GT(n->Y, 1 << 30);
      } else {
        EXPECT_EQ(n->Time, kMax);
        EXPECT_LT(n->Y, 0);
      }
    }
    s.Close(true);
    EXPECT_TRUE(Application->Terminated());
  }
  EXPECT_EQ(e2e::ReadBytes(chart), "-2147483648,3\r\n300,1\r\n2147483647,2\r\n");
}

TEST(EditorErrorBox, ASelectionPassesOverANoteThatCannotBePlaced) {
  e2e::ScratchFolder dir("overflow-selection");
  const std::string chart = dir.Dir() + "Last Boss.txt";
  // The first note lies more than 2^31 ms before the music once it has passed 100 ms; the
  // chart still sorts, its notes being less than 2^31 apart.
  e2e::WriteBytes(chart, "-2147483548,3\r\n50,1\r\n60,2\r\n");
  e2e::EditorSession s(chart);
  s.Tap(e2e::kPlaybackKey);
  ASSERT_TRUE(s.FramesUntil([] { return Tessaly::MusicPos > 200; }, 200));
  s.Tap(e2e::kPlaybackKey);
  // Shift and a selection over the whole lane merges the two notes on it to their middle.
  s.Press(e2e::kShiftKey);
  s.MouseTo(10, 0);
  s.Frame();
  s.MouseDown();
  s.Frame();
  s.MouseTo(100, Tessaly::LaneHeight - 1);
  s.Frame();
  s.MouseUp();
  s.Frame();
  s.Release(e2e::kShiftKey);
  for (const auto& box : s.hb->MessageBoxes()) ADD_FAILURE() << box.text;
  EXPECT_EQ(s.Notes(), (std::vector<std::pair<int, int>>{{-2147483548, 3}, {55, 1}, {55, 2}}));
}

}  // namespace
