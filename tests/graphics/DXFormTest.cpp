#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/graphics/DXClass.h"
#include "platform/backend/HeadlessBackend.h"
#include "support/HeadlessApp.h"

using backend::HeadlessBackend;

namespace {

// A control whose own window procedure writes to the log, so the end of every chain shows.
class TLoggedControl : public TWinControl {
 public:
  TLoggedControl(TComponent* AOwner, std::vector<std::string>* Log)
      : TWinControl(AOwner), FLog(Log) {}
  void Dispatch(TMessage& Message) override {
    if (Message.Msg == WM_USER) FLog->push_back("control");
    TWinControl::Dispatch(Message);
  }

 private:
  std::vector<std::string>* FLog;
};

TControlSubClassProc Logger(std::vector<std::string>* log, const std::string& name) {
  return [log, name](TMessage& m, TWndMethod next) {
    if (m.Msg == WM_USER) log->push_back(name);
    next(m);
  };
}

class HookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessBackend::InstallFresh();
    control = new TLoggedControl(nullptr, &log);
  }
  void TearDown() override { delete control; }
  std::vector<std::string> Send() {
    log.clear();
    control->Perform(WM_USER, 0, 0);
    return log;
  }
  std::vector<std::string> log;
  TLoggedControl* control = nullptr;
};

using Log = std::vector<std::string>;

}  // namespace

TEST_F(HookTest, HooksChainNewestFirstAndMayStopAMessage) {
  auto* a = new TControlSubClass(control, Logger(&log, "a"));
  auto* b = new TControlSubClass(control, Logger(&log, "b"));
  EXPECT_EQ(Send(), (Log{"b", "a", "control"}));
  EXPECT_EQ(a->Control(), control);
  // A handler that does not pass the message on keeps it from those below.
  auto* stop = new TControlSubClass(control, [this](TMessage& m, TWndMethod) {
    if (m.Msg == WM_USER) log.push_back("stop");
  });
  EXPECT_EQ(Send(), (Log{"stop"}));
  delete stop;
  delete b;
  delete a;
  EXPECT_EQ(Send(), (Log{"control"}));
}

