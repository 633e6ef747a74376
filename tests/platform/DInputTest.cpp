#include <SDL_scancode.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/dinput/DInput.h"
#include "platform/win/Libraries.h"
#include "tests/support/FeedbackBackend.h"

namespace {

using backend::HeadlessBackend;

class DInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &HeadlessBackend::InstallFresh();
    window = hb->CreateWindow({"input", -1, -1, 320, 240});
    ASSERT_TRUE(hb->HasFocus(window));
    ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                 reinterpret_cast<void**>(&di), nullptr),
              DI_OK);
  }
  void TearDown() override {
    for (auto* d : devices) d->Release();
    if (di) di->Release();
  }

  IDirectInputDevice8* Make(const GUID& g, const DIDATAFORMAT* fmt, DWORD level) {
    IDirectInputDevice8* d = nullptr;
    EXPECT_EQ(di->CreateDevice(g, &d, nullptr), DI_OK);
    if (!d) return nullptr;
    devices.push_back(d);
    EXPECT_EQ(d->SetDataFormat(fmt), DI_OK);
    EXPECT_EQ(d->SetCooperativeLevel(window, level), DI_OK);
    return d;
  }
  IDirectInputDevice8* Keyboard(DWORD level = DISCL_FOREGROUND | DISCL_NONEXCLUSIVE) {
    auto* k = Make(GUID_SysKeyboard, &c_dfDIKeyboard, level);
    EXPECT_EQ(k->Acquire(), DI_OK);
    return k;
  }
  std::vector<DIDEVICEINSTANCEA> Enum(DWORD cls, DWORD flags) {
    std::vector<DIDEVICEINSTANCEA> out;
    EXPECT_EQ(di->EnumDevices(
                  cls,
                  [](LPCDIDEVICEINSTANCEA d, void* ref) -> BOOL {
                    static_cast<std::vector<DIDEVICEINSTANCEA>*>(ref)->push_back(*d);
                    return DIENUM_CONTINUE;
                  },
                  &out, flags),
              DI_OK);
    return out;
  }
  IDirectInputDevice8* Pad(std::uint32_t instance, DWORD level) {
    for (const auto& d : Enum(DI8DEVCLASS_GAMECTRL, DIEDFL_ATTACHEDONLY))
      if (d.guidInstance.Data1 == instance) return Make(d.guidInstance, &c_dfDIJoystick, level);
    ADD_FAILURE() << "pad not enumerated";
    return nullptr;
  }
  static void SetRange(IDirectInputDevice8* d, DWORD offset, LONG lo, LONG hi, HRESULT want) {
    DIPROPRANGE r{};
    r.diph = {sizeof(DIPROPRANGE), sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET};
    r.lMin = lo;
    r.lMax = hi;
    EXPECT_EQ(d->SetProperty(DIPROP_RANGE, &r.diph), want) << "offset " << offset;
  }

  HeadlessBackend* hb = nullptr;
  backend::WindowId window = 0;
  IDirectInput8* di = nullptr;
  std::vector<IDirectInputDevice8*> devices;
};

TEST(DikTable, EveryKeyMapsToOneCodeAndBack) {
  std::set<int> seen;
  for (int sc = -5; sc < 600; ++sc) {
    const int dik = DikFromScancode(sc);
    if (dik == 0) continue;
    ASSERT_GT(dik, 0);
    ASSERT_LT(dik, 256);
    seen.insert(dik);
    // The way back leads to a key of the same code (two keys share the backslash code).
    EXPECT_EQ(DikFromScancode(ScancodeFromDik(dik)), dik) << "scancode " << sc;
  }
  EXPECT_GT(seen.size(), 120u);  // a full board, not just the keys the programs use
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_Z), DIK_Z);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_X), DIK_X);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_ESCAPE), 0x01);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_UP), 0xC8);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_DOWN), 0xD0);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_LEFT), 0xCB);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_RIGHT), 0xCD);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_KP_7), 0x47);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_KP_3), 0x51);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_KP_ENTER), DIK_NUMPADENTER);
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_RCTRL), DIK_RCONTROL);
  // Keys without a code, and numbers outside the backend's table, give 0.
  EXPECT_EQ(DikFromScancode(SDL_SCANCODE_F20), 0);
  EXPECT_EQ(DikFromScancode(0), 0);
  EXPECT_EQ(DikFromScancode(-1), 0);
  EXPECT_EQ(DikFromScancode(512), 0);
  EXPECT_EQ(ScancodeFromDik(0), 0);
  EXPECT_EQ(ScancodeFromDik(256), 0);
  EXPECT_EQ(ScancodeFromDik(-3), 0);
}

