// The chart editor in its real window: the file dialog, editing with the mouse, recording with
// the keys, saving and closing, checked on the screen and in the chart files it writes.
#include <fstream>
#include <sstream>
#include <thread>

#include "realwindow/RealWindowTest.h"

namespace realwindow {
namespace {

// Lane coordinates are the window's own: the lane is the 100 x 569 surface at its top-left.
constexpr int kJudgeLine = 420;
constexpr std::uint32_t kYellow = 0xFFFF00, kLime = 0x00FF00, kAqua = 0x00FFFF, kRed = 0xFF0000;

// The music stands at 0 while the editor waits in edit mode, and the speed bar is set to 5
// (0.05 pixels a millisecond) by loading: a note of time T is drawn at row 420 - T / 20.
constexpr const char* kChart =
    "1000,1\n"   // row 370
    "3000,2\n"   // row 270
    "3300,3\n"   // row 255
    "4000,4\n"   // row 220
    "6000,1\n";  // row 120

// The note's 3-pixel line, from x 25 to x 75, in its kind's colour.
bool NoteAt(const Picture& P, int Row, std::uint32_t Colour) {
  return P.CountColour({30, Row - 1, 40, 3}, Colour) >= 80;
}

bool LaneShown(const Picture& P) {
  return P.CountColour({0, kJudgeLine - 1, 100, 3}, 0xFFFFFF) > 250;
}

// The open dialog's list: white, with its rows of 16 pixels from (15, 122) of the window.
bool DialogShown(const Picture& P) { return P.CountColour({20, 300, 300, 100}, 0xFFFFFF) > 29000; }
Box DialogRow(int Index) { return {16, 122 + 16 * Index, 310, 16}; }
// The dialog's file-name field.
constexpr Box kNameField{104, 432, 228, 16};

std::string ReadFile(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Note {
  int Time, Kind;
  bool operator==(const Note&) const = default;
};

// A chart file as the editor writes it: "time,kind" lines, each ended by CR LF.
std::vector<Note> ParseChart(const std::string& Text, bool& WellFormed) {
  std::vector<Note> notes;
  WellFormed = true;
  std::size_t at = 0;
  while (at < Text.size()) {
    const std::size_t end = Text.find("\r\n", at);
    if (end == std::string::npos) {
      WellFormed = false;
      break;
    }
    const std::string line = Text.substr(at, end - at);
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) {
      WellFormed = false;
    } else {
      notes.push_back({std::stoi(line.substr(0, comma)), std::stoi(line.substr(comma + 1))});
    }
    at = end + 2;
  }
  return notes;
}

class EditorWindow : public RealWindowTest {
 protected:
  void SetUp() override {
    RealWindowTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Folder_.WriteChart("edit.txt", kChart);
    Folder_.GiveMusic("edit");
  }

  // Starts the editor and waits for its file dialog.
  void StartAtDialog() {
    Editor_ = std::make_unique<RunningProgram>(Folder_, "Tessaly", DisplayName());
    ASSERT_TRUE(Editor_->Started());
    Window_ = X().WaitForWindow("Editor", Millis(10000));
    ASSERT_NE(Window_, 0u) << "no editor window; the editor said:\n" << Editor_->Output();
    ASSERT_TRUE(WaitForPicture(Window_, DialogShown, "dialog")) << "the file dialog never showed";
    const auto box = X().WindowBox(Window_);
    ASSERT_TRUE(box);
    Origin_ = *box;
    // The pointer rests over the window, and the keyboard goes to it. SDL takes a window's
    // focus as given only after a short settling time, and typed text reaches no window
    // before that.
    X().MoveTo(Origin_.Left + 200, Origin_.Top + 300);
    X().Focus(Window_);
    std::this_thread::sleep_for(Millis(300));
  }

