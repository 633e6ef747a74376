// The real programs given a named pipe or a link to a device where they look for their files:
// neither waits on it. The game's box says why the stage cannot start and the stage select
// stays; the editor's box says why the chart cannot be opened and the file dialog comes back.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <thread>

#include "realwindow/GameScreens.h"
#include "realwindow/RealWindowTest.h"

namespace realwindow {
namespace {

namespace fs = std::filesystem;

// Puts a named pipe in place of a file of the program folder, and takes it away again when the
// test ends, so that nothing is ever left that a reader could wait on.
class PipeInPlace {
 public:
  explicit PipeInPlace(fs::path Path) : Path_(std::move(Path)) {
    fs::remove(Path_);
    Made_ = ::mkfifo(Path_.c_str(), 0644) == 0;
  }
  ~PipeInPlace() {
    std::error_code ec;
    fs::remove(Path_, ec);
  }
  PipeInPlace(const PipeInPlace&) = delete;
  PipeInPlace& operator=(const PipeInPlace&) = delete;
  bool Made() const { return Made_; }

 private:
  fs::path Path_;
  bool Made_ = false;
};

// The first top-level window that was not among Before, once one shows up.
Window NewWindow(XClient& X, const std::vector<std::pair<Window, Box>>& Before, Millis Timeout) {
  Window found = 0;
  WaitUntil(
      [&] {
        for (const auto& [w, b] : X.TopLevelWindows()) {
          const bool known = std::any_of(Before.begin(), Before.end(),
                                         [w = w](const auto& old) { return old.first == w; });
          if (!known) {
            found = w;
            return true;
          }
        }
        return false;
      },
      Timeout);
  return found;
}

class OddFilesWindow : public RealWindowTest {
 protected:
  ProgramFolder Folder_;
};

TEST_F(OddFilesWindow, TheGameSaysWhyAStageCannotStartAndStaysAtTheSelect) {
  PipeInPlace picture(Folder_.Path() / "Image" / "Grumbak.bmp");
  ASSERT_TRUE(picture.Made());
  RunningProgram game(Folder_, "ProjectMorvane", DisplayName());
  ASSERT_TRUE(game.Started());
  const Window window = X().WaitForWindow("Morvane", Millis(10000));
  ASSERT_NE(window, 0u) << "no game window; the game said:\n" << game.Output();
  ASSERT_TRUE(WaitForPicture(window, game::IsTitle, "title"));
  X().Focus(window);
  auto tapUntil = [&](const std::function<bool(const Picture&)>& Seen, const std::string& Step) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      X().Tap("z");
      if (WaitForPicture(window, Seen, Step, Millis(1500))) return true;
    }
    return false;
  };
  ASSERT_TRUE(tapUntil(game::IsStageSelect, "select"));

  // The first stage's boss picture is a pipe, then its music leads to /dev/zero: each time a box
  // says so, and once it is answered the stage select is there as before.
  for (const char* step : {"pipe", "device"}) {
    SCOPED_TRACE(step);
    const auto before = X().TopLevelWindows();
    X().Tap("z");
    const Window box = NewWindow(X(), before, Millis(8000));
    ASSERT_NE(box, 0u) << "no box said why the stage cannot start; the game said:\n"
                       << game.Output();
    EXPECT_EQ(X().WindowName(box), "iMorvane");
    EXPECT_TRUE(game.Running());
    Keep(X().Capture(X().ScreenBox()), std::string("box-") + step);
    X().Focus(box);
    std::this_thread::sleep_for(Millis(200));
    X().Tap("Return");
    EXPECT_TRUE(WaitUntil(
        [&] {
          const auto now = X().TopLevelWindows();
          return std::none_of(now.begin(), now.end(),
                              [&](const auto& w) { return w.first == box; });
        },
        Millis(5000)))
        << "the box did not go";
    X().Focus(window);
    // (A boss picture that did load has given the screen its colour, which the cursor hero's
    // blue no longer stands out from: the select itself is what is looked for.)
    EXPECT_TRUE(WaitForPicture(window, game::IsStageSelect, std::string("select-") + step))
        << "the stage select did not come back";
    if (std::string(step) == "pipe") {
      fs::remove(Folder_.Path() / "Image" / "Grumbak.bmp");
      fs::copy_file(BuildBinFolder() / "Image" / "Grumbak.bmp",
                    Folder_.Path() / "Image" / "Grumbak.bmp");
      fs::remove(Folder_.Path() / "Sound" / "Last Boss.mp3");
      fs::create_symlink("/dev/zero", Folder_.Path() / "Sound" / "Last Boss.mp3");
    }
  }
  X().RequestClose(window);
  EXPECT_EQ(game.WaitForExit(Millis(10000)), 0) << game.ExitDescription() << "\n" << game.Output();
}