TEST(DirectInputCreate, RefusesWrongVersionInterfaceAndArguments) {
  HeadlessBackend::InstallFresh();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8A, &out, nullptr),
            DIERR_OLDDIRECTINPUTVERSION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(DirectInput8Create(nullptr, 0x0900, IID_IDirectInput8A, &out, nullptr),
            DIERR_BETADIRECTINPUTVERSION);
  EXPECT_EQ(
      DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInputDevice8A, &out, nullptr),
      DIERR_NOINTERFACE);
  EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, nullptr, nullptr),
            E_POINTER);
  ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &out, nullptr),
            DI_OK);
  auto* di = static_cast<IDirectInput8*>(out);
  IDirectInputDevice8* dev = reinterpret_cast<IDirectInputDevice8*>(1);
  EXPECT_EQ(di->CreateDevice(GUID_Button, &dev, nullptr), DIERR_DEVICENOTREG);
  EXPECT_EQ(dev, nullptr);
  EXPECT_EQ(di->EnumDevices(DI8DEVCLASS_GAMECTRL, nullptr, nullptr, 0), DIERR_INVALIDPARAM);
  void* again = nullptr;
  EXPECT_EQ(di->QueryInterface(IID_IDirectInput8A, &again), S_OK);
  EXPECT_EQ(di->Release(), 1u);
  EXPECT_EQ(static_cast<IDirectInput8*>(again)->Release(), 0u);
}

TEST_F(DInputTest, KeyboardStateIsIndexedByDikCode) {
  auto* k = Keyboard();
  hb->PressKey(SDL_SCANCODE_Z);
  hb->PressKey(SDL_SCANCODE_UP);
  hb->PressKey(SDL_SCANCODE_KP_7);
  hb->PressKey(SDL_SCANCODE_F20);  // no code: must not show anywhere, least of all at 0
  BYTE keys[256];
  ASSERT_EQ(k->GetDeviceState(256, keys), DI_OK);
  std::set<int> down;
  for (int i = 0; i < 256; ++i)
    if (keys[i]) {
      EXPECT_EQ(keys[i], 0x80);
      down.insert(i);
    }
  EXPECT_EQ(down, (std::set<int>{DIK_Z, DIK_UP, DIK_NUMPAD7}));
  hb->ReleaseKey(SDL_SCANCODE_Z);
  ASSERT_EQ(k->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_Z], 0);
  EXPECT_EQ(keys[DIK_UP], 0x80);
  // The record must be the format's size.
  EXPECT_EQ(k->GetDeviceState(255, keys), DIERR_INVALIDPARAM);
  EXPECT_EQ(k->GetDeviceState(256, nullptr), DIERR_INVALIDPARAM);
  EXPECT_EQ(k->Poll(), DI_NOEFFECT);
}

TEST_F(DInputTest, ForegroundDeviceFollowsTheFocus) {
  auto* k = Keyboard();
  hb->PressKey(SDL_SCANCODE_X);
  BYTE keys[256];
  ASSERT_EQ(k->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_X], 0x80);

  hb->SetFocus(0);
  EXPECT_EQ(k->GetDeviceState(256, keys), DIERR_INPUTLOST);
  EXPECT_EQ(k->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
  EXPECT_EQ(k->Poll(), DIERR_NOTACQUIRED);
  EXPECT_EQ(k->Acquire(), DIERR_OTHERAPPHASPRIO);

  hb->SetFocus(window);
  ASSERT_EQ(k->Acquire(), DI_OK);
  EXPECT_EQ(k->Acquire(), DI_NOEFFECT);
  // X was held when the focus went: it reads as up until it is let go and pressed again.
  hb->PressKey(SDL_SCANCODE_C);
  ASSERT_EQ(k->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_X], 0);
  EXPECT_EQ(keys[DIK_C], 0x80);
  hb->ReleaseKey(SDL_SCANCODE_X);
  ASSERT_EQ(k->GetDeviceState(256, keys), DI_OK);
  hb->PressKey(SDL_SCANCODE_X);
  ASSERT_EQ(k->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_X], 0x80);

  EXPECT_EQ(k->Unacquire(), DI_OK);
  EXPECT_EQ(k->Unacquire(), DI_NOEFFECT);
  EXPECT_EQ(k->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
}