  // Types the chart's name into the dialog and opens it; waits for the lane with its notes.
  void OpenTypedName(const std::string& Name) {
    X().Type(Name);
    EXPECT_TRUE(WaitForPicture(
        Window_, [](const Picture& p) { return p.CountDark(kNameField) > 40; }, "typed"))
        << "the typed name did not show in the dialog";
    X().Tap("Return");
    ASSERT_TRUE(WaitForPicture(
        Window_, [](const Picture& p) { return LaneShown(p) && NoteAt(p, 370, kYellow); }, "lane"))
        << "the chart did not open";
  }

  void OpenChart() {
    ASSERT_NO_FATAL_FAILURE(StartAtDialog());
    ASSERT_NO_FATAL_FAILURE(OpenTypedName("edit.txt"));
  }

  // The pointer to a place of the lane, in the window's coordinates.
  void PointAt(int X0, int Y0) { X().MoveTo(Origin_.Left + X0, Origin_.Top + Y0); }
  void GlideTo(int FromX, int FromY, int X1, int Y1) {
    X().Glide(Origin_.Left + FromX, Origin_.Top + FromY, Origin_.Left + X1, Origin_.Top + Y1);
  }

  // Drags the note at row From to row To with the left button, and waits until the lane shows
  // it there before letting go.
  bool DragNote(int From, int To, std::uint32_t Colour) {
    PointAt(50, From);
    std::this_thread::sleep_for(Millis(50));
    X().Button(1, true);
    GlideTo(50, From, 50, To);
    const bool followed = WaitForPicture(
        Window_,
        [&](const Picture& p) { return NoteAt(p, To, Colour) && !NoteAt(p, From, Colour); },
        "dragged", Millis(3000));
    X().Button(1, false);
    return followed;
  }

  // Clicks the "save" button and waits until the chart file reads Expected.
  bool SaveAndWaitFor(const std::string& Expected) {
    PointAt(208, 80);
    std::this_thread::sleep_for(Millis(50));
    X().Button(1, true);
    std::this_thread::sleep_for(Millis(50));
    X().Button(1, false);
    return WaitUntil([&] { return ReadFile(Folder_.Score("edit.txt")) == Expected; }, Millis(3000));
  }

  // Records notes, so that the chart in the editor differs from its file, closes the window and
  // answers the question with Key; the editor must then end with status 0. Gives the back-up's
  // text, which holds the recorded chart.
  std::string CloseAnswering(const std::string& Key);

  ProgramFolder Folder_;
  std::unique_ptr<RunningProgram> Editor_;
  Window Window_ = 0;
  Box Origin_;
};

TEST_F(EditorWindow, FileDialogListsTheScoreFolderAndOpensTheTypedName) {
  // One more file than the folder usually holds, so that the listing must come from the folder.
  Folder_.WriteChart("more.txt", kChart);
  ASSERT_NO_FATAL_FAILURE(StartAtDialog());
  // One row for each file of the Score folder.
  const Picture dialog = X().CaptureWindow(Window_);
  int rows = 0;
  while (rows < 20 && dialog.CountDark(DialogRow(rows), 100) > 10) ++rows;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Folder_.Path() / "Score"))
    if (entry.is_regular_file()) ++files;
  EXPECT_EQ(rows, files);

  ASSERT_NO_FATAL_FAILURE(OpenTypedName("edit.txt"));
  const Picture lane = X().CaptureWindow(Window_);
  EXPECT_TRUE(NoteAt(lane, 270, kLime));
  EXPECT_TRUE(NoteAt(lane, 255, kAqua));
  EXPECT_TRUE(NoteAt(lane, 220, kRed));
  EXPECT_TRUE(NoteAt(lane, 120, kYellow));
}

TEST_F(EditorWindow, DraggingANoteRetimesItAndSaveWritesTheNewTime) {
  ASSERT_NO_FATAL_FAILURE(OpenChart());
  // Row 320 is 100 rows above the judgement line: 100 / 0.05 ms, cut toward zero, and the speed
  // is the double nearest to 0.05, a little above it: 1999, not 2000.
  EXPECT_TRUE(DragNote(370, 320, kYellow)) << "the dragged note did not follow the pointer";
  EXPECT_TRUE(SaveAndWaitFor("1999,1\r\n3000,2\r\n3300,3\r\n4000,4\r\n6000,1\r\n"))
      << ReadFile(Folder_.Score("edit.txt"));
}

