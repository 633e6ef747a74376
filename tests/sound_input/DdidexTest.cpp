#include <SDL_scancode.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "framework/sound_input/Ddidex.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"
#include "tests/support/FeedbackBackend.h"

namespace {

using backend::HeadlessBackend;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

class DdidexTest : public ::testing::Test {
 protected:
  void SetUp() override { Install(std::make_unique<HeadlessBackend>()); }
  void TearDown() override {
    delete input;
    if (form) form->Free();
    Ddidex::SetHaltHandler(nullptr);
    Ddidex::SetDebugLogFolder("");
    Ddidex::DebugCount = 0;
    HeadlessBackend::InstallFresh();
  }

  // A backend, and a focused form that owns the component (not yet initialised).
  void Install(std::unique_ptr<HeadlessBackend> b) {
    hb = b.get();
    backend::Backend::Install(std::move(b));
    form = TCustomForm::Create<TForm>(nullptr);
    hb->SetFocus(form->Handle());
    input = new TDDIDEX(form);
    input->DeadZone = 20;  // as the game stores it
  }

  void Press(int scancode) { hb->PressKey(scancode, 0, form->Handle()); }
  void Release(int scancode) { hb->ReleaseKey(scancode, 0, form->Handle()); }
  bool Poll() { return input->UpdateList({2, 0}); }

