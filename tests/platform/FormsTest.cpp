#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/backend/HeadlessBackend.h"
#include "platform/ddraw/DDraw.h"
#include "platform/forms/AppEvnts.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "support/HeadlessApp.h"

using backend::HeadlessBackend;

namespace {

class AppTest : public HeadlessAppTest {
 protected:
  void SetUp() override {
    HeadlessAppTest::SetUp();
    Application->SetTitle("iMorvane");
  }
  // A shown main form, its first messages (focus, paint) handled.
  TForm* MainForm(const std::string& caption = "Morvane") {
    TForm* f = nullptr;
    Application->CreateForm(f);
    f->SetCaption(caption);
    f->SetBounds(100, 50, 359, 603);
    f->Show();
    Application->ProcessMessages();
    return f;
  }
};

// A windowed child that records its mouse traffic.
class TProbe : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  std::vector<std::string> Log;
  void Note(const std::string& s) { Log.push_back(s); }
};

std::string Pt(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }

}  // namespace

TEST_F(AppTest, IdleRunsWithDonePresetAndBlocksOnlyWhenLeftSet) {
  TForm* f = MainForm();
  int calls = 0;
  bool leaveDone = true;
  std::vector<bool> seen;
  Application->OnIdle = [&](TObject*, bool& Done) {
    seen.push_back(Done);
    Done = leaveDone;
    ++calls;
  };
  const auto t0 = hb->Milliseconds();
  ASSERT_TRUE(Application->Step());
  EXPECT_EQ(calls, 1);
  // Done left set: the loop waits for the next message (here: time passes).
  EXPECT_GT(hb->Milliseconds(), t0);

  leaveDone = false;
  Application->Step();
  const auto t1 = hb->Milliseconds();
  Application->Step();
  Application->Step();
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(hb->Milliseconds(), t1);   // cleared: straight back, no waiting
  for (bool d : seen) EXPECT_TRUE(d);  // preset before every call

  // A waiting message is handled before the next idle pass.
  std::vector<WORD> keys;
  f->OnKeyDown = [&](TObject*, WORD& Key, TShiftState) { keys.push_back(Key); };
  hb->PressKey(29);  // Z
  Application->Step();
  EXPECT_EQ(keys, std::vector<WORD>{'Z'});
  EXPECT_EQ(calls, 4);
  Application->Step();
  EXPECT_EQ(calls, 5);
}

TEST_F(AppTest, ApplicationEventsShareTheDoneFlag) {
  MainForm();
  auto* a = new TApplicationEvents(Application);
  auto* b = new TApplicationEvents(Application);
  std::vector<std::string> order;
  a->OnIdle = [&](TObject*, bool& Done) {
    order.push_back("a");
    Done = false;
  };
  b->OnIdle = [&](TObject*, bool& Done) { order.push_back(Done ? "b:set" : "b:clear"); };
  Application->RunUntil([&] { return !order.empty(); });
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b:clear"}));
  EXPECT_FALSE(Application->LastIdleDone());
  delete a;  // a freed component no longer hears idle events
  order.clear();
  Application->RunUntil([&] { return !order.empty(); });
  EXPECT_EQ(order, (std::vector<std::string>{"b:set"}));
  delete b;
}

