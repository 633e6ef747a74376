// The widgets and boxes of the editor's window: the speed bar, the save button, the label, the
// message boxes that keep the frame loop running, and the file dialog that does not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/AppEvnts.h"
#include "platform/forms/Buttons.h"
#include "platform/forms/ComCtrls.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"
#include "platform/forms/Windows.h"
#include "platform/rtl/SysUtils.h"

using backend::HeadlessBackend;

namespace {

constexpr int kScY = 28, kScReturn = 40, kScEscape = 41, kScDown = 81, kScRight = 79;

class WidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &HeadlessBackend::InstallFresh(1000);
    Reset();
    Application->SetTitle("Quilletエディター");
  }
  void TearDown() override {
    OnModalDialogPass = nullptr;
    Application->DestroyComponents();
    Reset();
  }
  static void Reset() {
    Application->OnIdle = nullptr;
    Application->OnException = nullptr;
    Application->ProcessMessages();
    Application->ResetTerminated();
  }
  TForm* MainForm() {
    TForm* f = nullptr;
    Application->CreateForm(f);
    f->SetCaption("Editor");
    f->SetBounds(100, 50, 359, 603);
    f->Show();
    Application->ProcessMessages();
    return f;
  }
  void Pump() {
    for (int i = 0; i < 1000 && hb->PendingEvents() > 0; ++i) Application->Step();
    Application->ProcessMessages();
  }
  void Click(TForm* f, int x, int y) {
    hb->MoveMouse(f->Handle(), x, y);
    hb->PressMouse(f->Handle(), 1);
    hb->ReleaseMouse(f->Handle(), 1);
    Pump();
  }
  const HeadlessBackend::Frame& Shown(TForm* f) { return *hb->LastFrame(f->Handle()); }
  HeadlessBackend* hb = nullptr;
};

TTrackBar* SpeedBar(TForm* f, std::vector<int>* changes) {
  auto* t = new TTrackBar(f);
  t->SetParent(f);
  t->SetBounds(106, 486, 227, 30);
  t->SetMax(30);
  t->SetMin(1);
  t->SetFrequency(3);
  t->SetPosition(1);
  t->OnChange = [t, changes](TObject*) { changes->push_back(t->Position()); };
  return t;
}

}  // namespace

TEST_F(WidgetTest, TrackBarPositionFiresOnChangeWhenItChangesAndStaysInRange) {
  TForm* f = MainForm();
  std::vector<int> changes;
  TTrackBar* t = SpeedBar(f, &changes);
  t->SetPosition(5);
  t->SetPosition(5);
  t->SetPosition(99);
  t->SetPosition(-3);
  EXPECT_EQ(changes, (std::vector<int>{5, 30, 1}));
  // A narrower range pulls the position in without an event.
  t->SetPosition(20);
  changes.clear();
  t->SetMax(10);
  EXPECT_EQ(t->Position(), 10);
  EXPECT_TRUE(changes.empty());
}

TEST_F(WidgetTest, TrackBarReadFromAStoredFormFiresNothingUntilAssigned) {
  RegisterFormResource("TSpeedForm",
                       "object SpeedForm: TSpeedForm\n"
                       "  object Speed1: TTrackBar\n"
                       "    Left = 106\n    Top = 486\n    Width = 227\n    Height = 30\n"
                       "    Frequency = 3\n    Max = 30\n    Min = 1\n"
                       "    Orientation = trHorizontal\n    Position = 1\n"
                       "    OnChange = Speed1Change\n  end\nend\n");
  struct TSpeedForm : TForm {
    explicit TSpeedForm(TComponent* o) : TForm(o) {
      RegisterField("Speed1", Speed1);
      RegisterMethod("Speed1Change", this, &TSpeedForm::Speed1Change);
    }
    const char* ClassName() const override { return "TSpeedForm"; }
    void Speed1Change(TObject*) { ++Changes; }
    TTrackBar* Speed1 = nullptr;
    int Changes = 0;
  };
  auto* f = TCustomForm::Create<TSpeedForm>(nullptr);
  ASSERT_NE(f->Speed1, nullptr);
  EXPECT_EQ(f->Speed1->Position(), 1);
  EXPECT_EQ(f->Speed1->Min(), 1);
  EXPECT_EQ(f->Speed1->Max(), 30);
  EXPECT_EQ(f->Changes, 0);
  f->Speed1->SetPosition(5);
  EXPECT_EQ(f->Changes, 1);
  f->Free();
}