TEST_F(DInputTest, BackgroundKeyboardReadsWithoutFocus) {
  auto* k = Keyboard(DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
  hb->SetFocus(0);
  hb->PressKey(SDL_SCANCODE_SPACE, 0, window);
  BYTE keys[256];
  ASSERT_EQ(k->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_SPACE], 0x80);
}

TEST_F(DInputTest, CooperativeLevelsAndFormatsAreChecked) {
  IDirectInputDevice8* k = nullptr;
  ASSERT_EQ(di->CreateDevice(GUID_SysKeyboard, &k, nullptr), DI_OK);
  devices.push_back(k);
  const DWORD bad[] = {0,
                       DISCL_FOREGROUND,
                       DISCL_NONEXCLUSIVE,
                       DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND,
                       DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_BACKGROUND,
                       DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | 0x100};
  for (DWORD level : bad) EXPECT_EQ(k->SetCooperativeLevel(window, level), DIERR_INVALIDPARAM);
  // Focus is judged by a window: none, no foreground level.
  EXPECT_EQ(k->SetCooperativeLevel(0, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE), DIERR_INVALIDPARAM);
  EXPECT_EQ(k->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_EXCLUSIVE), DIERR_UNSUPPORTED);
  EXPECT_EQ(k->SetCooperativeLevel(window, DISCL_FOREGROUND | DISCL_EXCLUSIVE), DI_OK);

  // No format yet: nothing to acquire.
  EXPECT_EQ(k->Acquire(), DIERR_INVALIDPARAM);
  DIDATAFORMAT f = c_dfDIKeyboard;
  f.dwSize = 20;
  EXPECT_EQ(k->SetDataFormat(&f), DIERR_INVALIDPARAM);
  f = c_dfDIKeyboard;
  f.dwDataSize = 10;  // not a multiple of four
  EXPECT_EQ(k->SetDataFormat(&f), DIERR_INVALIDPARAM);
  f.dwDataSize = 128;  // objects past the end of the record
  EXPECT_EQ(k->SetDataFormat(&f), DIERR_INVALIDPARAM);
  EXPECT_EQ(k->SetDataFormat(nullptr), DIERR_INVALIDPARAM);
  ASSERT_EQ(k->SetDataFormat(&c_dfDIKeyboard), DI_OK);
  ASSERT_EQ(k->Acquire(), DI_OK);
  EXPECT_EQ(k->SetDataFormat(&c_dfDIKeyboard), DIERR_ACQUIRED);
  EXPECT_EQ(k->SetCooperativeLevel(window, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE), DIERR_ACQUIRED);

  // A format naming an object the device lacks, not marked optional, is refused.
  const DIOBJECTDATAFORMAT pov = {&GUID_POV, 0, DIDFT_POV | DIDFT_ANYINSTANCE, 0};
  const DIDATAFORMAT needsPov = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), 0, 4, 1, &pov};
  k->Unacquire();
  EXPECT_EQ(k->SetDataFormat(&needsPov), DIERR_INVALIDPARAM);
}