TEST_F(AppTest, ErrorsLeavingHandlersAreShownCaptionedWithTheTitle) {
  TForm* f = MainForm();
  int calls = 0;
  Application->OnIdle = [&](TObject*, bool& Done) {
    if (++calls == 1) throw EZeroDivide("Floating point division by zero");
    Done = false;
  };
  Application->RunUntil([&] { return calls >= 1; });
  ASSERT_EQ(hb->MessageBoxes().size(), 1u);
  const auto& box = hb->MessageBoxes()[0];
  EXPECT_EQ(box.title, "iMorvane");
  EXPECT_EQ(box.text, "Floating point division by zero");
  EXPECT_EQ(box.kind, backend::MessageBoxDesc::Kind::Error);
  EXPECT_EQ(box.buttons.size(), 1u);
  EXPECT_TRUE(Application->LastIdleDone());  // the failed pass leaves Done set
  EXPECT_EQ(calls, 1);                       // the box itself ran no idle pass
  Application->RunUntil([&] { return calls >= 3; });
  EXPECT_EQ(calls, 3);  // the loop goes on
  EXPECT_EQ(hb->MessageBoxes().size(), 1u);

  // From a message handler, and not of the class library's own family.
  f->OnMouseDown = [](TObject*, TMouseButton, TShiftState, int, int) {
    throw std::runtime_error("boom");
  };
  hb->MoveMouse(f->Handle(), 10, 10);
  hb->PressMouse(f->Handle(), 1);
  hb->ReleaseMouse(f->Handle(), 1);
  Pump();
  ASSERT_EQ(hb->MessageBoxes().size(), 2u);
  EXPECT_EQ(hb->MessageBoxes()[1].text, "boom");

  // EAbort ends what was going on without a word.
  f->OnMouseDown = [](TObject*, TMouseButton, TShiftState, int, int) { throw EAbort("quiet"); };
  hb->PressMouse(f->Handle(), 1);
  hb->ReleaseMouse(f->Handle(), 1);
  Pump();
  EXPECT_EQ(hb->MessageBoxes().size(), 2u);

  // An OnException handler takes the report instead of the box.
  auto* ev = new TApplicationEvents(f);
  std::string got;
  ev->OnException = [&](TObject*, Exception* E) {
    got = std::string(E->ClassName()) + ": " + E->Message;
  };
  f->OnMouseDown = [](TObject*, TMouseButton, TShiftState, int, int) {
    throw EInvalidOp("Invalid floating point operation");
  };
  hb->PressMouse(f->Handle(), 1);
  hb->ReleaseMouse(f->Handle(), 1);
  Pump();
  EXPECT_EQ(got, "EInvalidOp: Invalid floating point operation");
  EXPECT_EQ(hb->MessageBoxes().size(), 2u);
}

TEST_F(AppTest, CloseInsideAHandlerTakesEffectInTheLoop) {
  TForm* f = MainForm();
  std::vector<std::string> log;
  bool destroyed = false;
  f->OnCloseQuery = [&](TObject*, bool& CanClose) { log.push_back("query"); };
  f->OnClose = [&](TObject*, TCloseAction& Action) { log.push_back("close"); };
  f->OnDestroy = [&](TObject*) { destroyed = true; };
  int calls = 0;
  Application->OnIdle = [&](TObject*, bool& Done) {
    ++calls;
    if (calls == 2) {
      f->Close();
      // The close question ran at once, and the form is still whole.
      log.push_back("after");
      EXPECT_EQ(f->Caption(), "Morvane");
    }
    Done = false;
  };
  EXPECT_FALSE(Application->RunUntil([] { return false; }, 100));
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(calls, 2);  // no idle pass after the close
  EXPECT_EQ(log, (std::vector<std::string>{"query", "close", "after"}));
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(Application->MainForm(), f);
}

