// The editor's window frame by frame: where notes are drawn, how the mouse grabs, re-times,
// spaces, merges and deletes them, how the modes switch and the music is held, and the mends of
// its failure cases.
#include <gtest/gtest.h>

#include <memory>

#include "e2e/EditorSession.h"
#include "editor/Main.h"
#include "platform/timer/MMSystem.h"

using e2e::EditorSession;
using e2e::ReadBytes;
using e2e::ScratchFolder;
using e2e::WriteBytes;
using namespace Tessaly;

namespace {

class EditorFormTest : public ::testing::Test {
 protected:
  // Opens a chart of the given lines, named after a piece of generated music.
  EditorSession& Open(const std::string& text, std::uint32_t startMs = 0) {
    WriteBytes(Path(), text);
    s = std::make_unique<EditorSession>(Path(), true, startMs);
    return *s;
  }
  std::string Path() const { return dir.Dir() + "Last Boss.txt"; }
  // Moves the mouse and lets a frame see it there.
  void PointAt(int x, int y) {
    s->MouseTo(x, y);
    s->Frame();
  }
  // Drags a selection rectangle on the lane.
  void Select(int x0, int y0, int x1, int y1) {
    PointAt(x0, y0);
    s->MouseDown();
    s->Frame();
    PointAt(x1, y1);
    s->MouseUp();
    s->Frame();
  }
  std::vector<int> Times() const {
    std::vector<int> t;
    for (auto [time, kind] : s->Notes()) t.push_back(time);
    return t;
  }
  std::uint32_t Pixel(int x, int y) const { return s->hb->LastFrame(s->window())->Pixel(x, y); }

  ScratchFolder dir{"form"};
  std::unique_ptr<EditorSession> s;
};

}  // namespace

TEST_F(EditorFormTest, NotesAreDrawnAtTheirRowsOnlyWhileOnTheLane) {
  Open("1000,1\r\n0,2\r\n8400,3\r\n8399,4\r\n-2980,5\r\n-2979,6\r\n1200,9\r\n");
  s->Frame();
  // Nothing is drawn on the first frame, so no row is known yet.
  EXPECT_EQ(s->Score().GetNote(0)->Y, kUndrawnRow);
  s->Frame();
  std::vector<int> rows;
  for (int i = 0; i < s->Score().Count(); ++i) rows.push_back(s->Score().GetNote(i)->Y);
  EXPECT_EQ(rows, (std::vector<int>{370, 420, 0, 1, 569, 568, 360}));
  EXPECT_EQ(Pixel(50, 370), 0xFFFF00u);  // kind 1 yellow
  EXPECT_EQ(Pixel(50, 420), 0x00FF00u);  // kind 2 lime, over the judgement line
  EXPECT_EQ(Pixel(90, 420), 0xFFFFFFu);  // the judgement line
  EXPECT_EQ(Pixel(50, 1), 0xFF0000u);    // kind 4 red at row 1
  // Row 568 lies below the window's client area; the display's surface has it.
  TCanvas* lane = s->form->DXDraw1->Surface->Canvas();
  EXPECT_EQ(lane->Pixels(50, 568), 0xFF00FF);  // kind 6 magenta ($00BBGGRR)
  EXPECT_EQ(lane->Pixels(50, 1), 0x0000FF);    // kind 4 red
  s->form->DXDraw1->Surface->Canvas()->Release();
  EXPECT_EQ(Pixel(50, 360), 0xFF00FFu);  // kind 9 keeps the colour before it
  EXPECT_EQ(Pixel(50, 300), 0u);
}

TEST_F(EditorFormTest, EditDrawsEverySecondFramePlaybackEveryTwelfth) {
  Open("1000,1\r\n");
  const auto presents = [&] { return s->hb->PresentCount(s->window()); };
  s->Frames(2);
  const auto p0 = presents();
  s->Frames(10);
  EXPECT_EQ(presents() - p0, 5u);
  s->Tap(e2e::kPlaybackKey);
  ASSERT_EQ(EditorMode, emPlayback);
  s->FramesUntil([] { return FrameCount % 12 == 1; });
  const auto p1 = presents();
  s->Frames(24);
  EXPECT_EQ(presents() - p1, 2u);
}