TEST_F(WidgetTest, TrackBarTakesKeysOnlyWhileEnabled) {
  TForm* f = MainForm();
  std::vector<int> changes;
  TTrackBar* t = SpeedBar(f, &changes);
  t->SetPosition(5);
  t->SetFocus();
  hb->PressKey(kScRight);
  hb->ReleaseKey(kScRight);
  Pump();
  EXPECT_EQ(t->Position(), 6);
  // A form that sees keys first and disables the bar for them keeps it still.
  f->KeyPreview = true;
  f->OnKeyDown = [t](TObject*, WORD&, TShiftState) { t->SetEnabled(false); };
  f->OnKeyUp = [t](TObject*, WORD&, TShiftState) { t->SetEnabled(true); };
  hb->PressKey(kScRight);
  Pump();
  EXPECT_EQ(t->Position(), 6);
  hb->ReleaseKey(kScRight);
  Pump();
  EXPECT_TRUE(t->Enabled());
}

TEST_F(WidgetTest, TrackBarFollowsTheMouse) {
  TForm* f = MainForm();
  std::vector<int> changes;
  TTrackBar* t = SpeedBar(f, &changes);
  // Beside the thumb: a page toward the click.
  const int y = 486 + 12;
  Click(f, 106 + t->ThumbCentre(20), y);
  EXPECT_EQ(t->Position(), 3);
  // Dragging the thumb to the end of the channel.
  hb->MoveMouse(f->Handle(), 106 + t->ThumbCentre(3), y);
  hb->PressMouse(f->Handle(), 1);
  hb->MoveMouse(f->Handle(), 106 + t->ThumbCentre(30), y);
  hb->ReleaseMouse(f->Handle(), 1);
  Pump();
  EXPECT_EQ(t->Position(), 30);
  EXPECT_EQ(changes.back(), 30);
}

TEST_F(WidgetTest, SpeedButtonClicksOnReleaseOverItAndNeverTakesTheFocus) {
  TForm* f = MainForm();
  auto* b = new TSpeedButton(f);
  b->SetParent(f);
  b->SetBounds(161, 24, 95, 112);
  b->SetCaption("save");
  int clicks = 0;
  b->OnClick = [&](TObject*) { ++clicks; };
  Click(f, 200, 80);
  EXPECT_EQ(clicks, 1);
  // Pressed on it, released beside it: no click.
  hb->MoveMouse(f->Handle(), 200, 80);
  hb->PressMouse(f->Handle(), 1);
  Pump();
  EXPECT_TRUE(b->Pressed());
  hb->MoveMouse(f->Handle(), 10, 10);
  hb->ReleaseMouse(f->Handle(), 1);
  Pump();
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(b->Pressed());
  EXPECT_EQ(f->ActiveControl, nullptr);
  // Its face and caption are on the screen.
  const auto& frame = Shown(f);
  int dark = 0;
  for (int y = 24; y < 136; ++y)
    for (int x = 161; x < 256; ++x) dark += (frame.Pixel(x, y) & 0xFF) < 0x40;
  EXPECT_GT(dark, 20);
}

TEST_F(WidgetTest, LabelSizesItselfToItsJapaneseCaption) {
  TForm* f = MainForm();
  auto* l = new TLabel(f);
  l->SetParent(f);
  l->SetBounds(188, 436, 10, 10);
  l->SetCaption("ゲームスピード");
  EXPECT_GT(l->Width(), 50);
  EXPECT_GT(l->Height(), 8);
  f->Invalidate();
  Application->ProcessMessages();
  const auto& frame = Shown(f);
  int ink = 0;
  for (int y = l->Top(); y < l->Top() + l->Height(); ++y)
    for (int x = l->Left(); x < l->Left() + l->Width(); ++x)
      ink += (frame.Pixel(x, y) & 0xFF) < 0x60;
  EXPECT_GT(ink, 30);
}