TEST_F(AppTest, CloseCanBeRefusedAndAnswersTheCloseBox) {
  TForm* f = MainForm();
  bool allow = false;
  f->OnCloseQuery = [&](TObject*, bool& CanClose) { CanClose = allow; };
  hb->ClickCloseBox(f->Handle());
  Application->ProcessMessages();
  EXPECT_FALSE(Application->Terminated());
  hb->RequestQuit();  // the system asking the program to end goes through the main form too
  Application->ProcessMessages();
  EXPECT_FALSE(Application->Terminated());
  allow = true;
  hb->ClickCloseBox(f->Handle());
  Application->ProcessMessages();
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(AppTest, AFormFreedOnCloseGoesOnceItsHandlerReturned) {
  MainForm();
  TForm* dialog = nullptr;
  Application->CreateForm(dialog);
  dialog->Show();
  bool destroyed = false;
  dialog->OnClose = [](TObject*, TCloseAction& Action) { Action = caFree; };
  dialog->OnDestroy = [&](TObject*) { destroyed = true; };
  dialog->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) {
    dialog->Close();
    EXPECT_FALSE(destroyed);
    dialog->SetCaption("still here");
  };
  const HWND h = dialog->Handle();
  hb->MoveMouse(h, 5, 5);
  hb->PressMouse(h, 1);
  Application->ProcessMessages();
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(Application->Terminated());
  EXPECT_FALSE(hb->WindowExists(h));
  hb->ReleaseMouse(h, 1);  // for a window that is gone: nothing happens
  Application->ProcessMessages();
}

TEST_F(AppTest, MovingTheWindowPausesIdleBetweenEnterAndExitSizeMove) {
  TForm* f = MainForm();
  std::vector<UINT> msgs;
  TWndMethod old = f->WindowProc;
  f->WindowProc = [&](TMessage& m) {
    if (m.Msg == WM_ENTERSIZEMOVE || m.Msg == WM_EXITSIZEMOVE) msgs.push_back(m.Msg);
    old(m);
  };
  int calls = 0;
  Application->OnIdle = [&](TObject*, bool& Done) {
    ++calls;
    Done = false;
  };
  Application->Step();
  const int before = calls;
  hb->BeginMoveSize(f->Handle());
  Application->Step();
  ASSERT_EQ(msgs, std::vector<UINT>{WM_ENTERSIZEMOVE});
  EXPECT_TRUE(Application->InSizeMove());
  for (int i = 0; i < 5; ++i) Application->Step();
  EXPECT_EQ(calls, before);  // paused while the user drags
  // The user puts the window elsewhere.
  int l, t, w, h;
  hb->GetWindowBounds(f->Handle(), l, t, w, h);
  hb->SetWindowBounds(f->Handle(), l + 40, t + 30, w, h);
  hb->EndMoveSize(f->Handle());
  Application->Step();
  EXPECT_EQ(msgs, (std::vector<UINT>{WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE}));
  EXPECT_EQ(f->Left(), 140);
  EXPECT_EQ(f->Top(), 80);
  Application->Step();
  EXPECT_EQ(calls, before + 1);
  f->WindowProc = old;
}

TEST_F(AppTest, CaptionedWindowMetricsAndScreenCoordinates) {
  TForm* f = MainForm();
  // The editor's 359 x 603 window holds its whole 100 x 569 lane.
  EXPECT_EQ(f->ClientWidth(), 349);
  EXPECT_EQ(f->ClientHeight(), 569);
  auto* child = new TProbe(f);
  child->SetParent(f);
  child->SetBounds(0, 0, 100, 569);
  // The client area starts at (Left + 5, Top + 32): where the editor expects its lane.
  EXPECT_EQ(child->ClientOrigin(), (TPoint{105, 82}));
  const auto* info = hb->Info(f->Handle());
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->left, 105);
  EXPECT_EQ(info->top, 82);
  EXPECT_EQ(info->width, 349);
  EXPECT_EQ(info->height, 569);
  EXPECT_EQ(info->title, "Morvane");
  hb->MoveMouse(f->Handle(), 10, 20);
  TPoint p;
  GetCursorPos(p);
  EXPECT_EQ(p, (TPoint{115, 102}));
  EXPECT_EQ((TPoint{p.X - (f->Left() + 5), p.Y - (f->Top() + 32)}), (TPoint{10, 20}));
  TPoint q{3, 4};
  ClientToScreen(child->Handle(), q);
  EXPECT_EQ(q, (TPoint{108, 86}));

  // Without a border the client area is the whole window.
  f->SetBorderStyle(bsNone);
  EXPECT_EQ(f->ClientWidth(), 349);  // the client keeps its size
  EXPECT_EQ(f->Width(), 349);
  EXPECT_EQ(f->ClientOrigin(), (TPoint{100, 50}));
  EXPECT_TRUE(hb->Info(f->Handle())->borderless);
  EXPECT_TRUE(hb->Info(f->Handle())->visible);
}