TEST_F(EditorFormTest, AGrabbedNoteFollowsThePointerAndTheRightButtonDeletesIt) {
  Open("1000,1\r\n1040,2\r\n3000,3\r\n");
  s->Frames(2);
  // Rows 370 and 368: the pointer at 369 is on both; the last in the list is grabbed.
  PointAt(50, 369);
  s->MouseDown();
  s->Frame();
  EXPECT_FALSE(Selecting);
  ASSERT_EQ(GrabbedNote, s->Score().GetNote(1));
  PointAt(50, 320);
  EXPECT_EQ(Times(), (std::vector<int>{1000, 1999, 3000}));  // 100 rows at 0.05: 1999 ms
  PointAt(50, 420);
  EXPECT_EQ(Times(), (std::vector<int>{1000, 0, 3000}));  // not sorted again
  s->MouseDown(3);
  s->Frame();
  EXPECT_EQ(Times(), (std::vector<int>{1000, 3000}));
  EXPECT_EQ(GrabbedNote, nullptr);
  s->MouseUp(3);
  s->MouseUp();
  s->Frame();
}

TEST_F(EditorFormTest, ANoteOutsideTheClickRowsStartsASelectionInstead) {
  Open("1000,1\r\n");
  s->Frames(2);
  // Eight rows below the note: within grabbing reach, but not on the note for a click.
  PointAt(50, 378);
  s->MouseDown();
  s->Frame();
  EXPECT_TRUE(Selecting);
  EXPECT_EQ(GrabbedNote, nullptr);
  s->MouseUp();
  s->Frame();
  EXPECT_FALSE(Selecting);
}

TEST_F(EditorFormTest, ASelectionIsSpacedEvenlyInTimeOrder) {
  Open("1000,1\r\n2000,3\r\n1300,2\r\n5000,4\r\n");
  s->Frames(2);
  Select(10, 300, 90, 380);
  EXPECT_EQ(s->Notes(),
            (std::vector<std::pair<int, int>>{{1000, 1}, {1500, 2}, {2000, 3}, {5000, 4}}));
  // Dragged up and to the left, the rectangle holds nothing.
  Select(90, 380, 10, 300);
  EXPECT_EQ(Times(), (std::vector<int>{1000, 1500, 2000, 5000}));
  // A single note keeps its time.
  Select(10, 365, 90, 375);
  EXPECT_EQ(Times(), (std::vector<int>{1000, 1500, 2000, 5000}));
}

TEST_F(EditorFormTest, ShiftMergesTwoSelectedNotesHalfway) {
  Open("1000,1\r\n1301,2\r\n");
  s->Frames(2);
  s->Press(e2e::kShiftKey);
  Select(10, 340, 90, 380);
  s->Release(e2e::kShiftKey);
  EXPECT_EQ(Times(), (std::vector<int>{1150, 1150}));
}

TEST_F(EditorFormTest, OfNotesAtOneTimeOnlyTheLastIsSelected) {
  Open("1000,1\r\n1000,2\r\n1600,3\r\n3000,4\r\n");
  s->Frames(2);
  Select(10, 250, 90, 380);
  std::vector<int> t = Times();
  std::sort(t.begin(), t.end());
  EXPECT_EQ(t, (std::vector<int>{1000, 1000, 2000, 3000}));
}

TEST_F(EditorFormTest, NotesBeforeTheStartAreSpacedBetweenTheirOwnEnds) {
  Open("-600,1\r\n-300,2\r\n-100,3\r\n");
  s->Frames(2);
  Select(10, 400, 90, 460);
  EXPECT_EQ(Times(), (std::vector<int>{-600, -350, -100}));
}