TEST_F(DInputTest, MouseReportsMotionSinceLastReadAndButtons) {
  hb->MoveMouse(window, 10, 10);
  auto* m = Make(GUID_SysMouse, &c_dfDIMouse2, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE);
  ASSERT_EQ(m->Acquire(), DI_OK);
  hb->MoveMouse(window, 15, 7);
  hb->WheelMouse(window, 2);
  hb->PressMouse(window, 1);
  hb->PressMouse(window, 3);
  DIMOUSESTATE2 s;
  ASSERT_EQ(m->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.lX, 5);
  EXPECT_EQ(s.lY, -3);
  EXPECT_EQ(s.lZ, 240);
  EXPECT_EQ(s.rgbButtons[0], 0x80);  // left
  EXPECT_EQ(s.rgbButtons[1], 0x80);  // right
  EXPECT_EQ(s.rgbButtons[2], 0);
  ASSERT_EQ(m->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.lX, 0);
  EXPECT_EQ(s.lY, 0);
  EXPECT_EQ(s.lZ, 0);
  EXPECT_EQ(s.rgbButtons[0], 0x80);
}

TEST_F(DInputTest, FormatWithOneAxisGetsOnlyTheFirst) {
  // Three axes' room, but only the first is named: the other two stay 0.
  DIOBJECTDATAFORMAT objs[2] = {
      {nullptr, 0, DIDFT_RELAXIS | DIDFT_ANYINSTANCE, 0},
      {&GUID_Button, 12, DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0}};
  const DIDATAFORMAT f = {
      sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 20, 2, objs};
  hb->MoveMouse(window, 0, 0);
  auto* m = Make(GUID_SysMouse, &f, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE);
  ASSERT_EQ(m->Acquire(), DI_OK);
  hb->MoveMouse(window, 4, 9);
  hb->PressMouse(window, 1);
  DIMOUSESTATE2 s;
  std::memset(&s, 0x55, sizeof s);
  ASSERT_EQ(m->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.lX, 4);
  EXPECT_EQ(s.lY, 0);
  EXPECT_EQ(s.lZ, 0);
  EXPECT_EQ(s.rgbButtons[0], 0x80);
  EXPECT_EQ(s.rgbButtons[1], 0);
}

TEST_F(DInputTest, BackgroundMouseSeesNothingWhileTheWindowIsNotFocused) {
  auto* m = Make(GUID_SysMouse, &c_dfDIMouse2, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE);
  ASSERT_EQ(m->Acquire(), DI_OK);
  const auto other = hb->CreateWindow({"other", 0, 0, 100, 100});
  hb->SetFocus(other);
  hb->MoveMouse(other, 50, 50);
  hb->MoveMouse(other, 70, 20);
  hb->PressMouse(other, 1);
  DIMOUSESTATE2 s;
  ASSERT_EQ(m->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.lX, 0);
  EXPECT_EQ(s.lY, 0);
  EXPECT_EQ(s.rgbButtons[0], 0);
  // Motion made elsewhere is not delivered later either.
  hb->SetFocus(window);
  ASSERT_EQ(m->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.lX, 0);
  EXPECT_EQ(s.lY, 0);
}