TEST_F(AppTest, MouseGoesToTheControlUnderItAndStaysWhileHeld) {
  TForm* f = MainForm();
  auto* probe = new TProbe(f);
  probe->SetParent(f);
  probe->SetBounds(10, 10, 100, 50);
  probe->OnMouseDown = [&](TObject*, TMouseButton b, TShiftState s, int x, int y) {
    probe->Note("down " + Pt(x, y) + (b == mbLeft && s.Contains(ssLeft) ? " left" : ""));
  };
  probe->OnMouseMove = [&](TObject*, TShiftState, int x, int y) {
    probe->Note("move " + Pt(x, y));
  };
  probe->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int x, int y) {
    probe->Note("up " + Pt(x, y));
  };
  probe->OnClick = [&](TObject*) { probe->Note("click"); };
  std::vector<std::string> formLog;
  f->OnMouseDown = [&](TObject*, TMouseButton b, TShiftState, int x, int y) {
    formLog.push_back("down " + Pt(x, y) + (b == mbRight ? " right" : ""));
  };
  const HWND h = f->Handle();
  hb->MoveMouse(h, 20, 20);
  hb->PressMouse(h, 1);
  hb->MoveMouse(h, 200, 200);  // outside, but the probe has the mouse
  hb->ReleaseMouse(h, 1);
  hb->PressMouse(h, 3);  // over the form now
  hb->ReleaseMouse(h, 3);
  hb->MoveMouse(h, 30, 40);
  hb->PressMouse(h, 1);
  hb->ReleaseMouse(h, 1);
  Application->ProcessMessages();
  EXPECT_EQ(probe->Log,
            (std::vector<std::string>{"move 10,10", "down 10,10 left", "move 190,190", "up 190,190",
                                      "move 20,30", "down 20,30 left", "up 20,30", "click"}));
  EXPECT_EQ(formLog, (std::vector<std::string>{"down 200,200 right"}));
  // A disabled control lets the mouse through to its parent.
  probe->SetEnabled(false);
  hb->PressMouse(h, 1);
  hb->ReleaseMouse(h, 1);
  Application->ProcessMessages();
  EXPECT_EQ(formLog.back(), "down 30,40");
}

TEST_F(AppTest, KeyPreviewLetsTheFormSeeKeysFirst) {
  TForm* f = MainForm();
  auto* probe = new TProbe(f);
  probe->SetParent(f);
  probe->SetBounds(0, 0, 10, 10);
  probe->SetFocus();
  EXPECT_EQ(f->ActiveControl, probe);
  std::vector<std::string> log;
  auto letter = [](WORD k) { return k >= 'A' && k <= 'Z'; };
  f->OnKeyDown = [&](TObject*, WORD& Key, TShiftState s) {
    if (!letter(Key)) return;
    log.push_back(std::string("form ") + static_cast<char>(Key) +
                  (s.Contains(ssShift) ? "+shift" : ""));
    if (Key == 'Z') Key = 0;
  };
  probe->OnKeyDown = [&](TObject*, WORD& Key, TShiftState) {
    if (letter(Key)) log.push_back(std::string("probe ") + static_cast<char>(Key));
  };
  f->OnKeyUp = [&](TObject*, WORD& Key, TShiftState) {
    if (letter(Key)) log.push_back("form up");
  };
  hb->PressKey(27);  // X: without preview only the focused control sees it
  hb->ReleaseKey(27);
  Application->ProcessMessages();
  f->KeyPreview = true;
  hb->PressKey(225, backend::kModLShift);  // shift
  hb->PressKey(27, backend::kModLShift);   // X
  hb->PressKey(29, backend::kModLShift);   // Z, taken by the form
  hb->ReleaseKey(29, backend::kModLShift);
  Application->ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"probe X", "form X+shift", "probe X", "form Z+shift",
                                           "form up"}));
}