// The open dialog's list, white, and the file-name field.
bool DialogShown(const Picture& P) { return P.CountColour({20, 300, 300, 100}, 0xFFFFFF) > 29000; }
constexpr Box kNameField{104, 432, 228, 16};
// A box's caption bar, in the caption colour, with no dialog under it.
bool BoxShown(const Picture& P) {
  return !DialogShown(P) && P.CountColour({0, 0, P.Width, P.Height}, 0x99B4D1) > 1000;
}
bool LaneShown(const Picture& P) { return P.CountColour({0, 419, 100, 3}, 0xFFFFFF) > 250; }

TEST_F(OddFilesWindow, TheEditorSaysWhyAChartCannotBeOpenedAndTheDialogComesBack) {
  PipeInPlace pipe(Folder_.Score("pipe.txt"));
  ASSERT_TRUE(pipe.Made());
  fs::create_symlink("/dev/zero", Folder_.Score("zero.txt"));
  Folder_.WriteChart("edit.txt", "1000,1\n");
  Folder_.GiveMusic("edit");
  RunningProgram editor(Folder_, "Tessaly", DisplayName());
  ASSERT_TRUE(editor.Started());
  const Window window = X().WaitForWindow("Editor", Millis(10000));
  ASSERT_NE(window, 0u) << "no editor window; the editor said:\n" << editor.Output();
  ASSERT_TRUE(WaitForPicture(window, DialogShown, "dialog")) << "the file dialog never showed";
  const auto box = X().WindowBox(window);
  ASSERT_TRUE(box);
  X().MoveTo(box->Left + 200, box->Top + 300);
  X().Focus(window);
  std::this_thread::sleep_for(Millis(300));

  // Types a name over the one the dialog shows (Erase characters of it) and opens it.
  auto open = [&](std::size_t Erase, const std::string& Name) {
    for (std::size_t i = 0; i < Erase; ++i) X().Tap("BackSpace", Millis(30));
    X().Type(Name);
    EXPECT_TRUE(WaitForPicture(
        window, [](const Picture& p) { return p.CountDark(kNameField) > 40; }, "typed"));
    X().Tap("Return");
  };
  std::size_t shown = 0;
  for (const std::string name : {"pipe.txt", "zero.txt"}) {
    SCOPED_TRACE(name);
    open(shown, name);
    shown = name.size();
    ASSERT_TRUE(WaitForPicture(window, BoxShown, "box-" + name))
        << "no box said why the chart cannot be opened; the editor said:\n"
        << editor.Output();
    EXPECT_TRUE(editor.Running());
    X().Tap("Return");
    ASSERT_TRUE(WaitForPicture(window, DialogShown, "again-" + name))
        << "the file dialog did not come back";
  }
  // A chart that is one opens as ever.
  open(shown, "edit.txt");
  EXPECT_TRUE(WaitForPicture(window, LaneShown, "lane")) << "the chart did not open";
  // Closing asks whether to save (the blue disc of a question); no.
  X().RequestClose(window);
  EXPECT_TRUE(WaitForPicture(
      window,
      [](const Picture& p) {
        return p.CountColour({0, 0, p.Width, p.Height}, 0x0000FF) > 300;
      },
      "question"));
  X().Tap("n");
  EXPECT_EQ(editor.WaitForExit(Millis(10000)), 0) << editor.ExitDescription() << "\n"
                                                  << editor.Output();
}

}  // namespace
}  // namespace realwindow
