// The editor's mouse editing on the SDL backend: a note grabbed and dragged with events pushed
// into SDL's queue moves where the events say, and a rectangle drawn from an empty place
// follows the pointer.
#include <filesystem>

#include "assets/StoredForms.h"
#include "e2e/EditorSession.h"
#include "editor/Main.h"
#include "platform/forms/Dialogs.h"
#include "sdl/SdlAppTest.h"

namespace {

class SdlEditorTest : public SdlAppTest {
 protected:
  void SetUp() override {
    SdlAppTest::SetUp();
    if (IsSkipped()) return;
    dir = std::make_unique<e2e::ScratchFolder>("sdl");
    chart = dir->Dir() + "Last Boss.txt";
    std::filesystem::copy_file("Score/Last Boss.txt", chart);
    Application->SetTitle("Quilletエディター");
    RegisterEditorFormResource();
    OnModalDialogPass = [this](TModalDialog& d) {
      if (auto* open = dynamic_cast<TOpenDialogBox*>(&d)) {
        open->SetFileNameText(chart);
        open->Accept();
      } else {
        d.EndModal(d.CancelResult());
      }
    };
    Application->CreateForm(Tessaly::Form1);
    form = Tessaly::Form1;
    form->SetVisible(true);
    Application->ProcessMessages();
  }
  void TearDown() override {
    OnModalDialogPass = [](TModalDialog& d) { d.EndModal(d.CancelResult()); };
    if (Tessaly::Form1 != nullptr) Tessaly::Form1->Free();
    OnModalDialogPass = nullptr;
    SdlAppTest::TearDown();
  }
  // Runs the loop until the editor has run `n` more frames.
  void Frames(int n = 1) {
    const std::int32_t until = Tessaly::FrameCount + n;
    ASSERT_TRUE(RunUntil([&] { return Tessaly::FrameCount >= until; }));
  }
  backend::WindowId Window() const { return form->Handle(); }

  std::unique_ptr<e2e::ScratchFolder> dir;
  std::string chart;
  Tessaly::TForm1* form = nullptr;
};

}  // namespace

TEST_F(SdlEditorTest, DraggingANoteRetimesItWhereTheEventsPutThePointer) {
  ASSERT_NE(Tessaly::Score, nullptr);
  Frames(2);
  ASSERT_EQ(Tessaly::EditorMode, Tessaly::emEdit);
  ASSERT_EQ(Tessaly::MusicPos, 0);
  // At speed 5 the note at 2000 stands on row 320; dragged to row 330, 90 rows before the
  // judgement line, it is at 1799.
  const auto at = [](int time) {
    for (int i = 0; i < Tessaly::Score->Count(); ++i)
      if (Tessaly::Score->GetNote(i)->Time == time) return true;
    return false;
  };
  ASSERT_TRUE(at(2000));
  PushMotion(Window(), 50, 320, 0);
  Frames();
  EXPECT_EQ(Tessaly::LanePointer.X, 50);
  EXPECT_EQ(Tessaly::LanePointer.Y, 320);
  PushButton(Window(), 1, true, 50, 320);
  Frames();
  ASSERT_NE(Tessaly::GrabbedNote, nullptr);
  PushMotion(Window(), 50, 330, SDL_BUTTON_LMASK);
  Frames();
  EXPECT_EQ(Tessaly::GrabbedNote->Time, 1799);
  PushButton(Window(), 1, false, 50, 330);
  Frames();
  EXPECT_EQ(Tessaly::GrabbedNote, nullptr);
  EXPECT_TRUE(at(1799));
  EXPECT_FALSE(at(2000));
}

TEST_F(SdlEditorTest, ASelectionFromAnEmptyPlaceFollowsThePointer) {
  Frames(2);
  PushMotion(Window(), 10, 262, 0);
  Frames();
  PushButton(Window(), 1, true, 10, 262);
  Frames();
  ASSERT_TRUE(Tessaly::Selecting);
  for (const TPoint p : {TPoint{40, 280}, TPoint{90, 340}}) {
    PushMotion(Window(), p.X, p.Y, SDL_BUTTON_LMASK);
    Frames();
    EXPECT_EQ(Tessaly::LanePointer.X, p.X);
    EXPECT_EQ(Tessaly::LanePointer.Y, p.Y);
    // The rectangle takes the pointer of the last frame on the next motion, as a moving
    // pointer sends one.
    PushMotion(Window(), p.X, p.Y, SDL_BUTTON_LMASK);
    Frames();
    EXPECT_EQ(Tessaly::SelectionRect.Left, 10);
    EXPECT_EQ(Tessaly::SelectionRect.Top, 262);
    EXPECT_EQ(Tessaly::SelectionRect.Right, p.X);
    EXPECT_EQ(Tessaly::SelectionRect.Bottom, p.Y);
  }
  PushButton(Window(), 1, false, 90, 340);
  Frames();
  EXPECT_FALSE(Tessaly::Selecting);
}
