#include "platform/dinput/DInput.h"

#include <SDL_scancode.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend/Backend.h"

// ---- GUIDs (published values) ----
const GUID IID_IDirectInput8A = {
    0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
const GUID IID_IDirectInputDevice8A = {
    0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
const GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_XAxis = {
    0xA36D02E0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_YAxis = {
    0xA36D02E1, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_ZAxis = {
    0xA36D02E2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_RxAxis = {
    0xA36D02F4, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_RyAxis = {
    0xA36D02F5, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_RzAxis = {
    0xA36D02E3, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Slider = {
    0xA36D02E4, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Button = {
    0xA36D02F0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Key = {
    0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_POV = {
    0xA36D02F2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Unknown = {
    0xA36D02F3, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

// ---- SDL scancode -> DIK ----
struct KeyPair {
  int scancode;
  int dik;
};

// Keys without a place in the 256-byte state (most of SDL's extended keys) are simply absent.
constexpr KeyPair kKeyPairs[] = {
    {SDL_SCANCODE_ESCAPE, DIK_ESCAPE},
    {SDL_SCANCODE_1, DIK_1},
    {SDL_SCANCODE_2, DIK_2},
    {SDL_SCANCODE_3, DIK_3},
    {SDL_SCANCODE_4, DIK_4},
    {SDL_SCANCODE_5, DIK_5},
    {SDL_SCANCODE_6, DIK_6},
    {SDL_SCANCODE_7, DIK_7},
    {SDL_SCANCODE_8, DIK_8},
    {SDL_SCANCODE_9, DIK_9},
    {SDL_SCANCODE_0, DIK_0},
    {SDL_SCANCODE_MINUS, DIK_MINUS},
    {SDL_SCANCODE_EQUALS, DIK_EQUALS},
    {SDL_SCANCODE_BACKSPACE, DIK_BACK},
    {SDL_SCANCODE_TAB, DIK_TAB},
    {SDL_SCANCODE_Q, DIK_Q},
    {SDL_SCANCODE_W, DIK_W},
    {SDL_SCANCODE_E, DIK_E},
    {SDL_SCANCODE_R, DIK_R},
    {SDL_SCANCODE_T, DIK_T},
    {SDL_SCANCODE_Y, DIK_Y},
    {SDL_SCANCODE_U, DIK_U},
    {SDL_SCANCODE_I, DIK_I},
    {SDL_SCANCODE_O, DIK_O},
    {SDL_SCANCODE_P, DIK_P},
    {SDL_SCANCODE_LEFTBRACKET, DIK_LBRACKET},
    {SDL_SCANCODE_RIGHTBRACKET, DIK_RBRACKET},
    {SDL_SCANCODE_RETURN, DIK_RETURN},
    {SDL_SCANCODE_LCTRL, DIK_LCONTROL},
    {SDL_SCANCODE_A, DIK_A},
    {SDL_SCANCODE_S, DIK_S},
    {SDL_SCANCODE_D, DIK_D},
    {SDL_SCANCODE_F, DIK_F},
    {SDL_SCANCODE_G, DIK_G},
    {SDL_SCANCODE_H, DIK_H},
    {SDL_SCANCODE_J, DIK_J},
    {SDL_SCANCODE_K, DIK_K},
    {SDL_SCANCODE_L, DIK_L},
    {SDL_SCANCODE_SEMICOLON, DIK_SEMICOLON},
    {SDL_SCANCODE_APOSTROPHE, DIK_APOSTROPHE},
    {SDL_SCANCODE_GRAVE, DIK_GRAVE},
    {SDL_SCANCODE_LSHIFT, DIK_LSHIFT},
    {SDL_SCANCODE_BACKSLASH, DIK_BACKSLASH},
    // The key left of Return on ISO boards sits where the backslash key is on others.
    {SDL_SCANCODE_NONUSHASH, DIK_BACKSLASH},
    {SDL_SCANCODE_Z, DIK_Z},
    {SDL_SCANCODE_X, DIK_X},
    {SDL_SCANCODE_C, DIK_C},
    {SDL_SCANCODE_V, DIK_V},
    {SDL_SCANCODE_B, DIK_B},
    {SDL_SCANCODE_N, DIK_N},
    {SDL_SCANCODE_M, DIK_M},
    {SDL_SCANCODE_COMMA, DIK_COMMA},
    {SDL_SCANCODE_PERIOD, DIK_PERIOD},
    {SDL_SCANCODE_SLASH, DIK_SLASH},
    {SDL_SCANCODE_RSHIFT, DIK_RSHIFT},
    {SDL_SCANCODE_KP_MULTIPLY, DIK_MULTIPLY},
    {SDL_SCANCODE_LALT, DIK_LMENU},
    {SDL_SCANCODE_SPACE, DIK_SPACE},
    {SDL_SCANCODE_CAPSLOCK, DIK_CAPITAL},
    {SDL_SCANCODE_F1, DIK_F1},
    {SDL_SCANCODE_F2, DIK_F2},
    {SDL_SCANCODE_F3, DIK_F3},
    {SDL_SCANCODE_F4, DIK_F4},
    {SDL_SCANCODE_F5, DIK_F5},
    {SDL_SCANCODE_F6, DIK_F6},
    {SDL_SCANCODE_F7, DIK_F7},
    {SDL_SCANCODE_F8, DIK_F8},
    {SDL_SCANCODE_F9, DIK_F9},
    {SDL_SCANCODE_F10, DIK_F10},
    {SDL_SCANCODE_NUMLOCKCLEAR, DIK_NUMLOCK},
    {SDL_SCANCODE_SCROLLLOCK, DIK_SCROLL},
    {SDL_SCANCODE_KP_7, DIK_NUMPAD7},
    {SDL_SCANCODE_KP_8, DIK_NUMPAD8},
    {SDL_SCANCODE_KP_9, DIK_NUMPAD9},
    {SDL_SCANCODE_KP_MINUS, DIK_SUBTRACT},
    {SDL_SCANCODE_KP_4, DIK_NUMPAD4},
    {SDL_SCANCODE_KP_5, DIK_NUMPAD5},
    {SDL_SCANCODE_KP_6, DIK_NUMPAD6},
    {SDL_SCANCODE_KP_PLUS, DIK_ADD},
    {SDL_SCANCODE_KP_1, DIK_NUMPAD1},
    {SDL_SCANCODE_KP_2, DIK_NUMPAD2},
    {SDL_SCANCODE_KP_3, DIK_NUMPAD3},
    {SDL_SCANCODE_KP_0, DIK_NUMPAD0},
    {SDL_SCANCODE_KP_PERIOD, DIK_DECIMAL},
    {SDL_SCANCODE_NONUSBACKSLASH, DIK_OEM_102},
    {SDL_SCANCODE_F11, DIK_F11},
    {SDL_SCANCODE_F12, DIK_F12},
    {SDL_SCANCODE_F13, DIK_F13},
    {SDL_SCANCODE_F14, DIK_F14},
    {SDL_SCANCODE_F15, DIK_F15},
    // Japanese and Brazilian keys.
    {SDL_SCANCODE_INTERNATIONAL2, DIK_KANA},
    {SDL_SCANCODE_INTERNATIONAL1, DIK_ABNT_C1},
    {SDL_SCANCODE_INTERNATIONAL4, DIK_CONVERT},
    {SDL_SCANCODE_INTERNATIONAL5, DIK_NOCONVERT},
    {SDL_SCANCODE_INTERNATIONAL3, DIK_YEN},
    {SDL_SCANCODE_KP_EQUALS, DIK_NUMPADEQUALS},
    {SDL_SCANCODE_LANG1, DIK_KANJI},
    {SDL_SCANCODE_AUDIOPREV, DIK_PREVTRACK},
    {SDL_SCANCODE_STOP, DIK_STOP},
    {SDL_SCANCODE_AUDIONEXT, DIK_NEXTTRACK},
    {SDL_SCANCODE_KP_ENTER, DIK_NUMPADENTER},
    {SDL_SCANCODE_RCTRL, DIK_RCONTROL},
    {SDL_SCANCODE_MUTE, DIK_MUTE},
    {SDL_SCANCODE_AUDIOMUTE, DIK_MUTE},
    {SDL_SCANCODE_CALCULATOR, DIK_CALCULATOR},
    {SDL_SCANCODE_AUDIOPLAY, DIK_PLAYPAUSE},
    {SDL_SCANCODE_AUDIOSTOP, DIK_MEDIASTOP},
    {SDL_SCANCODE_VOLUMEDOWN, DIK_VOLUMEDOWN},
    {SDL_SCANCODE_VOLUMEUP, DIK_VOLUMEUP},
    {SDL_SCANCODE_AC_HOME, DIK_WEBHOME},
    {SDL_SCANCODE_KP_COMMA, DIK_NUMPADCOMMA},
    {SDL_SCANCODE_KP_DIVIDE, DIK_DIVIDE},
    {SDL_SCANCODE_PRINTSCREEN, DIK_SYSRQ},
    {SDL_SCANCODE_SYSREQ, DIK_SYSRQ},
    {SDL_SCANCODE_RALT, DIK_RMENU},
    {SDL_SCANCODE_PAUSE, DIK_PAUSE},
    {SDL_SCANCODE_HOME, DIK_HOME},
    {SDL_SCANCODE_UP, DIK_UP},
    {SDL_SCANCODE_PAGEUP, DIK_PRIOR},
    {SDL_SCANCODE_LEFT, DIK_LEFT},
    {SDL_SCANCODE_RIGHT, DIK_RIGHT},
    {SDL_SCANCODE_END, DIK_END},
    {SDL_SCANCODE_DOWN, DIK_DOWN},
    {SDL_SCANCODE_PAGEDOWN, DIK_NEXT},
    {SDL_SCANCODE_INSERT, DIK_INSERT},
    {SDL_SCANCODE_DELETE, DIK_DELETE},
    {SDL_SCANCODE_LGUI, DIK_LWIN},
    {SDL_SCANCODE_RGUI, DIK_RWIN},
    {SDL_SCANCODE_APPLICATION, DIK_APPS},
    {SDL_SCANCODE_POWER, DIK_POWER},
    {SDL_SCANCODE_SLEEP, DIK_SLEEP},
    {SDL_SCANCODE_AC_SEARCH, DIK_WEBSEARCH},
    {SDL_SCANCODE_AC_BOOKMARKS, DIK_WEBFAVORITES},
    {SDL_SCANCODE_AC_REFRESH, DIK_WEBREFRESH},
    {SDL_SCANCODE_AC_STOP, DIK_WEBSTOP},
    {SDL_SCANCODE_AC_FORWARD, DIK_WEBFORWARD},
    {SDL_SCANCODE_AC_BACK, DIK_WEBBACK},
    {SDL_SCANCODE_COMPUTER, DIK_MYCOMPUTER},
    {SDL_SCANCODE_MAIL, DIK_MAIL},
    {SDL_SCANCODE_MEDIASELECT, DIK_MEDIASELECT},
};

constexpr int kScancodes = 512;  // entries of the backend's keyboard state

struct KeyTables {
  std::array<std::uint8_t, kScancodes> dikOf{};
  std::array<std::uint16_t, 256> scancodeOf{};
  constexpr KeyTables() {
    for (const KeyPair& p : kKeyPairs) {
      dikOf[p.scancode] = static_cast<std::uint8_t>(p.dik);
      // The first scancode listed for a DIK code is its main key.
      if (scancodeOf[p.dik] == 0) scancodeOf[p.dik] = static_cast<std::uint16_t>(p.scancode);
    }
  }
};
constexpr KeyTables kKeys;
static_assert(kKeys.dikOf[SDL_SCANCODE_Z] == DIK_Z && kKeys.dikOf[SDL_SCANCODE_UP] == DIK_UP);

// ---- The published data formats ----
constexpr DWORD kOpt = DIDFT_OPTIONAL;

struct KeyboardFormat {
  DIOBJECTDATAFORMAT objects[256];
  KeyboardFormat() {
    for (DWORD i = 0; i < 256; ++i)
      objects[i] = {&GUID_Key, i, kOpt | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i), 0};
  }
};
const KeyboardFormat kKeyboardObjects;

const DIOBJECTDATAFORMAT kMouse2Objects[] = {
    {&GUID_XAxis, 0, DIDFT_AXIS | DIDFT_ANYINSTANCE, 0},
    {&GUID_YAxis, 4, DIDFT_AXIS | DIDFT_ANYINSTANCE, 0},
    {&GUID_ZAxis, 8, kOpt | DIDFT_AXIS | DIDFT_ANYINSTANCE, 0},
    {nullptr, 12, DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, 13, DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, 14, kOpt | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, 15, kOpt | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, 16, kOpt | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, 17, kOpt | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, 18, kOpt | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, 19, kOpt | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0},
};

struct JoystickFormat {
  DIOBJECTDATAFORMAT objects[44];
  JoystickFormat() {
    const GUID* axes[6] = {&GUID_XAxis,  &GUID_YAxis,  &GUID_ZAxis,
                           &GUID_RxAxis, &GUID_RyAxis, &GUID_RzAxis};
    int n = 0;
    for (int i = 0; i < 6; ++i)
      objects[n++] = {axes[i], 4u * i, kOpt | DIDFT_AXIS | DIDFT_ANYINSTANCE, 0};
    for (int i = 0; i < 2; ++i)
      objects[n++] = {&GUID_Slider, JoySliderOffset(i), kOpt | DIDFT_AXIS | DIDFT_ANYINSTANCE, 0};
    for (DWORD i = 0; i < 4; ++i)
      objects[n++] = {&GUID_POV, 32 + 4 * i, kOpt | DIDFT_POV | DIDFT_ANYINSTANCE, 0};
    for (DWORD i = 0; i < 32; ++i)
      objects[n++] = {nullptr, 48 + i, kOpt | DIDFT_BUTTON | DIDFT_ANYINSTANCE, 0};
  }
};
const JoystickFormat kJoystickObjects;

}  // namespace

const DIDATAFORMAT c_dfDIKeyboard = {
    sizeof(DIDATAFORMAT),    sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 256,
    kKeyboardObjects.objects};
const DIDATAFORMAT c_dfDIMouse2 = {
    sizeof(DIDATAFORMAT),  sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS,
    sizeof(DIMOUSESTATE2), std::size(kMouse2Objects),  kMouse2Objects};
const DIDATAFORMAT c_dfDIJoystick = {
    sizeof(DIDATAFORMAT),    sizeof(DIOBJECTDATAFORMAT), DIDF_ABSAXIS, sizeof(DIJOYSTATE), 44,
    kJoystickObjects.objects};

int DikFromScancode(int scancode) {
  return scancode > 0 && scancode < kScancodes ? kKeys.dikOf[scancode] : 0;
}

int ScancodeFromDik(int dik) { return dik > 0 && dik < 256 ? kKeys.scancodeOf[dik] : 0; }

namespace {

// ---- Device objects and what a read gives them ----
enum class Kind { Axis, Button, Pov };

struct DeviceObject {
  const GUID* guidType;
  DWORD type;      // one of DIDFT_RELAXIS, DIDFT_ABSAXIS, DIDFT_PSHBUTTON, DIDFT_POV
  DWORD instance;  // numbered per type (for keys: the DIK code)
  Kind kind;
  int source;  // index into the snapshot's values of that kind
  LONG rangeMin = 0, rangeMax = 65535;
};

// Raw values of one read, before the data format places them.
struct Snapshot {
  std::vector<LONG> axes;
  std::vector<BYTE> buttons;
  std::vector<DWORD> povs;
};

struct Binding {
  DWORD offset;
  int object;  // index into the device's objects
};

bool TypeMatches(DWORD wanted, DWORD have) {
  const DWORD kinds = wanted & DIDFT_TYPEMASK;
  return kinds == 0 || (kinds & have) != 0;
}

// Joysticks get instance GUIDs of this shape, with the pad's instance number in Data1.
constexpr std::uint16_t kJoyData2 = 0x7A31, kJoyData3 = 0x11D8;
constexpr std::uint8_t kJoyData4[8] = {0x9B, 0x21, 0x00, 0x0C, 0x6E, 0x4D, 0x4A, 0x59};

GUID JoystickInstanceGuid(std::uint32_t instance) {
  GUID g{instance, kJoyData2, kJoyData3, {}};
  std::memcpy(g.Data4, kJoyData4, 8);
  return g;
}

bool IsJoystickInstanceGuid(const GUID& g) {
  return g.Data2 == kJoyData2 && g.Data3 == kJoyData3 && std::memcmp(g.Data4, kJoyData4, 8) == 0;
}

GUID JoystickProductGuid(const std::string& name) {
  std::uint32_t h = 2166136261u;  // FNV-1a: the same product name gives the same GUID
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  GUID g{h, 0x0000, 0x0000, {}};
  std::memcpy(g.Data4, "\0\0PIDVID", 8);
  return g;
}

// A controller keeps its instance number across being pulled out and plugged in again, as a
// device's instance GUID does: the backend gives the returning pad a new id of its own, and it
// takes the number of the pad of its name that left before it, so the devices the program
// made for that number read it again. Numbers are counted afresh for every backend.
class PadNumbers {
 public:
  static PadNumbers& Current() {
    static PadNumbers numbers;
    backend::Backend& b = backend::Backend::Current();
    if (numbers.serial_ != b.Serial) numbers = PadNumbers(b.Serial);
    numbers.Refresh(b.Joysticks());
    return numbers;
  }
  // The pads plugged in now, each with its number.
  const std::vector<std::pair<std::uint32_t, backend::JoystickInfo>>& Attached() const {
    return attached_;
  }
  // The backend's id of the pad that has `number` now; false while it is unplugged.
  bool BackendId(std::uint32_t number, std::uint32_t& id) const {
    for (const auto& [n, info] : attached_)
      if (n == number) {
        id = info.instance;
        return true;
      }
    return false;
  }

 private:
  struct Slot {
    std::string name;
    bool plugged = false;
    std::uint32_t backendId = 0;
  };
  PadNumbers(std::uint64_t serial = 0) : serial_(serial) {}

  void Refresh(const std::vector<backend::JoystickInfo>& list) {
    for (Slot& s : slots_) {
      s.plugged = s.plugged && std::any_of(list.begin(), list.end(), [&](const auto& j) {
                    return j.instance == s.backendId && j.name == s.name;
                  });
    }
    attached_.clear();
    for (const backend::JoystickInfo& j : list) {
      std::size_t n = 0;
      while (n < slots_.size() && !(slots_[n].plugged && slots_[n].backendId == j.instance)) ++n;
      if (n == slots_.size()) {
        n = 0;
        while (n < slots_.size() && (slots_[n].plugged || slots_[n].name != j.name)) ++n;
        if (n == slots_.size()) slots_.emplace_back();
        slots_[n] = {j.name, true, j.instance};
      }
      attached_.emplace_back(static_cast<std::uint32_t>(n), j);
    }
  }

  std::uint64_t serial_ = 0;
  std::vector<Slot> slots_;  // by number
  std::vector<std::pair<std::uint32_t, backend::JoystickInfo>> attached_;
};

void CopyName(char (&dst)[260], const std::string& src) {
  const std::size_t n = std::min<std::size_t>(src.size(), sizeof(dst) - 1);
  std::memcpy(dst, src.data(), n);
  std::memset(dst + n, 0, sizeof(dst) - n);
}

DWORD PovFromHat(std::uint8_t bits) {
  switch (bits & 0x0F) {
    case 1:
      return 0;
    case 1 | 2:
      return 4500;
    case 2:
      return 9000;
    case 2 | 4:
      return 13500;
    case 4:
      return 18000;
    case 4 | 8:
      return 22500;
    case 8:
      return 27000;
    case 8 | 1:
      return 31500;
    default:
      return 0xFFFFFFFFu;  // centred (or an impossible combination)
  }
}

// Joysticks acquired exclusively, by instance: one exclusive owner at a time.
std::vector<std::pair<std::uint64_t, const void*>>& ExclusiveOwners() {
  static std::vector<std::pair<std::uint64_t, const void*>> owners;
  return owners;
}

class TDirectInputDevice : public TRefCounted<IDirectInputDevice8A> {
 public:
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IDirectInputDevice8A) {
      AddRef();
      *ppv = static_cast<IDirectInputDevice8A*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  HRESULT GetProperty(DIPROPID prop, DIPROPHEADER* ph) override {
    if (!ph || ph->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    if (prop != DIPROP_RANGE) return DIERR_UNSUPPORTED;
    if (ph->dwSize != sizeof(DIPROPRANGE) || ph->dwHow == DIPH_DEVICE) return DIERR_INVALIDPARAM;
    const int obj = FindObject(ph->dwObj, ph->dwHow);
    if (obj < 0 || Objects[obj].type != DIDFT_ABSAXIS) return DIERR_OBJECTNOTFOUND;
    auto* range = reinterpret_cast<DIPROPRANGE*>(ph);
    range->lMin = Objects[obj].rangeMin;
    range->lMax = Objects[obj].rangeMax;
    return DI_OK;
  }

  HRESULT SetProperty(DIPROPID prop, const DIPROPHEADER* ph) override {
    if (!ph || ph->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    if (prop != DIPROP_RANGE) return DIERR_UNSUPPORTED;
    if (ph->dwSize != sizeof(DIPROPRANGE)) return DIERR_INVALIDPARAM;
    const auto* range = reinterpret_cast<const DIPROPRANGE*>(ph);
    if (range->lMin >= range->lMax) return DIERR_INVALIDPARAM;
    if (ph->dwHow == DIPH_DEVICE) {
      if (ph->dwObj != 0) return DIERR_INVALIDPARAM;
      bool any = false;
      for (DeviceObject& o : Objects)
        if (o.type == DIDFT_ABSAXIS) {
          o.rangeMin = range->lMin;
          o.rangeMax = range->lMax;
          any = true;
        }
      return any ? DI_OK : DIERR_UNSUPPORTED;
    }
    const int obj = FindObject(ph->dwObj, ph->dwHow);
    if (obj < 0) return ph->dwHow > DIPH_BYID ? DIERR_INVALIDPARAM : DIERR_OBJECTNOTFOUND;
    // Relative axes have no range.
    if (Objects[obj].type != DIDFT_ABSAXIS) return DIERR_UNSUPPORTED;
    Objects[obj].rangeMin = range->lMin;
    Objects[obj].rangeMax = range->lMax;
    return DI_OK;
  }

  HRESULT Acquire() override {
    if (!HasFormat) return DIERR_INVALIDPARAM;
    if (Acquired) return DI_NOEFFECT;
    if (!Attached()) return DIERR_UNPLUGGED;
    if ((CoopLevel & DISCL_FOREGROUND) && !WindowHasFocus()) return DIERR_OTHERAPPHASPRIO;
    if (CoopLevel & DISCL_EXCLUSIVE) {
      auto& owners = ExclusiveOwners();
      for (auto& [id, owner] : owners)
        if (id == ExclusiveId() && owner != this) return DIERR_OTHERAPPHASPRIO;
      owners.emplace_back(ExclusiveId(), this);
    }
    Acquired = true;
    OnAcquire();
    return DI_OK;
  }

  HRESULT Unacquire() override {
    if (!Acquired) return DI_NOEFFECT;
    DropAcquisition();
    return DI_OK;
  }

  HRESULT GetDeviceState(DWORD cbData, void* data) override {
    if (const HRESULT hr = CheckReadable(); hr != DI_OK) return hr;
    if (!data || cbData != DataSize) return DIERR_INVALIDPARAM;
    Snapshot snap;
    if (!Sample(snap)) {
      DropAcquisition();  // unplugged while acquired
      return DIERR_INPUTLOST;
    }
    auto* out = static_cast<BYTE*>(data);
    std::memset(out, 0, cbData);
    for (const Binding& b : Bindings) {
      const DeviceObject& o = Objects[b.object];
      switch (o.kind) {
        case Kind::Axis: {
          LONG v = o.source < static_cast<int>(snap.axes.size()) ? snap.axes[o.source] : 0;
          if (o.type == DIDFT_ABSAXIS) v = ScaleAxis(v, o);
          std::memcpy(out + b.offset, &v, 4);
          break;
        }
        case Kind::Button:
          out[b.offset] =
              o.source < static_cast<int>(snap.buttons.size()) && snap.buttons[o.source] ? 0x80 : 0;
          break;
        case Kind::Pov: {
          const DWORD v =
              o.source < static_cast<int>(snap.povs.size()) ? snap.povs[o.source] : 0xFFFFFFFFu;
          std::memcpy(out + b.offset, &v, 4);
          break;
        }
      }
    }
    return DI_OK;
  }

  HRESULT SetDataFormat(const DIDATAFORMAT* df) override {
    if (Acquired) return DIERR_ACQUIRED;
    if (!df || df->dwSize != sizeof(DIDATAFORMAT) || df->dwObjSize != sizeof(DIOBJECTDATAFORMAT) ||
        df->dwDataSize == 0 || df->dwDataSize % 4 != 0 || (df->dwNumObjs && !df->rgodf))
      return DIERR_INVALIDPARAM;
    std::vector<Binding> bindings;
    std::vector<bool> used(Objects.size());
    for (DWORD i = 0; i < df->dwNumObjs; ++i) {
      const DIOBJECTDATAFORMAT& f = df->rgodf[i];
      const bool wide = (f.dwType & (DIDFT_AXIS | DIDFT_POV)) != 0;
      const DWORD width = wide ? 4 : 1;
      if ((wide && f.dwOfs % 4 != 0) || f.dwOfs > df->dwDataSize - width) return DIERR_INVALIDPARAM;
      const DWORD inst = DIDFT_GETINSTANCE(f.dwType);
      int found = -1;
      for (std::size_t j = 0; j < Objects.size() && found < 0; ++j) {
        const DeviceObject& o = Objects[j];
        if (used[j] || !TypeMatches(f.dwType, o.type)) continue;
        if (inst != 0xFFFF && inst != o.instance) continue;
        if (f.pguid && !(*f.pguid == *o.guidType)) continue;
        found = static_cast<int>(j);
      }
      if (found < 0) {
        if (f.dwType & DIDFT_OPTIONAL) continue;
        return DIERR_INVALIDPARAM;
      }
      used[found] = true;
      bindings.push_back({f.dwOfs, found});
    }
    Bindings = std::move(bindings);
    DataSize = df->dwDataSize;
    AbsoluteAxes = (df->dwFlags & DIDF_ABSAXIS) != 0;
    HasFormat = true;
    return DI_OK;
  }

  HRESULT SetCooperativeLevel(HWND hwnd, DWORD flags) override {
    const DWORD excl = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
    const DWORD fore = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
    if (excl == 0 || excl == (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE) || fore == 0 ||
        fore == (DISCL_FOREGROUND | DISCL_BACKGROUND) ||
        (flags & ~(excl | fore | DISCL_NOWINKEY)) != 0)
      return DIERR_INVALIDPARAM;
    // Focus is judged by the window, so a foreground level needs one.
    if ((fore & DISCL_FOREGROUND) && hwnd == 0) return DIERR_INVALIDPARAM;
    if (Acquired) return DIERR_ACQUIRED;
    if (!LevelAllowed(flags)) return DIERR_UNSUPPORTED;
    Window = hwnd;
    CoopLevel = flags;
    return DI_OK;
  }

  HRESULT GetDeviceInfo(DIDEVICEINSTANCEA* info) override {
    if (!info || info->dwSize != sizeof(DIDEVICEINSTANCEA)) return DIERR_INVALIDPARAM;
    *info = Instance;
    return DI_OK;
  }

  HRESULT Poll() override {
    if (const HRESULT hr = CheckReadable(); hr != DI_OK) return hr;
    return PollResult();
  }

 protected:
  ~TDirectInputDevice() override {
    if (Acquired) DropAcquisition();
  }

  virtual bool Attached() { return true; }
  virtual bool LevelAllowed(DWORD flags) { return true; }
  virtual std::uint64_t ExclusiveId() const { return 0; }
  virtual void OnAcquire() {}
  virtual void OnFocusLost() {}
  virtual bool Sample(Snapshot& snap) = 0;
  virtual HRESULT PollResult() { return DI_NOEFFECT; }

  bool WindowHasFocus() { return Window != 0 && backend::Backend::Current().HasFocus(Window); }

  // Reads need the device acquired, and a foreground device loses its acquisition as soon as its
  // window loses the focus.
  HRESULT CheckReadable() {
    if (!Acquired) return DIERR_NOTACQUIRED;
    if ((CoopLevel & DISCL_FOREGROUND) && !WindowHasFocus()) {
      OnFocusLost();
      DropAcquisition();
      return DIERR_INPUTLOST;
    }
    return DI_OK;
  }

  void DropAcquisition() {
    Acquired = false;
    auto& owners = ExclusiveOwners();
    std::erase_if(owners, [this](const auto& e) { return e.second == this; });
  }

  void AddObject(const GUID& guidType, DWORD type, DWORD instance, Kind kind, int source) {
    Objects.push_back({&guidType, type, instance, kind, source});
  }

  static LONG ScaleAxis(LONG raw, const DeviceObject& o) {
    // Raw values run over -32768..32767; spread them over the object's range, rounding.
    const std::int64_t span = std::int64_t{o.rangeMax} - o.rangeMin;
    const std::int64_t pos = std::int64_t{std::clamp<LONG>(raw, -32768, 32767)} + 32768;
    return static_cast<LONG>(o.rangeMin + (pos * span + 32767) / 65535);
  }

  int FindObject(DWORD obj, DWORD how) const {
    if (how == DIPH_BYOFFSET) {
      if (!HasFormat) return -1;
      for (const Binding& b : Bindings)
        if (b.offset == obj) return b.object;
      return -1;
    }
    if (how == DIPH_BYID) {
      for (std::size_t j = 0; j < Objects.size(); ++j)
        if ((Objects[j].type & obj & DIDFT_TYPEMASK) &&
            Objects[j].instance == DIDFT_GETINSTANCE(obj))
          return static_cast<int>(j);
    }
    return -1;
  }

  DIDEVICEINSTANCEA Instance{};
  std::vector<DeviceObject> Objects;
  std::vector<Binding> Bindings;
  DWORD DataSize = 0;
  bool HasFormat = false;
  bool AbsoluteAxes = false;
  bool Acquired = false;
  // Until a level is set a device reads in the background without a window.
  DWORD CoopLevel = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
  HWND Window = 0;
};

class TKeyboardDevice : public TDirectInputDevice {
 public:
  TKeyboardDevice() {
    Instance.dwSize = sizeof(Instance);
    Instance.guidInstance = GUID_SysKeyboard;
    Instance.guidProduct = GUID_SysKeyboard;
    Instance.dwDevType = DI8DEVTYPE_KEYBOARD;
    CopyName(Instance.tszInstanceName, "Keyboard");
    CopyName(Instance.tszProductName, "Keyboard");
    for (int dik = 1; dik < 256; ++dik)
      if (ScancodeFromDik(dik) != 0)
        AddObject(GUID_Key, DIDFT_PSHBUTTON, static_cast<DWORD>(dik), Kind::Button, dik);
  }

 protected:
  // The system keys stay with the system however the keyboard is acquired.
  bool LevelAllowed(DWORD flags) override {
    return !((flags & DISCL_EXCLUSIVE) && (flags & DISCL_BACKGROUND));
  }

  // Keys held when the focus went must not stay down: they read as up until let go once.
  void OnFocusLost() override {
    const std::uint8_t* keys = backend::Backend::Current().KeyboardState();
    for (int sc = 0; sc < kScancodes; ++sc) Suppressed[sc] = keys && keys[sc] != 0;
  }

  bool Sample(Snapshot& snap) override {
    const std::uint8_t* keys = backend::Backend::Current().KeyboardState();
    snap.buttons.assign(256, 0);
    if (!keys) return true;
    for (int sc = 0; sc < kScancodes; ++sc) {
      if (!keys[sc]) {
        Suppressed[sc] = false;
        continue;
      }
      if (Suppressed[sc]) continue;
      if (const int dik = kKeys.dikOf[sc]) snap.buttons[dik] = 1;
    }
    return true;
  }

 private:
  std::array<bool, kScancodes> Suppressed{};
};

class TMouseDevice : public TDirectInputDevice {
 public:
  static constexpr int kButtons = 5;  // left, right, middle and the two side buttons

  TMouseDevice() {
    Instance.dwSize = sizeof(Instance);
    Instance.guidInstance = GUID_SysMouse;
    Instance.guidProduct = GUID_SysMouse;
    Instance.dwDevType = DI8DEVTYPE_MOUSE;
    CopyName(Instance.tszInstanceName, "Mouse");
    CopyName(Instance.tszProductName, "Mouse");
    AddObject(GUID_XAxis, DIDFT_RELAXIS, 0, Kind::Axis, 0);
    AddObject(GUID_YAxis, DIDFT_RELAXIS, 1, Kind::Axis, 1);
    AddObject(GUID_ZAxis, DIDFT_RELAXIS, 2, Kind::Axis, 2);
    for (int i = 0; i < kButtons; ++i)
      AddObject(GUID_Button, DIDFT_PSHBUTTON, static_cast<DWORD>(i), Kind::Button, i);
  }

 protected:
  // Motion counts from the moment of acquisition.
  void OnAcquire() override { backend::Backend::Current().ReadMouse(); }

  bool Sample(Snapshot& snap) override {
    const backend::MouseState m = backend::Backend::Current().ReadMouse();
    snap.axes.assign(3, 0);
    snap.buttons.assign(kButtons, 0);
    // A background mouse whose window has no focus reports nothing: what the pointer does over
    // other programs is not ours to see.
    if (!WindowHasFocus()) return true;
    const LONG d[3] = {m.dx, m.dy, m.wheel * 120};
    for (int i = 0; i < 3; ++i) {
      Position[i] += d[i];
      snap.axes[i] = AbsoluteAxes ? Position[i] : d[i];
    }
    for (int i = 0; i < kButtons; ++i) snap.buttons[i] = (m.buttons >> i) & 1;
    return true;
  }

 private:
  LONG Position[3] = {0, 0, 0};
};

class TJoystickDevice : public TDirectInputDevice {
 public:
  static constexpr int kMaxAxes = 8, kMaxButtons = 128, kMaxPovs = 4;

  TJoystickDevice(std::uint32_t number, const backend::JoystickInfo& info) : Number(number) {
    Instance.dwSize = sizeof(Instance);
    Instance.guidInstance = JoystickInstanceGuid(number);
    Instance.guidProduct = JoystickProductGuid(info.name);
    Instance.dwDevType = DI8DEVTYPE_GAMEPAD | DIDEVTYPE_HID;
    CopyName(Instance.tszInstanceName, info.name);
    CopyName(Instance.tszProductName, info.name);
    // Axes in the order the device reports them: X, Y, Z, Rx, Ry, Rz, then two sliders.
    const GUID* axisGuids[kMaxAxes] = {&GUID_XAxis,  &GUID_YAxis,  &GUID_ZAxis,  &GUID_RxAxis,
                                       &GUID_RyAxis, &GUID_RzAxis, &GUID_Slider, &GUID_Slider};
    for (int i = 0; i < std::min(info.axes, kMaxAxes); ++i)
      AddObject(*axisGuids[i], DIDFT_ABSAXIS, static_cast<DWORD>(i), Kind::Axis, i);
    for (int i = 0; i < std::min(info.buttons, kMaxButtons); ++i)
      AddObject(GUID_Button, DIDFT_PSHBUTTON, static_cast<DWORD>(i), Kind::Button, i);
    for (int i = 0; i < std::min(info.hats, kMaxPovs); ++i)
      AddObject(GUID_POV, DIDFT_POV, static_cast<DWORD>(i), Kind::Pov, i);
  }

 protected:
  bool Attached() override {
    std::uint32_t id;
    return PadNumbers::Current().BackendId(Number, id);
  }
  std::uint64_t ExclusiveId() const override { return Number; }
  HRESULT PollResult() override { return DI_OK; }

  bool Sample(Snapshot& snap) override {
    std::uint32_t id;
    backend::JoystickState st;
    if (!PadNumbers::Current().BackendId(Number, id) ||
        !backend::Backend::Current().ReadJoystick(id, st))
      return false;
    snap.axes.assign(st.axes.begin(), st.axes.end());
    snap.buttons.assign(st.buttons.begin(), st.buttons.end());
    for (std::uint8_t h : st.hats) snap.povs.push_back(PovFromHat(h));
    return true;
  }

 private:
  std::uint32_t Number;  // the pad's instance number, which outlives its plugging
};

class TDirectInput8 : public TRefCounted<IDirectInput8A> {
 public:
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IDirectInput8A) {
      AddRef();
      *ppv = static_cast<IDirectInput8A*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  HRESULT CreateDevice(const GUID& rguid, IDirectInputDevice8A** out, IUnknown* outer) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return DIERR_INVALIDPARAM;  // no aggregation
    if (rguid == GUID_SysKeyboard) {
      *out = new TKeyboardDevice;
      return DI_OK;
    }
    if (rguid == GUID_SysMouse) {
      *out = new TMouseDevice;
      return DI_OK;
    }
    if (IsJoystickInstanceGuid(rguid))
      for (const auto& [number, j] : PadNumbers::Current().Attached())
        if (number == rguid.Data1) {
          *out = new TJoystickDevice(number, j);
          return DI_OK;
        }
    return DIERR_DEVICENOTREG;
  }

  HRESULT EnumDevices(DWORD devType, LPDIENUMDEVICESCALLBACKA callback, void* ref,
                      DWORD flags) override {
    if (!callback || devType > DI8DEVCLASS_GAMECTRL) return DIERR_INVALIDPARAM;
    std::vector<DIDEVICEINSTANCEA> found;
    const bool ffOnly = (flags & DIEDFL_FORCEFEEDBACK) != 0;
    // Keyboard and mouse play no effects.
    if (!ffOnly && (devType == DI8DEVCLASS_ALL || devType == DI8DEVCLASS_KEYBOARD)) {
      TKeyboardDevice* k = new TKeyboardDevice;
      found.emplace_back().dwSize = sizeof(DIDEVICEINSTANCEA);
      k->GetDeviceInfo(&found.back());
      k->Release();
    }
    if (!ffOnly && (devType == DI8DEVCLASS_ALL || devType == DI8DEVCLASS_POINTER)) {
      TMouseDevice* m = new TMouseDevice;
      found.emplace_back().dwSize = sizeof(DIDEVICEINSTANCEA);
      m->GetDeviceInfo(&found.back());
      m->Release();
    }
    if (devType == DI8DEVCLASS_ALL || devType == DI8DEVCLASS_GAMECTRL) {
      // Taken once up front: the callback may create devices while we walk the list.
      const auto pads = PadNumbers::Current().Attached();
      for (const auto& [number, j] : pads) {
        if (ffOnly && !j.forceFeedback) continue;
        DIDEVICEINSTANCEA& d = found.emplace_back();
        d.dwSize = sizeof(d);
        d.guidInstance = JoystickInstanceGuid(number);
        d.guidProduct = JoystickProductGuid(j.name);
        d.dwDevType = DI8DEVTYPE_GAMEPAD | DIDEVTYPE_HID;
        CopyName(d.tszInstanceName, j.name);
        CopyName(d.tszProductName, j.name);
      }
    }
    for (const DIDEVICEINSTANCEA& d : found)
      if (callback(&d, ref) == DIENUM_STOP) break;
    return DI_OK;
  }

  HRESULT GetDeviceStatus(const GUID& g) override {
    if (g == GUID_SysKeyboard || g == GUID_SysMouse) return DI_OK;
    if (IsJoystickInstanceGuid(g)) {
      std::uint32_t id;
      return PadNumbers::Current().BackendId(g.Data1, id) ? DI_OK : DI_NOEFFECT;
    }
    return DIERR_DEVICENOTREG;
  }

 protected:
  ~TDirectInput8() override = default;
};

}  // namespace

HRESULT DirectInput8Create(HINSTANCE hinst, DWORD dwVersion, const IID& riidltf, void** ppvOut,
                           IUnknown* punkOuter) {
  if (!ppvOut) return E_POINTER;
  *ppvOut = nullptr;
  if (punkOuter) return DIERR_INVALIDPARAM;
  if (dwVersion < DIRECTINPUT_VERSION) return DIERR_OLDDIRECTINPUTVERSION;
  if (dwVersion > DIRECTINPUT_VERSION) return DIERR_BETADIRECTINPUTVERSION;
  if (!(riidltf == IID_IDirectInput8A)) return DIERR_NOINTERFACE;
  *ppvOut = static_cast<IDirectInput8A*>(new TDirectInput8);
  return DI_OK;
}
