#include <gtest/gtest.h>

#include "platform/forms/Controls.h"
#include "platform/forms/Forms.h"
#include "support/HeadlessApp.h"

namespace {

// Paints like the display: each repaint asks its parent to repaint too.
class TSelfInvalidating : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  int Paints = 0;

 protected:
  void Paint() override {
    ++Paints;
    if (Parent() != nullptr) Parent()->Invalidate();
  }
};

using ControlsTest = HeadlessAppTest;

TForm* ShownForm(int clientWidth = 200, int clientHeight = 100) {
  TForm* f = nullptr;
  Application->CreateForm(f);
  f->SetBorderStyle(bsNone);
  f->SetClientWidth(clientWidth);
  f->SetClientHeight(clientHeight);
  f->Show();
  return f;
}

}  // namespace

TEST_F(ControlsTest, AParentRepaintDoesNotRepaintWindowedChildren) {
  TForm* f = ShownForm();
  auto* d = new TSelfInvalidating(f);
  d->SetParent(f);
  d->SetBounds(0, 0, 50, 50);
  int formPaints = 0;
  f->OnPaint = [&](TObject*) { ++formPaints; };
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& Done) {
    ++idles;
    Done = false;
  };
  // Were the parent's repaint to reach the child again, the two would repaint each other for
  // ever and the idle event would never come.
  ASSERT_TRUE(Application->RunUntil([&] { return idles >= 3; }, 1000));
  EXPECT_EQ(d->Paints, 1);
  EXPECT_EQ(formPaints, 2);  // once shown, once asked by the child
  // Exposing the window repaints everything once more.
  hb->PushEvent({backend::EventType::Exposed, static_cast<backend::WindowId>(f->Handle())});
  const int before = idles;
  ASSERT_TRUE(Application->RunUntil([&] { return idles >= before + 3; }, 1000));
  EXPECT_EQ(d->Paints, 2);
  EXPECT_EQ(formPaints, 4);
}

TEST_F(ControlsTest, AlignedChildrenFollowTheClientArea) {
  TForm* f = ShownForm(200, 100);
  auto* top = new TSelfInvalidating(f);
  top->SetParent(f);
  top->SetBounds(0, 0, 10, 20);
  top->SetAlign(alTop);
  auto* rest = new TSelfInvalidating(f);
  rest->SetParent(f);
  rest->SetAlign(alClient);
  EXPECT_EQ(top->BoundsRect(), Rect(0, 0, 200, 20));
  EXPECT_EQ(rest->BoundsRect(), Rect(0, 20, 200, 100));
  int resized = 0;
  rest->OnResize = [&](TObject*) { ++resized; };
  f->SetClientWidth(300);
  f->SetClientHeight(150);
  EXPECT_EQ(top->BoundsRect(), Rect(0, 0, 300, 20));
  EXPECT_EQ(rest->BoundsRect(), Rect(0, 20, 300, 150));
  EXPECT_EQ(resized, 2);
  top->Hide();  // a hidden control takes no room
  EXPECT_EQ(rest->BoundsRect(), Rect(0, 0, 300, 150));
}

TEST_F(ControlsTest, KeyAndButtonStatesComeFromTheMachine) {
  TForm* f = ShownForm();
  EXPECT_GE(GetKeyState(VK_SHIFT), 0);
  hb->PressKey(229);  // right shift
  EXPECT_LT(GetKeyState(VK_SHIFT), 0);
  hb->PressKey(4);  // A
  EXPECT_LT(GetKeyState('A'), 0);
  EXPECT_GE(GetKeyState('B'), 0);
  hb->MoveMouse(f->Handle(), 5, 5);
  hb->PressMouse(f->Handle(), 1);
  EXPECT_LT(GetKeyState(VK_LBUTTON), 0);
  EXPECT_GE(GetKeyState(VK_RBUTTON), 0);
  hb->PressMouse(f->Handle(), 3);
  EXPECT_LT(GetKeyState(VK_RBUTTON), 0);
  hb->ReleaseMouse(f->Handle(), 1);
  EXPECT_GE(GetKeyState(VK_LBUTTON), 0);
  hb->ReleaseKey(229);
  EXPECT_GE(GetKeyState(VK_SHIFT), 0);
  EXPECT_EQ(VirtualKeyFromScancode(81), VK_DOWN);
  EXPECT_EQ(VirtualKeyFromScancode(30), '1');
  EXPECT_EQ(VirtualKeyFromScancode(39), '0');
  EXPECT_EQ(VirtualKeyFromScancode(41), VK_ESCAPE);
  EXPECT_EQ(VirtualKeyFromScancode(0), 0);
}

TEST_F(ControlsTest, FocusActivatesTheFormAndItsHooksHearIt) {
  TForm* f = ShownForm();
  Pump();
  EXPECT_TRUE(f->Active());
  std::vector<WPARAM> activations;
  TWndMethod old = f->WindowProc;
  f->WindowProc = [&](TMessage& m) {
    if (m.Msg == WM_ACTIVATE) activations.push_back(LoWord(m.WParam));
    old(m);
  };
  int deactivated = 0;
  f->OnDeactivate = [&](TObject*) { ++deactivated; };
  hb->SetFocus(0);
  Pump();
  EXPECT_FALSE(f->Active());
  EXPECT_EQ(deactivated, 1);
  hb->SetFocus(static_cast<backend::WindowId>(f->Handle()));
  Pump();
  EXPECT_TRUE(f->Active());
  EXPECT_EQ(activations, (std::vector<WPARAM>{WA_INACTIVE, WA_ACTIVE}));
  f->WindowProc = old;
}

TEST_F(ControlsTest, SystemCommandsAndWindowStateReachTheWindow) {
  TForm* f = ShownForm();
  TForm* other = nullptr;
  Application->CreateForm(other);
  other->Show();
  other->SetWindowState(wsMinimized);
  EXPECT_TRUE(hb->IsMinimized(other->Handle()));
  other->SetWindowState(wsNormal);
  EXPECT_FALSE(hb->IsMinimized(other->Handle()));
  // The window manager's minimise is heard as a size message.
  hb->MinimizeWindow(other->Handle());
  Pump();
  EXPECT_EQ(other->WindowState(), wsMinimized);
  other->Perform(WM_SYSCOMMAND, SC_RESTORE, 0);
  Pump();
  EXPECT_EQ(other->WindowState(), wsNormal);
  // The close command closes through the loop, asking first.
  int asked = 0;
  f->OnCloseQuery = [&](TObject*, bool&) { ++asked; };
  f->Perform(WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(asked, 0);
  Application->Step();
  EXPECT_EQ(asked, 1);
  Application->Step();
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(ControlsTest, AControlFreedWhileItHasTheMouseLetsGo) {
  TForm* f = ShownForm();
  auto* c = new TSelfInvalidating(f);
  c->SetParent(f);
  c->SetBounds(0, 0, 50, 50);
  std::vector<std::string> formLog;
  f->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int x, int y) {
    formLog.push_back(std::to_string(x) + "," + std::to_string(y));
  };
  c->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { c->Free(); };
  hb->MoveMouse(f->Handle(), 10, 10);
  hb->PressMouse(f->Handle(), 1);
  hb->ReleaseMouse(f->Handle(), 1);
  Pump();
  EXPECT_EQ(GetCaptureControl(), nullptr);
  EXPECT_EQ(formLog, std::vector<std::string>{"10,10"});  // the release goes to what is left
  EXPECT_EQ(f->ControlCount(), 0);
}