  HeadlessBackend* hb = nullptr;
  TForm* form = nullptr;
  TDDIDEX* input = nullptr;
};

TEST_F(DdidexTest, ArrowKeysAndZXReadAsAxesAndButtons) {
  input->Initialize();
  ASSERT_EQ(input->JoystickCount, 0);
  Press(SDL_SCANCODE_LEFT);
  Press(SDL_SCANCODE_UP);
  Press(SDL_SCANCODE_Z);
  // No pad: the keyboard read alone makes the poll succeed.
  ASSERT_TRUE(Poll());
  DIJOYSTATE s{};
  input->GetState(s);
  EXPECT_EQ(s.lX, -32767);
  EXPECT_EQ(s.lY, -32767);
  EXPECT_TRUE(input->ButtonDown(0));
  EXPECT_FALSE(input->ButtonDown(1));

  Release(SDL_SCANCODE_LEFT);
  Release(SDL_SCANCODE_UP);
  Release(SDL_SCANCODE_Z);
  Press(SDL_SCANCODE_RIGHT);
  Press(SDL_SCANCODE_DOWN);
  Press(SDL_SCANCODE_X);
  ASSERT_TRUE(Poll());
  input->GetState(s);
  EXPECT_EQ(s.lX, 32767);
  EXPECT_EQ(s.lY, 32767);
  EXPECT_FALSE(input->ButtonDown(0));
  EXPECT_TRUE(input->ButtonDown(1));

  Release(SDL_SCANCODE_RIGHT);
  Release(SDL_SCANCODE_DOWN);
  Release(SDL_SCANCODE_X);
  ASSERT_TRUE(Poll());
  input->GetState(s);
  EXPECT_EQ(s.lX, 0);
  EXPECT_EQ(s.lY, 0);
  for (int b = 0; b < 32; ++b) EXPECT_FALSE(input->ButtonDown(b)) << b;
}

TEST_F(DdidexTest, KeyMapsBothMapsAndOppositeKeys) {
  input->Initialize();
  struct Case {
    std::vector<int> keys;
    LONG x, y;
    std::set<int> buttons;
  };
  const Case cases[] = {
      {{SDL_SCANCODE_SPACE}, 0, 0, {0}},
      {{SDL_SCANCODE_ESCAPE}, 0, 0, {1}},
      {{SDL_SCANCODE_C, SDL_SCANCODE_D, SDL_SCANCODE_0}, 0, 0, {2, 5, 15}},
      {{SDL_SCANCODE_1, SDL_SCANCODE_9}, 0, 0, {6, 14}},
      {{SDL_SCANCODE_LEFT, SDL_SCANCODE_RIGHT}, 0, 0, {}},
      {{SDL_SCANCODE_UP, SDL_SCANCODE_DOWN, SDL_SCANCODE_RIGHT}, 32767, 0, {}},
      {{SDL_SCANCODE_KP_7}, -32767, -32767, {}},
      {{SDL_SCANCODE_KP_9}, 32767, -32767, {}},
      {{SDL_SCANCODE_KP_1}, -32767, 32767, {}},
      {{SDL_SCANCODE_KP_3}, 32767, 32767, {}},
      {{SDL_SCANCODE_KP_8, SDL_SCANCODE_KP_4}, -32767, -32767, {}},
      // Up-left and down-right together cancel on both axes.
      {{SDL_SCANCODE_KP_7, SDL_SCANCODE_KP_3}, 0, 0, {}},
      // Keys outside the maps do nothing.
      {{SDL_SCANCODE_Q, SDL_SCANCODE_RETURN}, 0, 0, {}},
  };
  for (const Case& c : cases) {
    for (int k : c.keys) Press(k);
    ASSERT_TRUE(Poll());
    EXPECT_EQ(input->State.lX, c.x) << c.keys[0];
    EXPECT_EQ(input->State.lY, c.y) << c.keys[0];
    std::set<int> down;
    for (int b = 0; b < 32; ++b)
      if (input->ButtonDown(b)) down.insert(b);
    EXPECT_EQ(down, c.buttons) << c.keys[0];
    for (int k : c.keys) Release(k);
  }
}

TEST_F(DdidexTest, EditedKeyMapsAreBoundsChecked) {
  input->Initialize();
  input->KeyMap1[0] = 300;  // past the key state
  input->KeyMap2[0] = -5;
  input->KeyMap1[32] = 1 << 20;
  input->KeyMap1[3] = DIK_Q;
  Press(SDL_SCANCODE_Q);
  ASSERT_TRUE(input->Update(0));
  EXPECT_FALSE(input->ButtonDown(0));
  EXPECT_TRUE(input->ButtonDown(3));
  EXPECT_EQ(input->State.lY, 0);
  // Initialize brings the defaults back.
  input->Initialize();
  EXPECT_EQ(input->KeyMap1[0], DIK_Z);
  EXPECT_EQ(input->KeyMap2[0], DIK_SPACE);
  EXPECT_EQ(input->KeyMap1[3], DIK_A);
  EXPECT_EQ(input->KeyMap1[32], DIK_UP);
  EXPECT_EQ(input->KeyMap1[36], 0);
  EXPECT_EQ(input->KeyMap2[39], DIK_NUMPAD3);
}

TEST_F(DdidexTest, PadReadFreshThenKeyboardMergedBitwise) {
  const auto pad = hb->PlugJoystick("Pad", 2, 4, 1);
  input->Initialize();
  ASSERT_EQ(input->JoystickCount, 1);
  EXPECT_EQ(input->JoystickNames->Strings(0), "Pad");
  hb->SetJoystickAxis(pad, 0, -32768);
  hb->SetJoystickButton(pad, 2, true);
  Press(SDL_SCANCODE_RIGHT);
  Press(SDL_SCANCODE_Z);
  ASSERT_TRUE(Poll());
  // -32768 or 32767 = -1: merging is a bitwise or, not a sum.
  EXPECT_EQ(input->State.lX, -1);
  EXPECT_EQ(input->State.lY, 0);
  EXPECT_TRUE(input->ButtonDown(0));
  EXPECT_TRUE(input->ButtonDown(2));
  EXPECT_FALSE(input->ButtonDown(1));
  // The pad alone replaces the whole record.
  ASSERT_TRUE(input->Update(2));
  EXPECT_EQ(input->State.lX, -32768);
  EXPECT_FALSE(input->ButtonDown(0));
  EXPECT_EQ(input->State.rgdwPOV[0], 0xFFFFFFFFu);
}

TEST_F(DdidexTest, DeadZoneCutsTheBandAndStretchesTheRest) {
  const auto pad = hb->PlugJoystick("Stick", 8, 0, 0);
  input->Initialize();
  auto read = [&](int zone, std::int16_t raw) {
    input->DeadZone = zone;
    for (int a = 0; a < 8; ++a) hb->SetJoystickAxis(pad, a, raw);
    EXPECT_TRUE(input->Update(2));
    const LONG v = input->State.lX;
    // Every axis and both sliders pass the same arithmetic.
    const LONG others[] = {input->State.lY,          input->State.lZ,  input->State.lRx,
                           input->State.lRy,         input->State.lRz, input->State.rglSlider[0],
                           input->State.rglSlider[1]};
    for (LONG o : others) EXPECT_EQ(o, v);
    return v;
  };
  EXPECT_EQ(read(20, 6553), 0);
  EXPECT_EQ(read(20, 6554), 1);
  EXPECT_EQ(read(20, 10000), 4308);
  EXPECT_EQ(read(20, 32767), 32767);
  EXPECT_EQ(read(20, -6553), 0);
  EXPECT_EQ(read(20, -6554), -1);
  EXPECT_EQ(read(20, -32768), -32768);
  EXPECT_EQ(read(30, 9830), 0);
  EXPECT_EQ(read(30, -9830), 0);
  EXPECT_EQ(read(0, 5), 5);
  EXPECT_EQ(read(0, -32768), -32768);
  EXPECT_EQ(read(100, 32767), 0);
  EXPECT_EQ(read(100, -32768), 0);
  EXPECT_EQ(read(250, 32767), 0);
}

TEST_F(DdidexTest, DeviceIndexesAndButtonsOutOfRangeReadAsAbsent) {
  input->Initialize();
  Press(SDL_SCANCODE_Z);
  ASSERT_TRUE(input->Update(0));
  for (int index : {2, 3, 17, 18, -1, 1000}) {
    input->State.lX = 77;
    EXPECT_FALSE(input->Update(index)) << index;
    // Replacing clears the record even when the read fails.
    EXPECT_EQ(input->State.lX, 0) << index;
  }
  EXPECT_FALSE(input->UpdateList(std::vector<int>{}));
  EXPECT_FALSE(input->UpdateList({5, 6}));

  input->State.rgbButtons[3] = 0x80;
  input->State.rgbButtons[4] = 0x7F;
  input->State.rgbButtons[5] = 0xFF;
  EXPECT_TRUE(input->ButtonDown(3));
  EXPECT_FALSE(input->ButtonDown(4));
  EXPECT_TRUE(input->ButtonDown(5));
  EXPECT_FALSE(input->ButtonDown(-1));
  EXPECT_FALSE(input->ButtonDown(32));

  // GetState copies axes, sliders and hats, never the buttons.
  input->State.lRz = 9;
  input->State.rgdwPOV[3] = 4500;
  DIJOYSTATE s;
  std::memset(&s, 0x11, sizeof s);
  input->GetState(s);
  EXPECT_EQ(s.lRz, 9);
  EXPECT_EQ(s.rgdwPOV[3], 4500u);
  EXPECT_EQ(s.rgbButtons[3], 0x11);
}

TEST_F(DdidexTest, SeveralPadsMergeAndMouseReadsItsAxes) {
  const auto a = hb->PlugJoystick("A", 2, 4, 0);
  const auto b = hb->PlugJoystick("B", 2, 4, 0);
  input->Initialize();
  ASSERT_EQ(input->JoystickCount, 2);
  hb->SetJoystickButton(a, 0, true);
  hb->SetJoystickButton(b, 3, true);
  hb->SetJoystickAxis(b, 1, 32767);
  Press(SDL_SCANCODE_S);
  ASSERT_TRUE(input->UpdateList({2, 3, 0}));
  EXPECT_TRUE(input->ButtonDown(0));
  EXPECT_TRUE(input->ButtonDown(3));
  EXPECT_TRUE(input->ButtonDown(4));
  EXPECT_EQ(input->State.lY, 32767);

  hb->MoveMouse(form->Handle(), 100, 100);
  input->Update(1);  // starts the motion count afresh
  hb->MoveMouse(form->Handle(), 103, 90);
  hb->PressMouse(form->Handle(), 1);
  ASSERT_TRUE(input->UpdateList({2, 1}));
  // The mouse's record names only its first axis; its axes are assigned, not or-ed.
  EXPECT_EQ(input->State.lX, 3);
  EXPECT_EQ(input->State.lY, 0);
  EXPECT_TRUE(input->ButtonDown(0));
}

TEST_F(DdidexTest, ForceFeedbackPadsComeFirstAndOnce) {
  delete input;
  input = nullptr;
  form->Free();
  form = nullptr;
  auto owned = std::make_unique<FeedbackBackend>();
  FeedbackBackend* fb = owned.get();
  fb->PlugJoystick("Twin", 2, 2, 0);
  fb->PlugJoystick("Twin", 2, 2, 0);
  const auto rumble = fb->PlugJoystick("Rumble", 2, 2, 0);
  fb->PlugJoystick("Rumble", 2, 2, 0);  // same product name, no force feedback
  fb->feedback.insert(rumble);
  Install(std::move(owned));
  input->Initialize();
  ASSERT_EQ(input->JoystickCount, 3);
  EXPECT_EQ(input->JoystickNames->Strings(0), "Rumble");
  EXPECT_EQ(input->JoystickNames->Strings(1), "Twin");
  EXPECT_EQ(input->JoystickNames->Strings(2), "Twin");
  EXPECT_TRUE(input->ForceFeedback[2]);
  EXPECT_FALSE(input->ForceFeedback[3]);
  EXPECT_FALSE(input->ForceFeedback[4]);
}

TEST_F(DdidexTest, ControllersPastSixteenAreIgnored) {
  std::uint32_t last = 0;
  for (int i = 0; i < 18; ++i) last = hb->PlugJoystick("Pad" + std::to_string(i), 2, 2, 0);
  input->Initialize();
  EXPECT_EQ(input->JoystickCount, 16);
  EXPECT_EQ(input->JoystickNames->Count(), 16);
  EXPECT_EQ(input->JoystickNames->Strings(15), "Pad15");
  hb->SetJoystickButton(last, 0, true);
  EXPECT_TRUE(input->Update(17));
  EXPECT_FALSE(input->ButtonDown(0));
  EXPECT_FALSE(input->Update(18));
}

TEST_F(DdidexTest, FocusLossStopsReadsUntilItReturns) {
  const auto pad = hb->PlugJoystick("Pad", 2, 2, 0);
  input->Initialize();
  Press(SDL_SCANCODE_Z);
  hb->SetJoystickButton(pad, 1, true);
  ASSERT_TRUE(Poll());
  EXPECT_TRUE(input->ButtonDown(0));
  EXPECT_TRUE(input->ButtonDown(1));

  hb->SetFocus(0);
  EXPECT_FALSE(Poll());
  EXPECT_FALSE(input->ButtonDown(0));
  EXPECT_FALSE(input->ButtonDown(1));
  EXPECT_FALSE(Poll());  // acquiring again fails while the window has no focus

  hb->SetFocus(form->Handle());
  // The first read after the focus comes back re-acquires the devices; Z, held all along,
  // stays up until it is pressed anew.
  Poll();
  ASSERT_TRUE(Poll());
  EXPECT_FALSE(input->ButtonDown(0));
  EXPECT_TRUE(input->ButtonDown(1));
  Release(SDL_SCANCODE_Z);
  Poll();
  Press(SDL_SCANCODE_Z);
  ASSERT_TRUE(Poll());
  EXPECT_TRUE(input->ButtonDown(0));
}

TEST_F(DdidexTest, BackGroundReadsTheKeyboardWithoutFocus) {
  input->BackGround = true;
  input->Initialize();
  hb->SetFocus(0);
  Press(SDL_SCANCODE_X);
  ASSERT_TRUE(Poll());
  EXPECT_TRUE(input->ButtonDown(1));
}

TEST_F(DdidexTest, DesignerRefusesASecondComponentOnOneForm) {
  form->SetDesigning(true);
  try {
    new TDDIDEX(form);
    FAIL() << "a second component was accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "DDIDEXコンポーネントを、同一フォームに2つ以上貼る事はできません");
  }
  int count = 0;
  for (int i = 0; i < form->ComponentCount(); ++i)
    if (dynamic_cast<TDDIDEX*>(form->Components(i))) ++count;
  EXPECT_EQ(count, 1);
  form->SetDesigning(false);
}

TEST_F(DdidexTest, DebugOptionsAreProcessWide) {
  EXPECT_EQ(input->DebugOption(), TDDIDDebugOption{dioHaltOnError});
  EXPECT_TRUE(Ddidex::HaltOnError);
  EXPECT_FALSE(Ddidex::DebugMessage);
  TDDIDEX other(nullptr);
  input->SetDebugOption({dioDebugMessage, dioExceptOnError});
  EXPECT_FALSE(Ddidex::HaltOnError);
  EXPECT_TRUE(Ddidex::DebugMessage);
  EXPECT_TRUE(Ddidex::ExceptOnError);
  other.SetDebugOption({});
  EXPECT_FALSE(Ddidex::DebugMessage);
  EXPECT_FALSE(Ddidex::ExceptOnError);
  EXPECT_EQ(input->DebugOption(), (TDDIDDebugOption{dioDebugMessage, dioExceptOnError}));
}

class DdidexSinkTest : public DdidexTest {
 protected:
  void SetUp() override {
    DdidexTest::SetUp();
    dir = std::filesystem::temp_directory_path() /
          ("ddid_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    Ddidex::SetDebugLogFolder(dir.string());
    Ddidex::DebugCount = 0;
  }
  void TearDown() override {
    DdidexTest::TearDown();
    std::filesystem::remove_all(dir);
  }
  std::string Log() { return ReadFile((dir / "ddid.debug").string()); }
  std::filesystem::path dir;
};

TEST_F(DdidexSinkTest, LogLinesAreNumberedAndTheFirstOfARunStartsTheFile) {
  input->SetDebugOption({dioDebugMessage});
  {
    std::ofstream old(dir / "ddid.debug");
    old << "left over from an earlier run\r\n";
  }
  EXPECT_EQ(Ddidex::DDIDCheck(0, "never logged"), 0);
  EXPECT_EQ(Ddidex::DDIDCheck(DIERR_INVALIDPARAM, "first"), DIERR_INVALIDPARAM);
  EXPECT_EQ(Ddidex::DDIDCheck(1, "second"), 1);
  EXPECT_EQ(Log(),
            "debug#00001 ... first(Error Code(80070057))\r\n"
            "debug#00002 ... second(Error Code(1))\r\n");
  EXPECT_EQ(Ddidex::DebugCount, 2);
  Ddidex::DebugCount = 99999;
  Ddidex::DDIDCheck(DIERR_NOTACQUIRED, "wide");
  EXPECT_NE(Log().find("debug#100000 ... wide(Error Code(8007000C))\r\n"), std::string::npos);
}

TEST_F(DdidexSinkTest, FailedInitializeIsLoggedAndTheRestCarriesOn) {
  // A foreground level needs the owner's window; without an owner both levels fail.
  delete input;
  input = new TDDIDEX(nullptr);
  input->SetDebugOption({dioDebugMessage});
  input->Initialize();
  EXPECT_EQ(Log(),
            "debug#00001 ... DirectInputDeviceの協調レベルの設定に失敗しました"
            "(Error Code(80070057))\r\n"
            "debug#00002 ... DirectInputDeviceの協調レベルの設定に失敗しました"
            "(Error Code(80070057))\r\n");
  EXPECT_NE(input->Keyboard, nullptr);
  EXPECT_NE(input->Mouse, nullptr);
}

TEST_F(DdidexSinkTest, ExceptOnErrorRaisesInsteadOfHalting) {
  delete input;
  input = new TDDIDEX(nullptr);
  input->SetDebugOption({dioHaltOnError, dioExceptOnError});
  bool halted = false;
  Ddidex::SetHaltHandler([&](const std::string&) { halted = true; });
  try {
    input->Initialize();
    FAIL() << "no EDDID";
  } catch (const EDDID& e) {
    EXPECT_STREQ(e.ClassName(), "EDDID");
    EXPECT_EQ(e.Message, "DirectInputDeviceの協調レベルの設定に失敗しました(Error Code(80070057))");
  }
  EXPECT_FALSE(halted);
  EXPECT_FALSE(std::filesystem::exists(dir / "ddid.debug"));
}

TEST_F(DdidexSinkTest, HaltEndsTheProgramWithOneLineAndAFailureStatus) {
  input->SetDebugOption({dioHaltOnError});
  std::string seen;
  Ddidex::SetHaltHandler([&](const std::string& text) { seen = text; });
  Ddidex::DDIDCheck(E_FAIL, "DirectInputの作成に失敗しました");
  EXPECT_EQ(seen, "DirectInputの作成に失敗しました(Error Code(80004005))");

  Ddidex::SetHaltHandler(nullptr);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(Ddidex::DDIDCheck(E_FAIL, "halt now"), ::testing::ExitedWithCode(1),
              "halt now\\(Error Code\\(80004005\\)\\)");
}

TEST_F(DdidexTest, StoredPropertiesAndLoaded) {
  delete input;
  input = nullptr;
  hb->PlugJoystick("Pad", 2, 2, 0);
  ReadStoredForm(form,
                 "object Form1: TForm\n"
                 "  object Input1: TDDIDEX\n"
                 "    DeadZone = 20\n"
                 "    DebugOption = [dioHaltOnError, dioDebugMessage]\n"
                 "  end\n"
                 "end\n");
  auto* stored = dynamic_cast<TDDIDEX*>(form->FindComponent("Input1"));
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->DeadZone, 20);
  EXPECT_TRUE(stored->AutoInitialize);
  EXPECT_FALSE(stored->BackGround);
  EXPECT_TRUE(Ddidex::DebugMessage);
  // AutoInitialize: Loaded made the devices.
  EXPECT_NE(stored->Keyboard, nullptr);
  EXPECT_EQ(stored->JoystickCount, 1);
  const std::string text = WriteStoredForm(form);
  EXPECT_NE(text.find("DebugOption = [dioHaltOnError, dioDebugMessage]"), std::string::npos);
  EXPECT_EQ(text.find("AutoInitialize"), std::string::npos);  // the default is not written
  stored->SetDebugOption({dioHaltOnError});
}

}  // namespace