TEST_F(AppTest, FormsReadTheirStoredDataAndBindHandlers) {
  class TStoredForm : public TForm {
   public:
    explicit TStoredForm(TComponent* AOwner) : TForm(AOwner) {
      RegisterMethod("FormCreate", this, &TStoredForm::FormCreate);
      RegisterMethod("AE1Idle", this, &TStoredForm::AE1Idle);
      RegisterField("AE1", AE1);
    }
    const char* ClassName() const override { return "TStoredForm"; }
    void FormCreate(TObject* Sender) { CreatedWidth = ClientWidth(); }
    void AE1Idle(TObject* Sender, bool& Done) {
      ++Idles;
      Done = false;
    }
    TApplicationEvents* AE1 = nullptr;
    int CreatedWidth = -1;
    int Idles = 0;
  };
  RegisterFormResource("TStoredForm",
                       "object Form1: TStoredForm\n"
                       "  ClientWidth = 512\n"  // before the border style: still the client
                       "  ClientHeight = 448\n"
                       "  BorderStyle = bsNone\n"
                       "  Caption = 'Morvane'\n"
                       "  Position = poScreenCenter\n"
                       "  OnCreate = FormCreate\n"
                       "  object AE1: TApplicationEvents\n"
                       "    OnIdle = AE1Idle\n"
                       "  end\n"
                       "end\n");
  TStoredForm* f = nullptr;
  Application->CreateForm(f);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Application->MainForm(), f);
  EXPECT_EQ(f->CreatedWidth, 512);  // OnCreate ran after the whole form was read
  EXPECT_EQ(f->Width(), 512);
  EXPECT_EQ(f->Height(), 448);
  ASSERT_NE(f->AE1, nullptr);
  f->Show();
  EXPECT_EQ(f->Left(), (HeadlessBackend::kScreenWidth - 512) / 2);
  EXPECT_EQ(f->Top(), (HeadlessBackend::kScreenHeight - 448) / 2);
  Application->RunUntil([&] { return f->Idles >= 3; });
  EXPECT_EQ(f->Idles, 3);
}

TEST_F(AppTest, ShowingAndPaintingTheWindow) {
  TForm* f = nullptr;
  Application->CreateForm(f);
  f->SetBorderStyle(bsNone);
  f->SetBounds(0, 0, 40, 30);
  std::vector<std::string> log;
  TWndMethod old = f->WindowProc;
  f->WindowProc = [&](TMessage& m) {
    if (m.Msg == WM_WINDOWPOSCHANGED) {
      auto* wp = reinterpret_cast<WINDOWPOS*>(m.LParam);
      log.push_back((wp->flags & SWP_SHOWWINDOW) ? "shown" : "hidden");
    }
    if (m.Msg == WM_CREATE) log.push_back("create");
    old(m);
  };
  f->OnShow = [&](TObject*) { log.push_back("OnShow"); };
  f->HandleNeeded();
  EXPECT_FALSE(hb->Info(f->Handle())->visible);  // made, not shown
  f->Show();
  EXPECT_EQ(log, (std::vector<std::string>{"create", "OnShow", "shown"}));
  EXPECT_TRUE(hb->Info(f->Handle())->visible);

  auto* probe = new TProbe(f);
  probe->SetParent(f);
  probe->SetBounds(10, 5, 4, 3);
  // The child shows its own picture; the form's background leaves it alone.
  std::vector<std::uint32_t> red(4 * 3, 0xFF0000);
  ShowWindowImage(probe->Handle(), red.data(), 4, 3, 16);
  hb->PushEvent({backend::EventType::Exposed, static_cast<backend::WindowId>(f->Handle())});
  Application->ProcessMessages();
  const auto* frame = hb->LastFrame(f->Handle());
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->width, 40);
  const auto face = static_cast<std::uint32_t>(ColorToRGB(clBtnFace));
  const std::uint32_t facePixel = ((face & 0xFF) << 16) | (face & 0xFF00) | ((face >> 16) & 0xFF);
  EXPECT_EQ(frame->Pixel(0, 0), facePixel);
  EXPECT_EQ(frame->Pixel(39, 29), facePixel);
  EXPECT_EQ(frame->Pixel(10, 5), 0xFF0000u);
  EXPECT_EQ(frame->Pixel(13, 7), 0xFF0000u);
  EXPECT_EQ(frame->Pixel(14, 7), facePixel);

  // A child that reaches out of the form is cut at its edge.
  probe->SetBounds(38, 28, 4, 3);
  ShowWindowImage(probe->Handle(), red.data(), 4, 3, 16);
  frame = hb->LastFrame(f->Handle());
  EXPECT_EQ(frame->Pixel(39, 29), 0xFF0000u);

  f->Hide();
  EXPECT_EQ(log.back(), "hidden");
  EXPECT_FALSE(hb->Info(f->Handle())->visible);
  f->WindowProc = old;
}