TEST_F(WidgetTest, ConfirmationBoxKeepsTheIdleEventAndIsAnsweredByKeys) {
  TForm* f = MainForm();
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& Done) {
    ++idles;
    Done = false;
  };
  int passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    if (++passes == 50) {
      hb->PressKey(kScY);
      hb->ReleaseKey(kScY);
    }
  };
  EXPECT_EQ(MessageDlg("セーブしますか？", mtConfirmation, {mbYes, mbNo}, 0), mrYes);
  EXPECT_GT(idles, 20);
  // Escape gives the No button's answer when there is no Cancel.
  passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    if (++passes == 3) hb->PressKey(kScEscape);
  };
  EXPECT_EQ(MessageDlg("セーブしますか？", mtConfirmation, {mbYes, mbNo}, 0), mrNo);
  hb->ReleaseKey(kScEscape);
  // Moving the focus with the arrows and pressing Enter.
  passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    ++passes;
    if (passes == 2) hb->PressKey(kScDown);
    if (passes == 4) hb->PressKey(kScReturn);
  };
  EXPECT_EQ(MessageDlg("セーブしますか？", mtConfirmation, {mbYes, mbNo}, 0), mrNo);
  EXPECT_EQ(f->HasOverlays(), false);
}

TEST_F(WidgetTest, ConfirmationBoxIsDrawnInTheWindowAndAgainOverEveryNewPicture) {
  TForm* f = MainForm();
  std::vector<std::uint32_t> white(100 * 100, 0xFFFFFF);
  std::string caption;
  TRect box{};
  std::uint32_t centreBefore = 0, centreAfter = 0, outside = 0;
  int passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    ++passes;
    if (passes == 2) {
      caption = d.Caption();
      box = d.BoxRect();
      centreBefore = Shown(f).Pixel((box.Left + box.Right) / 2, box.Top + 8);
      // Something else shows a new picture where the box stands.
      ShowWindowImage(f->Handle(), white.data(), 100, 100, 400);
      centreAfter = Shown(f).Pixel((box.Left + box.Right) / 2, box.Top + 8);
      outside = Shown(f).Pixel(2, 2);
      auto& m = dynamic_cast<TMessageBox&>(d);
      // Answer with a click on the second button.
      const TRect b = m.ButtonRect(1);
      hb->MoveMouse(f->Handle(), box.Left + b.Left + 5, box.Top + b.Top + 5);
      hb->PressMouse(f->Handle(), 1);
      hb->ReleaseMouse(f->Handle(), 1);
    }
  };
  EXPECT_EQ(MessageDlg("セーブしますか？", mtConfirmation, {mbYes, mbNo}, 0), mrNo);
  EXPECT_EQ(caption, "確認");
  EXPECT_GT(box.Left, 0);
  EXPECT_EQ(centreBefore, centreAfter);  // the caption band is still there
  EXPECT_EQ(outside, 0xFFFFFFu);         // the new picture shows around it
  // Gone once answered: the picture beneath shows again.
  EXPECT_FALSE(f->HasOverlays());
  const TWindowImage& beneath = f->Image();
  EXPECT_EQ(Shown(f).pixels, beneath.Pixels);
}

TEST_F(WidgetTest, ShowMessageIsCaptionedWithTheTitleAndFallsBackToTheSystemBoxWithoutWindow) {
  TForm* f = MainForm();
  std::string caption, text;
  OnModalDialogPass = [&](TModalDialog& d) {
    auto& m = dynamic_cast<TMessageBox&>(d);
    caption = m.Caption();
    text = m.Text();
    EXPECT_EQ(m.ButtonCount(), 1);
    m.Choose(mrOk);
  };
  ShowMessage("1行にエラーがあります。");
  EXPECT_EQ(caption, "Quilletエディター");
  EXPECT_EQ(text, "1行にエラーがあります。");
  f->Hide();
  OnModalDialogPass = nullptr;
  ShowMessage("no window");
  ASSERT_EQ(hb->MessageBoxes().size(), 1u);
  EXPECT_EQ(hb->MessageBoxes()[0].text, "no window");
  EXPECT_EQ(hb->MessageBoxes()[0].title, "Quilletエディター");
}