TEST_F(EditorWindow, ARectangleDraggedFromAnEmptyPlaceSpacesTheNotesInIt) {
  ASSERT_NO_FATAL_FAILURE(OpenChart());
  // Left of the notes' lines nothing is grabbed, so the press starts a selection.
  PointAt(10, 200);
  std::this_thread::sleep_for(Millis(50));
  X().Button(1, true);
  GlideTo(10, 200, 90, 290);
  // The red frame follows the pointer: its right edge is where the pointer is. The frame takes
  // the pointer as the last frame saw it, at each move; a hand at rest still trembles, so the
  // pointer moves by a pixel and back until the frame has caught up.
  auto frameAtPointer = [](const Picture& p) { return p.CountColour({87, 205, 6, 80}, kRed) > 60; };
  bool followed = false;
  for (int i = 0; i < 30 && !followed; ++i) {
    PointAt(91, 291);
    std::this_thread::sleep_for(Millis(40));
    PointAt(90, 290);
    followed = WaitForPicture(Window_, frameAtPointer, "frame", Millis(100));
  }
  EXPECT_TRUE(followed) << "the selection's frame does not follow the pointer";
  X().Button(1, false);
  // Rows 270, 255 and 220 lie in the frame: 3000, 3300 and 4000 are spaced to 3000, 3500 and
  // 4000; the note at 3300 moves up to row 245.
  EXPECT_TRUE(WaitForPicture(
      Window_, [](const Picture& p) { return NoteAt(p, 245, kAqua) && !NoteAt(p, 255, kAqua); },
      "spaced", Millis(3000)));
  EXPECT_TRUE(SaveAndWaitFor("1000,1\r\n3000,2\r\n3500,3\r\n4000,4\r\n6000,1\r\n"))
      << ReadFile(Folder_.Score("edit.txt"));
}

TEST_F(EditorWindow, ARightClickDuringADragDeletesTheNote) {
  ASSERT_NO_FATAL_FAILURE(OpenChart());
  PointAt(50, 120);
  std::this_thread::sleep_for(Millis(50));
  X().Button(1, true);
  GlideTo(50, 120, 50, 150);
  EXPECT_TRUE(WaitForPicture(
      Window_, [](const Picture& p) { return NoteAt(p, 150, kYellow); }, "dragged", Millis(3000)));
  X().Button(3, true);
  EXPECT_TRUE(WaitForPicture(
      Window_,
      [](const Picture& p) { return !NoteAt(p, 150, kYellow) && !NoteAt(p, 120, kYellow); },
      "deleted", Millis(3000)))
      << "the right click did not delete the dragged note";
  X().Button(3, false);
  X().Button(1, false);
  EXPECT_TRUE(SaveAndWaitFor("1000,1\r\n3000,2\r\n3300,3\r\n4000,4\r\n"))
      << ReadFile(Folder_.Score("edit.txt"));
}

// Records kinds 1, 2 and 3 (keys Z, X, C) between two presses of 4; the back-up's notes.
std::vector<Note> RecordThreeNotes(XClient& X, const std::filesystem::path& BackUp, bool& Written) {
  X.Tap("4");
  for (const char* key : {"z", "x", "c"}) {
    std::this_thread::sleep_for(Millis(200));
    X.Tap(key);
  }
  std::this_thread::sleep_for(Millis(100));
  X.Tap("4");
  Written = WaitUntil([&] { return std::filesystem::exists(BackUp); }, Millis(3000));
  std::string text;
  // The file may be seen while it is being written; it is complete once it parses whole.
  bool whole = false;
  WaitUntil(
      [&] {
        text = ReadFile(BackUp);
        ParseChart(text, whole);
        return whole && !text.empty();
      },
      Millis(2000));
  return ParseChart(text, whole);
}