TEST_F(AppTest, TheScreenShowsInTheControlsPartOfItsForm) {
  TForm* f = MainForm();
  auto* probe = new TProbe(f);
  probe->SetParent(f);
  probe->SetBounds(10, 20, 8, 6);
  IDirectDraw7* dd = nullptr;
  ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr),
            DD_OK);
  dd->SetCooperativeLevel(f->Handle(), DDSCL_NORMAL);
  DDSURFACEDESC2 d{};
  d.dwSize = kDDSurfaceDesc2Size;
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface7* primary = nullptr;
  ASSERT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
  IDirectDrawClipper* clip = nullptr;
  ASSERT_EQ(dd->CreateClipper(0, &clip, nullptr), DD_OK);
  clip->SetHWnd(0, probe->Handle());
  primary->SetClipper(clip);
  DDBLTFX fx{};
  fx.dwSize = kDDBltFXSize;
  fx.dwFillColor = 0x00FF00;
  RECT all = Bounds(0, 0, HeadlessBackend::kScreenWidth, HeadlessBackend::kScreenHeight);
  ASSERT_EQ(primary->Blt(&all, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
  const auto* frame = hb->LastFrame(f->Handle());
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Pixel(10, 20), 0x00FF00u);
  EXPECT_EQ(frame->Pixel(17, 25), 0x00FF00u);
  EXPECT_NE(frame->Pixel(18, 25), 0x00FF00u);
  EXPECT_NE(frame->Pixel(9, 20), 0x00FF00u);
  EXPECT_NE(frame->Pixel(10, 26), 0x00FF00u);
  clip->Release();
  primary->Release();
  dd->Release();
}

namespace {

// A form that tells, by the exit status, whether it was freed while the program was ending from
// inside one of its handlers.
class TExitingForm : public TForm {
 public:
  using TForm::TForm;
  ~TExitingForm() override {
    if (EndingFromHandler) std::_Exit(4);
  }
  static inline bool EndingFromHandler = false;
};

TEST_F(AppTest, ExitFromInsideAHandlerLeavesTheRunningFormsAlone) {
  // The X library ends the program from inside whatever call finds the display gone; the forms
  // in use on the stack must not be freed by the end-of-program clean-up under it.
  EXPECT_EXIT(
      {
        TExitingForm* f = nullptr;
        Application->CreateForm(f);
        f->SetCaption("Editor");
        auto* events = new TApplicationEvents(f);
        events->OnIdle = [](TObject*, bool&) {
          TExitingForm::EndingFromHandler = true;
          std::exit(3);
        };
        Application->Run();
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