TEST_F(EditorFormTest, TheStickSeeksEveryThirdFrameInEditMode) {
  Open("1000,1\r\n");
  s->FramesUntil([] { return FrameCount % 3 == 0; });
  const int start = s->form->BGM1->Position();
  s->Press(SDL_SCANCODE_UP);
  s->Frames(3);
  EXPECT_EQ(s->form->BGM1->Position(), start + 300);
  s->Frames(3);
  EXPECT_EQ(s->form->BGM1->Position(), start + 600);
  // The arrow did not move the speed bar, which it disabled while down.
  EXPECT_FALSE(s->form->Speed1->Enabled());
  s->Release(SDL_SCANCODE_UP);
  s->Frames(3);
  EXPECT_TRUE(s->form->Speed1->Enabled());
  EXPECT_EQ(s->form->BGM1->Position(), start + 600);  // at rest the music is held
  s->form->BGM1->SetPosition(200);
  s->Press(SDL_SCANCODE_DOWN);
  s->Frames(3);
  EXPECT_EQ(s->form->BGM1->Position(), 0);
  s->Release(SDL_SCANCODE_DOWN);
  EXPECT_EQ(s->form->Speed1->Position(), 5);
}

TEST_F(EditorFormTest, RecordingAddsNotesAtTheMusicPositionAndLeavingItWritesTheBackUp) {
  Open("");
  s->Tap(e2e::kRecordKey);
  ASSERT_EQ(EditorMode, emRecord);
  ASSERT_TRUE(s->FramesUntil([&] { return s->form->BGM1->Position() > 500; }));
  // Z and X on one frame: two notes at the same time.
  s->Press(e2e::kKindKeys[0]);
  s->Press(e2e::kKindKeys[1]);
  s->Frame();
  const int at = MusicPos;
  s->Release(e2e::kKindKeys[0]);
  s->Release(e2e::kKindKeys[1]);
  s->Frames(10);
  s->Tap(e2e::kKindKeys[7]);
  ASSERT_EQ(s->Score().Count(), 3);
  EXPECT_EQ(s->Score().GetNote(0)->Time, at);
  EXPECT_EQ(s->Score().GetNote(1)->Time, at);
  EXPECT_GT(s->Score().GetNote(2)->Time, at + 150);
  EXPECT_EQ(s->Score().GetNote(2)->Kind, 8);
  const std::string backup = dir.Dir() + "BackUp_Last Boss.txt";
  EXPECT_FALSE(std::filesystem::exists(backup));
  const auto before = s->hb->Elapsed();
  s->Press(e2e::kRecordKey);
  s->Frame();
  EXPECT_EQ(EditorMode, emEdit);
  EXPECT_GE(s->hb->Elapsed() - before, 117u);  // the frame, then 100 ms after the back-up
  s->Release(e2e::kRecordKey);
  s->Frame();
  EXPECT_EQ(ReadBytes(backup), std::to_string(at) + ",1\r\n" + std::to_string(at) + ",2\r\n" +
                                   std::to_string(s->Score().GetNote(2)->Time) + ",8\r\n");
  // Every recording writes it again; the chart itself is untouched.
  s->Tap(e2e::kRecordKey);
  s->Frames(5);
  s->Tap(e2e::kKindKeys[2]);
  s->Tap(e2e::kRecordKey);
  EXPECT_EQ(ReadBytes(backup).size(), ReadBytes(backup).find("3\r\n") + 3);
  EXPECT_EQ(ReadBytes(Path()), "");
}

TEST_F(EditorFormTest, PlaybackSoundsNotesOnceAndPassesOverKindsWithoutADrum) {
  Open("100,1\r\n150,0\r\n160,9\r\n200,2\r\n100000,3\r\n");
  s->Tap(e2e::kPlaybackKey);
  ASSERT_EQ(EditorMode, emPlayback);
  ASSERT_TRUE(s->FramesUntil([] { return MusicPos > 300; }));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(s->Score().GetNote(i)->Played) << i;
  EXPECT_FALSE(s->Score().GetNote(4)->Played);
  EXPECT_TRUE(s->hb->MessageBoxes().empty());
  s->Tap(e2e::kPlaybackKey);
  EXPECT_EQ(EditorMode, emEdit);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(s->Score().GetNote(i)->Played);
}

