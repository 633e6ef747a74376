#include "framework/sound_input/Ddidex.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/forms/Controls.h"

namespace Ddidex {

bool HaltOnError = false;
bool DebugMessage = false;
bool ExceptOnError = false;
int DebugCount = 0;

namespace {
std::string& LogFolderOverride() {
  static std::string folder;
  return folder;
}
THaltHandler& HaltHandler() {
  static THaltHandler handler;
  return handler;
}
}  // namespace

std::string DebugLogFolder() {
  if (!LogFolderOverride().empty()) return LogFolderOverride();
  return ExtractFilePath(ParamStr(0));
}

void SetDebugLogFolder(const std::string& folder) { LogFolderOverride() = folder; }

void SetHaltHandler(THaltHandler handler) { HaltHandler() = std::move(handler); }

void DDIDDebugOut(const std::string& Message) {
  if (DebugMessage) {
    std::string folder = DebugLogFolder();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    const std::string path = folder + "ddid.debug";
    // The first line of a run starts the file afresh; later ones are appended.
    // Opened without waiting: a named pipe of that name with no reader is an error, not a hang.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                              (DebugCount == 0 ? O_TRUNC : O_APPEND),
                          0666);
    int err = fd < 0 ? errno : 0;
    std::FILE* f = nullptr;
    if (fd >= 0) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      f = ::fdopen(fd, DebugCount == 0 ? "wb" : "ab");
      if (!f) {
        err = errno;
        ::close(fd);
      }
    }
    if (!f) throw EInOutError(Format("Cannot open \"%s\": %s", {path, std::strerror(err)}));
    ++DebugCount;
    const std::string line =
        Format("debug#%.5d ... %s", {std::int64_t{DebugCount}, Message}) + "\r\n";
    const bool written = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    if (std::fclose(f) != 0 || !written) throw EInOutError(Format("Cannot write \"%s\"", {path}));
  }
  if (ExceptOnError) throw EDDID(Message);
}

HRESULT DDIDCheck(HRESULT Result, const std::string& Message) {
  if (Result == 0) return Result;
  const std::string text = Message + Format("(Error Code(%x))", {std::int64_t{Result}});
  DDIDDebugOut(text);
  if (HaltOnError) {
    if (HaltHandler()) {
      HaltHandler()(text);
    } else {
      std::fprintf(stderr, "%s\n", text.c_str());
      std::fflush(stderr);
      std::exit(1);
    }
  }
  return Result;
}

}  // namespace Ddidex

using Ddidex::DDIDCheck;