TEST_F(HookTest, RemovingHooksInAnyOrderKeepsTheRestOfTheChain) {
  for (int order = 0; order < 6; ++order) {
    std::vector<std::unique_ptr<TControlSubClass>> hooks;
    for (const char* n : {"1", "2", "3"})
      hooks.emplace_back(new TControlSubClass(control, Logger(&log, n)));
    static const int kOrders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                      {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    Log alive{"3", "2", "1"};
    for (int k : kOrders[order]) {
      hooks[k].reset();
      std::erase(alive, std::to_string(k + 1));
      Log want = alive;
      want.push_back("control");
      EXPECT_EQ(Send(), want) << "order " << order << " after removing hook " << k + 1;
    }
  }
}

TEST_F(HookTest, AHookThatOutlivesItsControlLeavesItAlone) {
  auto* early = new TControlSubClass(control, Logger(&log, "early"));
  auto* late = new TControlSubClass(control, Logger(&log, "late"));
  delete control;
  control = nullptr;
  // Neither removal may reach into the freed control (the sanitizer build would see it).
  delete early;
  delete late;
  control = new TLoggedControl(nullptr, &log);
}

TEST_F(HookTest, AHandlerMayReplaceItsOwnHookWhileItRuns) {
  // The sound component re-hooks its form from inside the hook's own handler.
  TControlSubClass* hook = nullptr;
  int replaced = 0;
  std::function<void(TMessage&, TWndMethod)> rehook = [&](TMessage& m, TWndMethod next) {
    next(m);
    if (m.Msg == WM_USER) log.push_back("hook");
    if (m.Msg == WM_CREATE) {
      delete hook;  // the hook that is running this handler
      hook = new TControlSubClass(control, rehook);
      ++replaced;
    }
  };
  hook = new TControlSubClass(control, rehook);
  control->Perform(WM_CREATE, 0, 0);
  control->Perform(WM_CREATE, 0, 0);
  EXPECT_EQ(replaced, 2);
  EXPECT_EQ(Send(), (Log{"control", "hook"}));  // one hook, not a pile of them
  delete hook;
  EXPECT_EQ(Send(), (Log{"control"}));
}

namespace {

class DXFormTest : public HeadlessAppTest {
 protected:
  static bool AppIsToolWindow() {
    return (GetWindowLong(Application->Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
  }
};

}  // namespace

TEST_F(DXFormTest, LiveFormsKeepTheApplicationWindowOffTheTaskbar) {
  const int before = LiveFormCount;
  EXPECT_FALSE(AppIsToolWindow());
  auto* a = TCustomForm::Create<TDXForm>(nullptr);
  auto* b = TCustomForm::Create<TDXForm>(nullptr);
  EXPECT_EQ(LiveFormCount, before + 2);
  EXPECT_TRUE(AppIsToolWindow());
  // The form window itself is the application's window on the taskbar.
  EXPECT_NE(GetWindowLong(a->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  a->Free();
  EXPECT_TRUE(AppIsToolWindow());
  b->Free();
  EXPECT_FALSE(AppIsToolWindow());
  EXPECT_EQ(LiveFormCount, before);
  // Only the extended style bit of the tool window comes and goes.
  SetWindowLong(Application->Handle(), GWL_EXSTYLE, WS_EX_TOPMOST);
  auto* c = TCustomForm::Create<TDXForm>(nullptr);
  EXPECT_EQ(GetWindowLong(Application->Handle(), GWL_EXSTYLE), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  c->Free();
  EXPECT_EQ(GetWindowLong(Application->Handle(), GWL_EXSTYLE), WS_EX_TOPMOST);
  SetWindowLong(Application->Handle(), GWL_EXSTYLE, 0);
}

TEST_F(DXFormTest, MinimiseActsOnTheFormWindow) {
  TDXForm* main = nullptr;
  Application->CreateForm(main);
  main->Show();
  TDXForm* other = nullptr;
  Application->CreateForm(other);
  other->Show();
  ASSERT_NE(main, other);

  other->Perform(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_EQ(other->WindowState(), wsMinimized);  // at once, not when the system reports it
  EXPECT_TRUE(hb->IsMinimized(other->Handle()));

  // Any other command is the form's ordinary business: here the main form's minimise through
  // the application, which only hears of the window state when the system reports it.
  main->Perform(WM_SYSCOMMAND, SC_MINIMIZE | 2, 0);
  EXPECT_EQ(main->WindowState(), wsNormal);
  EXPECT_TRUE(hb->IsMinimized(main->Handle()));
  Application->ProcessMessages();
  EXPECT_EQ(main->WindowState(), wsMinimized);
  hb->RestoreWindow(main->Handle());
  Application->ProcessMessages();
  EXPECT_EQ(main->WindowState(), wsNormal);
  main->Perform(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_EQ(main->WindowState(), wsMinimized);
}

TEST_F(DXFormTest, TheFormsWindowEndIsHeardByItsHooksBeforeItsComponentsGo) {
  // A display component hooks its form and finalises on WM_DESTROY: it must still stand then.
  struct TUser : public TComponent {
    using TComponent::TComponent;
    ~TUser() override { delete Hook; }
    TControlSubClass* Hook = nullptr;
    std::vector<std::string>* Log = nullptr;
  };
  std::vector<std::string> log;
  auto* form = TCustomForm::Create<TDXForm>(nullptr);
  auto* user = new TUser(form);
  user->Log = &log;
  user->Hook = new TControlSubClass(form, [user](TMessage& m, TWndMethod next) {
    if (m.Msg == WM_DESTROY) user->Log->push_back("destroy seen");
    next(m);
  });
  form->OnDestroy = [&](TObject*) { log.push_back("OnDestroy"); };
  form->HandleNeeded();
  form->Free();
  EXPECT_EQ(log, (std::vector<std::string>{"OnDestroy", "destroy seen"}));
}