TEST_F(DInputTest, JoystickAxesButtonsHatsAndRanges) {
  const auto pad = hb->PlugJoystick("Pad One", 3, 4, 1);
  auto* j = Pad(pad, DISCL_FOREGROUND | DISCL_EXCLUSIVE);
  ASSERT_NE(j, nullptr);
  DIDEVICEINSTANCEA info{};
  info.dwSize = sizeof info;
  ASSERT_EQ(j->GetDeviceInfo(&info), DI_OK);
  EXPECT_STREQ(info.tszProductName, "Pad One");

  ASSERT_EQ(j->Acquire(), DI_OK);
  hb->SetJoystickAxis(pad, 0, 0);
  hb->SetJoystickAxis(pad, 1, -32768);
  hb->SetJoystickAxis(pad, 2, 32767);
  DIJOYSTATE s;
  ASSERT_EQ(j->Poll(), DI_OK);
  ASSERT_EQ(j->GetDeviceState(sizeof s, &s), DI_OK);
  // Until a range is set axes run over 0..65535.
  EXPECT_EQ(s.lX, 32768);
  EXPECT_EQ(s.lY, 0);
  EXPECT_EQ(s.lZ, 65535);

  SetRange(j, 0, -32768, 32767, DI_OK);
  SetRange(j, 4, -32768, 32767, DI_OK);
  SetRange(j, 8, -100, 100, DI_OK);
  SetRange(j, 12, -32768, 32767, DIERR_OBJECTNOTFOUND);  // the pad has no Rx axis
  SetRange(j, JoySliderOffset(0), -32768, 32767, DIERR_OBJECTNOTFOUND);
  SetRange(j, 0, 5, 5, DIERR_INVALIDPARAM);
  DIPROPRANGE got{};
  got.diph = {sizeof(DIPROPRANGE), sizeof(DIPROPHEADER), 8, DIPH_BYOFFSET};
  ASSERT_EQ(j->GetProperty(DIPROP_RANGE, &got.diph), DI_OK);
  EXPECT_EQ(got.lMin, -100);
  EXPECT_EQ(got.lMax, 100);

  hb->SetJoystickAxis(pad, 0, 1234);
  hb->SetJoystickButton(pad, 1, true);
  hb->SetJoystickButton(pad, 3, true);
  hb->SetJoystickHat(pad, 0, 2 | 4);  // right and down
  ASSERT_EQ(j->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.lX, 1234);  // -32768..32767 passes unchanged
  EXPECT_EQ(s.lY, -32768);
  EXPECT_EQ(s.lZ, 100);
  EXPECT_EQ(s.lRx, 0);
  EXPECT_EQ(s.rgdwPOV[0], 13500u);
  EXPECT_EQ(s.rgbButtons[0], 0);
  EXPECT_EQ(s.rgbButtons[1], 0x80);
  EXPECT_EQ(s.rgbButtons[3], 0x80);
  EXPECT_EQ(s.rgbButtons[4], 0);  // the pad has four buttons
  hb->SetJoystickHat(pad, 0, 0);
  ASSERT_EQ(j->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.rgdwPOV[0], 0xFFFFFFFFu);  // centred
}

TEST_F(DInputTest, ExclusivePadHasOneOwnerAndUnpluggingLosesIt) {
  const auto pad = hb->PlugJoystick("Pad", 2, 2, 0);
  auto* a = Pad(pad, DISCL_FOREGROUND | DISCL_EXCLUSIVE);
  auto* b = Pad(pad, DISCL_FOREGROUND | DISCL_EXCLUSIVE);
  ASSERT_EQ(a->Acquire(), DI_OK);
  EXPECT_EQ(b->Acquire(), DIERR_OTHERAPPHASPRIO);
  a->Unacquire();
  EXPECT_EQ(b->Acquire(), DI_OK);
  auto* shared = Pad(pad, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE);
  EXPECT_EQ(shared->Acquire(), DI_OK);

  DIDEVICEINSTANCEA info{};
  info.dwSize = sizeof info;
  ASSERT_EQ(a->GetDeviceInfo(&info), DI_OK);
  EXPECT_EQ(di->GetDeviceStatus(info.guidInstance), DI_OK);
  hb->UnplugJoystick(pad);
  DIJOYSTATE s;
  EXPECT_EQ(b->GetDeviceState(sizeof s, &s), DIERR_INPUTLOST);
  EXPECT_EQ(b->Acquire(), DIERR_UNPLUGGED);
  EXPECT_EQ(di->GetDeviceStatus(info.guidInstance), DI_NOEFFECT);
  IDirectInputDevice8* gone = nullptr;
  EXPECT_EQ(di->CreateDevice(info.guidInstance, &gone, nullptr), DIERR_DEVICENOTREG);
}