namespace {

// The mouse record: three 32-bit axes, then eight button bytes. Only the first axis and the
// buttons are named objects; offsets 4..11 carry none.
const DIOBJECTDATAFORMAT kMouseObjects[9] = {
    {nullptr, 0, DIDFT_RELAXIS | DIDFT_ANYINSTANCE, 0},
    {&GUID_Button, 12, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
    {&GUID_Button, 13, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
    {&GUID_Button, 14, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
    {&GUID_Button, 15, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
    {&GUID_Button, 16, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
    {&GUID_Button, 17, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
    {&GUID_Button, 18, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
    {&GUID_Button, 19, DIDFT_OPTIONAL | DIDFT_ANYINSTANCE | DIDFT_BUTTON, 0},
};
const DIDATAFORMAT kMouseFormat = {
    sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 20, 9, kMouseObjects};

const bool registered = (RegisterClass<TDDIDEX>("TDDIDEX"), true);

struct MouseRecord {
  LONG X, Y, Z;
  BYTE Buttons[8];
};
static_assert(sizeof(MouseRecord) == 20);

void ReleaseDevice(IDirectInputDevice8*& device) {
  if (device) {
    device->Unacquire();
    device->Release();
    device = nullptr;
  }
}

}  // namespace

TDDIDEX::TDDIDEX(TComponent* AOwner) : TComponent(AOwner) {
  (void)registered;
  if (ComponentState().Contains(csDesigning) && AOwner) {
    int count = 0;
    for (int i = 0; i < AOwner->ComponentCount(); ++i)
      if (dynamic_cast<TDDIDEX*>(AOwner->Components(i))) ++count;
    if (count >= 2)
      throw Exception("DDIDEXコンポーネントを、同一フォームに2つ以上貼る事はできません");
  }
  DeadZone = 30;
  AutoInitialize = true;
  BackGround = false;
  SetDebugOption({dioHaltOnError});
}

TDDIDEX::~TDDIDEX() {
  if (!ComponentState().Contains(csDesigning)) {
    ReleaseDevices();
    delete JoystickNames;
    JoystickNames = nullptr;
  }
}

void TDDIDEX::ReleaseDevices() {
  ReleaseDevice(Keyboard);
  ReleaseDevice(Mouse);
  for (int j = 0; j < JoystickCount; ++j) ReleaseDevice(Joysticks[j]);
  JoystickCount = 0;
  if (DirectInput) {
    DirectInput->Release();
    DirectInput = nullptr;
  }
}

void TDDIDEX::Loaded() {
  TComponent::Loaded();
  if (!ComponentState().Contains(csDesigning)) {
    SetDebugOption(FDebugOption);
    if (AutoInitialize) Initialize();
  }
}

void TDDIDEX::SetDebugOption(TDDIDDebugOption Value) {
  FDebugOption = Value;
  Ddidex::HaltOnError = Value.Contains(dioHaltOnError);
  Ddidex::DebugMessage = Value.Contains(dioDebugMessage);
  Ddidex::ExceptOnError = Value.Contains(dioExceptOnError);
}

void TDDIDEX::DefineProperties(TPropertyDefs& Defs) {
  TComponent::DefineProperties(Defs);
  Defs.Bool("AutoInitialize", AutoInitialize).Default(true);
  Defs.Bool("BackGround", BackGround).Default(false);
  Defs.Int("DeadZone", DeadZone).Default(30);
  Defs.Set(
          "DebugOption", {"dioHaltOnError", "dioDebugMessage", "dioExceptOnError"},
          [this] { return FDebugOption; }, [this](TDDIDDebugOption v) { SetDebugOption(v); })
      .Default(TDDIDDebugOption{dioHaltOnError});
}

HWND TDDIDEX::OwnerWindow() const {
  auto* control = dynamic_cast<TWinControl*>(Owner());
  return control ? control->Handle() : 0;
}

void TDDIDEX::Initialize() {
  ReleaseDevices();

  std::fill(std::begin(KeyMap1), std::end(KeyMap1), 0);
  std::fill(std::begin(KeyMap2), std::end(KeyMap2), 0);
  KeyMap1[0] = DIK_Z;
  KeyMap2[0] = DIK_SPACE;
  KeyMap1[1] = DIK_X;
  KeyMap2[1] = DIK_ESCAPE;
  KeyMap1[2] = DIK_C;
  KeyMap1[3] = DIK_A;
  KeyMap1[4] = DIK_S;
  KeyMap1[5] = DIK_D;
  for (int i = 0; i < 9; ++i) KeyMap1[6 + i] = DIK_1 + i;
  KeyMap1[15] = DIK_0;
  KeyMap1[32] = DIK_UP;
  KeyMap2[32] = DIK_NUMPAD8;
  KeyMap1[33] = DIK_DOWN;
  KeyMap2[33] = DIK_NUMPAD2;
  KeyMap1[34] = DIK_LEFT;
  KeyMap2[34] = DIK_NUMPAD4;
  KeyMap1[35] = DIK_RIGHT;
  KeyMap2[35] = DIK_NUMPAD6;
  KeyMap2[36] = DIK_NUMPAD7;
  KeyMap2[37] = DIK_NUMPAD9;
  KeyMap2[38] = DIK_NUMPAD1;
  KeyMap2[39] = DIK_NUMPAD3;

  void* di = nullptr;
  const HRESULT created =
      DDIDCheck(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &di, nullptr),
                "DirectInputの作成に失敗しました");
  // A failure that did not halt or raise leaves nothing to create the devices with.
  if (created != DI_OK || !di) return;
  DirectInput = static_cast<IDirectInput8*>(di);

  const HWND window = OwnerWindow();
  const DWORD level =
      BackGround ? DISCL_BACKGROUND | DISCL_NONEXCLUSIVE : DISCL_FOREGROUND | DISCL_NONEXCLUSIVE;

  if (DDIDCheck(DirectInput->CreateDevice(GUID_SysKeyboard, &Keyboard, nullptr),
                "DirectInputDevice(キーボード)の作成に失敗しました") == DI_OK &&
      Keyboard) {
    DDIDCheck(Keyboard->SetDataFormat(&c_dfDIKeyboard),
              "DirectInputDeviceのデータフォーマット(キーボード)の指定に失敗しました");
    DDIDCheck(Keyboard->SetCooperativeLevel(window, level),
              "DirectInputDeviceの協調レベルの設定に失敗しました");
  }

  if (DDIDCheck(DirectInput->CreateDevice(GUID_SysMouse, &Mouse, nullptr),
                "DirectInputDevice(マウス)の作成に失敗しました") == DI_OK &&
      Mouse) {
    DDIDCheck(Mouse->SetDataFormat(&kMouseFormat),
              "DirectInputDeviceのデータフォーマット(マウス)の指定に失敗しました");
    DDIDCheck(Mouse->SetCooperativeLevel(window, level),
              "DirectInputDeviceの協調レベルの設定に失敗しました");
  }

  std::fill(std::begin(ForceFeedback), std::end(ForceFeedback), false);
  delete JoystickNames;
  JoystickNames = nullptr;
  JoystickNames = new TStringList;
  JoystickCount = 0;

  // Force-feedback controllers first, then every attached one (the first pass's are skipped).
  FirstPass = true;
  DirectInput->EnumDevices(DI8DEVCLASS_GAMECTRL, &TDDIDEX::EnumJoystick, this,
                           DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK);
  FirstPass = false;
  DirectInput->EnumDevices(DI8DEVCLASS_GAMECTRL, &TDDIDEX::EnumJoystick, this, DIEDFL_ATTACHEDONLY);

  if (Keyboard) Keyboard->Acquire();
  if (Mouse) Mouse->Acquire();
}

BOOL TDDIDEX::EnumJoystick(LPCDIDEVICEINSTANCEA lpddi, void* pvRef) {
  static_cast<TDDIDEX*>(pvRef)->AddJoystick(*lpddi);
  return DIENUM_CONTINUE;
}

void TDDIDEX::AddJoystick(const DIDEVICEINSTANCEA& Device) {
  // The record has room for 16 controllers; any further ones are ignored.
  if (JoystickCount >= MaxJoysticks) return;
  const std::string name(Device.tszProductName,
                         strnlen(Device.tszProductName, sizeof Device.tszProductName));
  if (!FirstPass)
    for (int j = 0; j < JoystickCount; ++j)
      if (ForceFeedback[j + 2] && JoystickNames->Strings(j) == name) return;

  IDirectInputDevice8*& slot = Joysticks[JoystickCount];
  if (DirectInput->CreateDevice(Device.guidInstance, &slot, nullptr) != DI_OK || !slot) {
    slot = nullptr;
    return;
  }
  try {
    DDIDCheck(slot->SetDataFormat(&c_dfDIJoystick),
              "DirectInputDeviceのデータフォーマット(ジョイスティック)の指定に失敗しました");
    const HWND window = OwnerWindow();
    const DWORD b = BackGround ? DISCL_BACKGROUND : DISCL_FOREGROUND;
    if (slot->SetCooperativeLevel(window, b | DISCL_EXCLUSIVE) != DI_OK)
      DDIDCheck(slot->SetCooperativeLevel(window, b | DISCL_NONEXCLUSIVE),
                "DirectInputDeviceの協調レベルの設定に失敗しました");
  } catch (...) {
    // Not counted yet, so nothing else would ever release it.
    slot->Release();
    slot = nullptr;
    throw;
  }
  const DWORD axes[8] = {0, 4, 8, 12, 16, 20, JoySliderOffset(0), JoySliderOffset(1)};
  for (DWORD offset : axes) {
    DIPROPRANGE range{};
    range.diph.dwSize = sizeof(DIPROPRANGE);
    range.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    range.diph.dwObj = offset;
    range.diph.dwHow = DIPH_BYOFFSET;
    range.lMin = -32768;
    range.lMax = 32767;
    slot->SetProperty(DIPROP_RANGE, &range.diph);
  }
  JoystickNames->Add(name);
  slot->Acquire();
  ForceFeedback[JoystickCount + 2] = FirstPass;
  ++JoystickCount;
}

LONG TDDIDEX::ApplyDeadZone(LONG V) const {
  const std::int64_t dz = DeadZone;
  if (dz == 0) return V;
  const std::int64_t lo = (-dz * 32768) / 100;
  const std::int64_t hi = (dz * 32767) / 100;
  if (lo <= V && V <= hi) return 0;
  if (dz >= 100) return 0;
  const std::int64_t r = V < 0 ? (V - lo) * 100 / (100 - dz) : (V - hi) * 100 / (100 - dz);
  return static_cast<LONG>(std::clamp<std::int64_t>(r, INT32_MIN, INT32_MAX));
}

BYTE TDDIDEX::KeyByte(std::int32_t Dik) const {
  // A key map entry outside the state reads as a key that is up.
  return Dik >= 0 && Dik < 256 ? KeyState[Dik] : 0;
}

bool TDDIDEX::KeyDown(int Entry) const {
  return ((KeyByte(KeyMap1[Entry]) | KeyByte(KeyMap2[Entry])) & 0x80) != 0;
}

bool TDDIDEX::ReadDevice(bool Merge, int Index) {
  if (!Merge) std::memset(&State, 0, sizeof State);

  if (Index == 0) {
    if (!Keyboard) return false;
    if (Keyboard->GetDeviceState(sizeof KeyState, KeyState) != DI_OK) {
      Keyboard->Acquire();
      if (Keyboard->GetDeviceState(sizeof KeyState, KeyState) != DI_OK) return false;
    }
    for (int i = 0; i < 32; ++i) State.rgbButtons[i] |= KeyByte(KeyMap1[i]) | KeyByte(KeyMap2[i]);
    LONG dy = 0, dx = 0;
    if (KeyDown(32) || KeyDown(36) || KeyDown(37)) dy -= 32767;
    if (KeyDown(33) || KeyDown(38) || KeyDown(39)) dy += 32767;
    if (KeyDown(34) || KeyDown(36) || KeyDown(38)) dx -= 32767;
    if (KeyDown(35) || KeyDown(37) || KeyDown(39)) dx += 32767;
    State.lX |= dx;
    State.lY |= dy;
    return true;
  }

  if (Index == 1) {
    if (!Mouse) return false;
    MouseRecord m{};
    if (Mouse->GetDeviceState(sizeof m, &m) != DI_OK) {
      Mouse->Acquire();
      return false;
    }
    State.lX = m.X;
    State.lY = m.Y;
    State.lZ = m.Z;
    for (int i = 0; i < 8; ++i) State.rgbButtons[i] |= m.Buttons[i];
    return true;
  }

  const int j = Index - 2;
  if (Index < 2 || j >= JoystickCount || !Joysticks[j]) return false;
  IDirectInputDevice8* joy = Joysticks[j];
  joy->Poll();
  DIJOYSTATE js{};
  if (joy->GetDeviceState(sizeof js, &js) != DI_OK) {
    joy->Acquire();
    return false;
  }
  js.lX = ApplyDeadZone(js.lX);
  js.lY = ApplyDeadZone(js.lY);
  js.lZ = ApplyDeadZone(js.lZ);
  js.lRx = ApplyDeadZone(js.lRx);
  js.lRy = ApplyDeadZone(js.lRy);
  js.lRz = ApplyDeadZone(js.lRz);
  js.rglSlider[0] = ApplyDeadZone(js.rglSlider[0]);
  js.rglSlider[1] = ApplyDeadZone(js.rglSlider[1]);
  if (Merge) {
    State.lX |= js.lX;
    State.lY |= js.lY;
    State.lZ |= js.lZ;
    State.lRx |= js.lRx;
    State.lRy |= js.lRy;
    State.lRz |= js.lRz;
    for (int i = 0; i < 2; ++i) State.rglSlider[i] |= js.rglSlider[i];
    for (int i = 0; i < 4; ++i) State.rgdwPOV[i] |= js.rgdwPOV[i];
    for (int i = 0; i < 32; ++i) State.rgbButtons[i] |= js.rgbButtons[i];
  } else {
    State = js;
  }
  return true;
}

bool TDDIDEX::Update(int Index) { return ReadDevice(false, Index); }

bool TDDIDEX::UpdateList(const std::vector<int>& Indices) {
  bool any = false;
  for (std::size_t i = 0; i < Indices.size(); ++i)
    if (ReadDevice(i > 0, Indices[i])) any = true;
  return any;
}

bool TDDIDEX::UpdateList(std::initializer_list<int> Indices) {
  return UpdateList(std::vector<int>(Indices));
}

void TDDIDEX::GetState(DIJOYSTATE& S) const {
  // The twelve 32-bit fields: axes, sliders and hats.
  std::memcpy(&S, &State, offsetof(DIJOYSTATE, rgbButtons));
}

bool TDDIDEX::ButtonDown(int Index) const {
  return Index >= 0 && Index < 32 && (State.rgbButtons[Index] & 0x80) != 0;
}