namespace {

struct TempFolder {
  std::filesystem::path path;
  TempFolder() {
    path = std::filesystem::temp_directory_path() /
           ("widgets-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path / "sub");
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  void Touch(const std::string& name) { std::ofstream(path / name) << "1000,1\r\n"; }
  std::string Dir() const { return path.string() + "/"; }
};

}  // namespace

TEST_F(WidgetTest, OpenDialogListsTheFolderAndGivesAFullPath) {
  TForm* f = MainForm();
  TempFolder dir;
  dir.Touch("stage2.txt");
  dir.Touch("Stage1.txt");
  dir.Touch(".hidden");
  auto* od = new TOpenDialog(f);
  od->InitialDir = dir.Dir();
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& Done) { ++idles; };
  std::vector<std::string> listed;
  int passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    auto& box = dynamic_cast<TOpenDialogBox&>(d);
    listed = box.Files();
    ++passes;
    if (passes == 2) hb->PressKey(kScDown);  // the first file
    if (passes == 3) hb->PressKey(kScDown);  // the second
    if (passes == 4) hb->PressKey(kScReturn);
  };
  ASSERT_TRUE(od->Execute());
  EXPECT_EQ(listed, (std::vector<std::string>{"Stage1.txt", "stage2.txt"}));
  EXPECT_EQ(od->FileName, dir.Dir() + "stage2.txt");
  EXPECT_EQ(idles, 0);
  // Cancelling gives false and keeps the name.
  OnModalDialogPass = [&](TModalDialog& d) { dynamic_cast<TOpenDialogBox&>(d).Cancel(); };
  EXPECT_FALSE(od->Execute());
  EXPECT_EQ(od->FileName, dir.Dir() + "stage2.txt");
  // A folder typed into the field opens; a name typed there is taken as it is.
  OnModalDialogPass = [&](TModalDialog& d) {
    auto& box = dynamic_cast<TOpenDialogBox&>(d);
    if (box.Folder() == dir.Dir()) {
      box.SetFileNameText("sub");
      box.Accept();
    } else {
      box.SetFileNameText("new.txt");
      box.Accept();
    }
  };
  ASSERT_TRUE(od->Execute());
  EXPECT_EQ(od->FileName, dir.Dir() + "sub/new.txt");
}

TEST_F(WidgetTest, OpenDialogTakesTypedTextAndDoubleClicks) {
  TForm* f = MainForm();
  TempFolder dir;
  dir.Touch("a.txt");
  dir.Touch("b.txt");
  auto* od = new TOpenDialog(f);
  od->InitialDir = dir.Dir();
  int passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    if (++passes == 2) {
      hb->TypeText("b.t");
      hb->TypeText("xt");
      hb->PressKey(kScReturn);
    }
  };
  ASSERT_TRUE(od->Execute());
  EXPECT_EQ(od->FileName, dir.Dir() + "b.txt");
  passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    auto& box = dynamic_cast<TOpenDialogBox&>(d);
    if (++passes != 2) return;
    const TRect r = box.BoxRect(), l = box.ListRect();
    const int x = r.Left + l.Left + 20, y = r.Top + l.Top + 2 + 4;  // the first row
    hb->MoveMouse(f->Handle(), x, y);
    for (int i = 0; i < 2; ++i) {
      hb->PressMouse(f->Handle(), 1);
      hb->ReleaseMouse(f->Handle(), 1);
    }
  };
  ASSERT_TRUE(od->Execute());
  EXPECT_EQ(od->FileName, dir.Dir() + "a.txt");
}

TEST_F(WidgetTest, ClosingTheWindowUnderTheOpenDialogEndsTheProgram) {
  TForm* f = MainForm();
  auto* od = new TOpenDialog(f);
  int closeQueries = 0;
  f->OnCloseQuery = [&](TObject*, bool&) { ++closeQueries; };
  OnModalDialogPass = [&](TModalDialog&) { hb->ClickCloseBox(f->Handle()); };
  EXPECT_THROW(od->Execute(), EAbort);
  EXPECT_EQ(closeQueries, 0);
  Application->ProcessMessages();
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(WidgetTest, MessageBoxIgnoresTheCloseBoxAndEndsWhenTheProgramQuits) {
  TForm* f = MainForm();
  int passes = 0;
  OnModalDialogPass = [&](TModalDialog& d) {
    ++passes;
    if (passes == 2) hb->ClickCloseBox(f->Handle());
    if (passes == 5) {
      EXPECT_FALSE(d.Ended());
    }
    if (passes == 6) Application->Terminate();
  };
  EXPECT_EQ(MessageDlg("?", mtConfirmation, {mbYes, mbNo}, 0), mrNo);
  Application->ProcessMessages();
  EXPECT_TRUE(Application->Terminated());
}