// A pad pulled out and plugged in again comes back under its old instance GUID (the backend
// gives it a new id), so the device made for it reads it again; a pad of another name does not
// take that place, and of two pads of one name the returning one takes the free place.
TEST_F(DInputTest, ARepluggedPadIsReadAgainByTheDeviceMadeForIt) {
  const auto first = hb->PlugJoystick("Pad", 2, 2, 0);
  const auto twin = hb->PlugJoystick("Pad", 2, 2, 0);
  auto* a = Pad(first, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE);
  auto* b = Pad(twin, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE);
  ASSERT_EQ(a->Acquire(), DI_OK);
  ASSERT_EQ(b->Acquire(), DI_OK);
  DIDEVICEINSTANCEA info{};
  info.dwSize = sizeof info;
  ASSERT_EQ(a->GetDeviceInfo(&info), DI_OK);
  DIJOYSTATE s;

  hb->UnplugJoystick(first);
  EXPECT_EQ(a->GetDeviceState(sizeof s, &s), DIERR_INPUTLOST);
  // Another product meanwhile gets a place of its own.
  const auto other = hb->PlugJoystick("Wheel", 2, 2, 0);
  EXPECT_EQ(a->Acquire(), DIERR_UNPLUGGED);
  const auto again = hb->PlugJoystick("Pad", 2, 2, 0);
  ASSERT_NE(again, first);
  EXPECT_EQ(di->GetDeviceStatus(info.guidInstance), DI_OK);
  ASSERT_EQ(a->Acquire(), DI_OK);
  hb->SetJoystickButton(again, 1, true);
  hb->SetJoystickButton(twin, 0, true);
  hb->SetJoystickButton(other, 0, true);
  ASSERT_EQ(a->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.rgbButtons[0], 0);
  EXPECT_EQ(s.rgbButtons[1], 0x80);
  ASSERT_EQ(b->GetDeviceState(sizeof s, &s), DI_OK);
  EXPECT_EQ(s.rgbButtons[0], 0x80);
  EXPECT_EQ(s.rgbButtons[1], 0);
  // Three pads attached, under three GUIDs, the returning one under its old one.
  const auto pads = Enum(DI8DEVCLASS_GAMECTRL, DIEDFL_ATTACHEDONLY);
  ASSERT_EQ(pads.size(), 3u);
  std::set<std::uint32_t> numbers;
  for (const auto& d : pads) numbers.insert(d.guidInstance.Data1);
  EXPECT_EQ(numbers.size(), 3u);
  EXPECT_EQ(numbers.count(info.guidInstance.Data1), 1u);
}

TEST(DInputEnum, ClassesForceFeedbackAndStop) {
  auto owned = std::make_unique<FeedbackBackend>();
  FeedbackBackend* fb = owned.get();
  backend::Backend::Install(std::move(owned));
  const auto plain = fb->PlugJoystick("Plain", 2, 2, 0);
  const auto rumble = fb->PlugJoystick("Rumble", 2, 2, 0);
  fb->feedback.insert(rumble);
  IDirectInput8* di = nullptr;
  ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A,
                               reinterpret_cast<void**>(&di), nullptr),
            DI_OK);
  auto names = [di](DWORD cls, DWORD flags, int stopAfter = 99) {
    struct Ctx {
      std::vector<std::string> names;
      int stopAfter;
    } ctx{{}, stopAfter};
    di->EnumDevices(
        cls,
        [](LPCDIDEVICEINSTANCEA d, void* ref) -> BOOL {
          auto* c = static_cast<Ctx*>(ref);
          c->names.push_back(d->tszProductName);
          return static_cast<int>(c->names.size()) >= c->stopAfter ? DIENUM_STOP : DIENUM_CONTINUE;
        },
        &ctx, flags);
    return ctx.names;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names(DI8DEVCLASS_GAMECTRL, DIEDFL_ATTACHEDONLY), (V{"Plain", "Rumble"}));
  EXPECT_EQ(names(DI8DEVCLASS_GAMECTRL, DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK), (V{"Rumble"}));
  EXPECT_EQ(names(DI8DEVCLASS_KEYBOARD, 0), (V{"Keyboard"}));
  EXPECT_EQ(names(DI8DEVCLASS_POINTER, 0), (V{"Mouse"}));
  EXPECT_EQ(names(DI8DEVCLASS_ALL, 0), (V{"Keyboard", "Mouse", "Plain", "Rumble"}));
  EXPECT_EQ(names(DI8DEVCLASS_ALL, 0, 2), (V{"Keyboard", "Mouse"}));
  (void)plain;
  di->Release();
  HeadlessBackend::InstallFresh();
}

}  // namespace

TEST(DirectInputCreate, ExportedByLibraryName) {
  for (const char* lib : {"DInput8.dll", "dinput.DLL"}) {
    HMODULE m = LoadLibrary(lib);
    ASSERT_NE(m, nullptr) << lib;
    EXPECT_EQ(GetProcAddress(m, "DirectInput8Create"),
              reinterpret_cast<FARPROC>(&DirectInput8Create));
    FreeLibrary(m);
  }
}