TEST_F(EditorFormTest, RecordSwitchGoesBeforePlaybackSwitchInOneFrame) {
  Open("");
  // From edit: record; playback is then not switched from record.
  s->Press(e2e::kRecordKey);
  s->Press(e2e::kPlaybackKey);
  s->Frame();
  EXPECT_EQ(EditorMode, emRecord);
  s->Release(e2e::kRecordKey);
  s->Release(e2e::kPlaybackKey);
  s->Frame();
  // From record: edit (with the back-up), and at once playback.
  s->Press(e2e::kRecordKey);
  s->Press(e2e::kPlaybackKey);
  s->Frame();
  EXPECT_EQ(EditorMode, emPlayback);
  EXPECT_TRUE(std::filesystem::exists(dir.Dir() + "BackUp_Last Boss.txt"));
}

TEST_F(EditorFormTest, EditModePausesEveryFrameSoTheMusicTogglesUntilTheSeekStopsIt) {
  Open("");
  s->Tap(e2e::kPlaybackKey);
  s->Frames(5);
  ASSERT_EQ(s->form->BGM1->Mode(), mpPlaying);
  // Back to edit on a frame just past a seek: the next frame pauses, the one after resumes and
  // then seeks, which leaves the music stopped, where pausing does nothing.
  s->FramesUntil([] { return FrameCount % 3 == 0; });
  s->Press(e2e::kPlaybackKey);
  s->Frame();
  s->Release(e2e::kPlaybackKey);
  ASSERT_EQ(EditorMode, emEdit);
  std::vector<int> modes;
  for (int i = 0; i < 6; ++i) {
    s->Frame();
    modes.push_back(s->form->BGM1->Mode());
  }
  EXPECT_EQ(modes,
            (std::vector<int>{mpPaused, mpStopped, mpStopped, mpStopped, mpStopped, mpStopped}));
}

TEST_F(EditorFormTest, FramesGoOnAcrossTheClocksWrap) {
  Open("1000,1\r\n", 0xFFFFFFFFu - 100);
  s->Frames(20);
  EXPECT_EQ(FrameCount, 20);
  EXPECT_LT(timeGetTime(), 1000u);
}

TEST_F(EditorFormTest, ADisplayThatCannotDrawSkipsOnlyThePicture) {
  Open("1000,1\r\n");
  s->Frames(2);
  s->form->DXDraw1->Finalize();
  ASSERT_FALSE(s->form->DXDraw1->CanDraw());
  s->Tap(e2e::kPlaybackKey);
  EXPECT_EQ(EditorMode, emPlayback);
  const auto presents = s->hb->PresentCount(s->window());
  s->Frames(30);
  EXPECT_EQ(FrameCount, 34);
  EXPECT_EQ(s->hb->PresentCount(s->window()), presents);
  EXPECT_TRUE(s->hb->MessageBoxes().empty());
}

TEST_F(EditorFormTest, TheSpeedBarSetsTheScrollSpeedAndGivesTheKeysBack) {
  Open("1000,1\r\n");
  s->Frame();
  TTrackBar* bar = s->form->Speed1;
  bar->SetFocus();
  // In edit mode the bar is disabled for the key and stays.
  s->Tap(SDL_SCANCODE_RIGHT);
  EXPECT_EQ(bar->Position(), 5);
  // In record mode it moves; the change gives the focus back to the window.
  s->Tap(e2e::kRecordKey);
  bar->SetFocus();
  s->Tap(SDL_SCANCODE_RIGHT);
  EXPECT_EQ(bar->Position(), 6);
  EXPECT_DOUBLE_EQ(ScrollSpeed, 0.06);
  EXPECT_EQ(s->form->ActiveControl, nullptr);
  // Clicking the bar at its end.
  PointAt(106 + bar->ThumbCentre(30), 486 + 12);
  s->MouseDown();
  s->MouseUp();
  s->Frame();
  EXPECT_EQ(bar->Position(), 8);  // a page toward the click
}

TEST_F(EditorFormTest, TheSaveButtonWritesTheChart) {
  Open("1000,1\r\n2000,2\r\n");
  s->Frames(2);
  Select(10, 300, 90, 380);  // nothing to space: two notes keep their ends
  s->Score().AddNote(1500, 3);
  PointAt(200, 80);
  s->MouseDown();
  s->MouseUp();
  s->Frame();
  EXPECT_EQ(ReadBytes(Path()), "1000,1\r\n2000,2\r\n1500,3\r\n");
}