TEST_F(EditorWindow, RecordingBetweenTwoPressesOfFourWritesTheBackUp) {
  ASSERT_NO_FATAL_FAILURE(OpenChart());
  const auto backUp = Folder_.Score("BackUp_edit.txt");
  bool written = false;
  const std::vector<Note> notes = RecordThreeNotes(X(), backUp, written);
  ASSERT_TRUE(written) << "leaving record mode wrote no back-up";

  // Each recorded note is put in time order at once: the back-up is sorted, holds the loaded
  // notes, and the three new ones in the order they were struck, at the music's times then,
  // which moved on between the strokes.
  for (std::size_t i = 1; i < notes.size(); ++i) EXPECT_LE(notes[i - 1].Time, notes[i].Time);
  const std::vector<Note> loaded{{1000, 1}, {3000, 2}, {3300, 3}, {4000, 4}, {6000, 1}};
  std::vector<Note> recorded;
  std::size_t next = 0;
  for (const Note& n : notes) {
    if (next < loaded.size() && n == loaded[next])
      ++next;
    else
      recorded.push_back(n);
  }
  EXPECT_EQ(next, loaded.size()) << ReadFile(backUp);
  ASSERT_EQ(recorded.size(), 3u) << ReadFile(backUp);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(recorded[k].Kind, k + 1);
  EXPECT_GE(recorded[0].Time, 0);
  EXPECT_LT(recorded[0].Time, recorded[1].Time);
  EXPECT_LT(recorded[1].Time, recorded[2].Time);
  // The chart itself stays as it was until it is saved.
  EXPECT_EQ(ReadFile(Folder_.Score("edit.txt")),
            "1000,1\r\n3000,2\r\n3300,3\r\n4000,4\r\n6000,1\r\n");
}

std::string EditorWindow::CloseAnswering(const std::string& Key) {
  bool written = false;
  RecordThreeNotes(X(), Folder_.Score("BackUp_edit.txt"), written);
  EXPECT_TRUE(written);
  const std::string recorded = ReadFile(Folder_.Score("BackUp_edit.txt"));

  // The question box carries the blue disc of a question; nothing else in the window is blue.
  auto blue = [](const Picture& p) { return p.CountColour({0, 0, p.Width, p.Height}, 0x0000FF); };
  EXPECT_LT(blue(X().CaptureWindow(Window_)), 50);
  X().RequestClose(Window_);
  EXPECT_TRUE(WaitForPicture(
      Window_, [&](const Picture& p) { return blue(p) > 300; }, "question", Millis(5000)))
      << "closing asked nothing";
  EXPECT_TRUE(Editor_->Running());
  X().Tap(Key);
  EXPECT_EQ(Editor_->WaitForExit(Millis(10000)), 0) << Editor_->ExitDescription() << "\n"
                                                    << Editor_->Output();
  return recorded;
}

TEST_F(EditorWindow, ClosingAsksWhetherToSaveAndYesSavesTheChart) {
  ASSERT_NO_FATAL_FAILURE(OpenChart());
  std::string recorded;
  ASSERT_NO_FATAL_FAILURE(recorded = CloseAnswering("y"));
  EXPECT_EQ(ReadFile(Folder_.Score("edit.txt")), recorded);
}

TEST_F(EditorWindow, ClosingAndAnsweringNoLeavesTheChartFileAsItWas) {
  ASSERT_NO_FATAL_FAILURE(OpenChart());
  ASSERT_NO_FATAL_FAILURE(CloseAnswering("n"));
  EXPECT_EQ(ReadFile(Folder_.Score("edit.txt")),
            "1000,1\r\n3000,2\r\n3300,3\r\n4000,4\r\n6000,1\r\n");
}

}  // namespace
}  // namespace realwindow