TEST_F(EditorFormTest, ClosingAsksAndSavesOnlyOnYes) {
  Open("1000,1\r\n");
  s->Score().AddNote(2000, 2);
  s->Close(false);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(ReadBytes(Path()), "1000,1\r\n");
  EXPECT_EQ(s->Messages, (std::vector<std::string>{"セーブしますか？"}));
  Application->ResetTerminated();
  s->Close(true);
  EXPECT_EQ(ReadBytes(Path()), "1000,1\r\n2000,2\r\n");
}

TEST_F(EditorFormTest, TheClosingQuestionKeepsTheFrameLoopRunningInEditMode) {
  Open("1000,1\r\n");
  s->Tap(e2e::kPlaybackKey);
  s->Frames(3);
  int framesUnderBox = 0;
  s->OnDialog = [&](TModalDialog& d) {
    if (EditorMode != emEdit || s->form->BGM1->Mode() == mpPlaying) return;
    const int before = FrameCount;
    s->hb->Advance(17);
    Application->RunUntil([&] { return FrameCount != before; }, 1000);
    if (++framesUnderBox == 10) dynamic_cast<TMessageBox&>(d).Choose(mrNo);
  };
  const int before = FrameCount;
  s->hb->ClickCloseBox(s->window());
  Application->RunUntil([] { return Application->Terminated(); }, 100000);
  EXPECT_EQ(framesUnderBox, 10);
  EXPECT_GE(FrameCount - before, 10);
}

TEST_F(EditorFormTest, CancellingTheDialogShowsItAgain) {
  WriteBytes(Path(), "1000,1\r\n");
  int opened = 0;
  s = std::make_unique<EditorSession>(Path(), true, 0, [&](TModalDialog& d) {
    auto* open = dynamic_cast<TOpenDialogBox*>(&d);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->Folder(), std::filesystem::current_path().string() + "/Score/");
    if (++opened < 3) {
      open->Cancel();
    } else {
      open->SetFileNameText(Path());
      open->Accept();
    }
  });
  EXPECT_EQ(opened, 3);
  EXPECT_EQ(s->Score().Count(), 1);
}

TEST_F(EditorFormTest, ALoadingMessageKeepsTheFrameLoopRunning) {
  WriteBytes(Path(), "1000,1\r\n5\r\n2000,2\r\n");
  int passes = 0;
  std::string text;
  s = std::make_unique<EditorSession>(Path(), true, 0, [&](TModalDialog& d) {
    if (auto* open = dynamic_cast<TOpenDialogBox*>(&d)) {
      open->SetFileNameText(Path());
      open->Accept();
      return;
    }
    auto& box = dynamic_cast<TMessageBox&>(d);
    text = box.Text();
    backend::HeadlessBackend::Instance().Advance(17);
    if (++passes == 20) box.Choose(mrOk);
  });
  EXPECT_EQ(text, "1行にエラーがあります。");
  EXPECT_GE(FrameCount, 15);
  EXPECT_EQ(s->Score().Count(), 2);
  EXPECT_TRUE(s->Score().IsLoaded());
}

TEST(EditorProgramTest, ClosingTheWindowUnderTheFileDialogEndsTheProgramWithoutAQuestion) {
  backend::HeadlessBackend& hb = backend::HeadlessBackend::InstallFresh();
  Application->ResetForTest();
  Application->SetTitle("Quilletエディター");
  RegisterEditorFormResource();
  int dialogs = 0, questions = 0;
  TModalDialog* seen = nullptr;
  OnModalDialogPass = [&](TModalDialog& d) {
    if (dynamic_cast<TOpenDialogBox*>(&d) != nullptr) {
      if (seen == &d) return;
      seen = &d;
      ++dialogs;
      hb.ClickCloseBox(Form1->Handle());
    } else {
      ++questions;
      d.EndModal(d.CancelResult());
    }
  };
  Application->CreateForm(Form1);
  // The main loop shows the window, whose show handler opens the dialog; the close ends it all.
  Application->Run();
  OnModalDialogPass = nullptr;
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(questions, 0);
  EXPECT_EQ(Score, nullptr);
  Form1->Free();
  EXPECT_EQ(ActiveTimePeriods(), 0);
  Application->ResetForTest();
}
