// DirectInput 8 over the backend: the keyboard, the mouse and every attached joystick or game
// pad, read by device state through data formats, with the cooperative levels and the
// acquire/focus rules programs written for it expect. Only the calls, records and constants the
// framework uses are declared; the values are the published ones, so code that stores or
// compares them keeps working.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win/Unknwn.h"
#include "platform/win/WinTypes.h"

constexpr DWORD DIRECTINPUT_VERSION = 0x0800;

// ---- Result codes ----
constexpr HRESULT DI_OK = S_OK;
constexpr HRESULT DI_NOEFFECT = S_FALSE;
constexpr HRESULT DI_POLLEDDEVICE = 2;
constexpr HRESULT DIERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DIERR_NOINTERFACE = E_NOINTERFACE;
constexpr HRESULT DIERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DIERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DIERR_GENERIC = E_FAIL;
constexpr HRESULT DIERR_BETADIRECTINPUTVERSION = static_cast<HRESULT>(0x80070481u);
constexpr HRESULT DIERR_OLDDIRECTINPUTVERSION = static_cast<HRESULT>(0x8007047Eu);
constexpr HRESULT DIERR_DEVICENOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT DIERR_NOTFOUND = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT DIERR_OBJECTNOTFOUND = DIERR_NOTFOUND;
constexpr HRESULT DIERR_INPUTLOST = static_cast<HRESULT>(0x8007001Eu);
constexpr HRESULT DIERR_NOTACQUIRED = static_cast<HRESULT>(0x8007000Cu);
constexpr HRESULT DIERR_ACQUIRED = static_cast<HRESULT>(0x800700AAu);
constexpr HRESULT DIERR_OTHERAPPHASPRIO = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT DIERR_UNPLUGGED = static_cast<HRESULT>(0x80040209u);
constexpr HRESULT DIERR_NOTINITIALIZED = static_cast<HRESULT>(0x80070015u);

// ---- Device classes, types, enumeration ----
constexpr DWORD DI8DEVCLASS_ALL = 0;
constexpr DWORD DI8DEVCLASS_DEVICE = 1;
constexpr DWORD DI8DEVCLASS_POINTER = 2;
constexpr DWORD DI8DEVCLASS_KEYBOARD = 3;
constexpr DWORD DI8DEVCLASS_GAMECTRL = 4;

constexpr DWORD DI8DEVTYPE_MOUSE = 0x12;
constexpr DWORD DI8DEVTYPE_KEYBOARD = 0x13;
constexpr DWORD DI8DEVTYPE_JOYSTICK = 0x14;
constexpr DWORD DI8DEVTYPE_GAMEPAD = 0x15;
constexpr DWORD DIDEVTYPE_HID = 0x00010000;

constexpr DWORD DIEDFL_ALLDEVICES = 0x00000000;
constexpr DWORD DIEDFL_ATTACHEDONLY = 0x00000001;
constexpr DWORD DIEDFL_FORCEFEEDBACK = 0x00000100;

constexpr BOOL DIENUM_STOP = 0;
constexpr BOOL DIENUM_CONTINUE = 1;

// ---- Cooperative levels ----
constexpr DWORD DISCL_EXCLUSIVE = 0x00000001;
constexpr DWORD DISCL_NONEXCLUSIVE = 0x00000002;
constexpr DWORD DISCL_FOREGROUND = 0x00000004;
constexpr DWORD DISCL_BACKGROUND = 0x00000008;
constexpr DWORD DISCL_NOWINKEY = 0x00000010;

// ---- Data formats ----
constexpr DWORD DIDF_ABSAXIS = 0x00000001;
constexpr DWORD DIDF_RELAXIS = 0x00000002;

constexpr DWORD DIDFT_ALL = 0x00000000;
constexpr DWORD DIDFT_RELAXIS = 0x00000001;
constexpr DWORD DIDFT_ABSAXIS = 0x00000002;
constexpr DWORD DIDFT_AXIS = 0x00000003;
constexpr DWORD DIDFT_PSHBUTTON = 0x00000004;
constexpr DWORD DIDFT_TGLBUTTON = 0x00000008;
constexpr DWORD DIDFT_BUTTON = 0x0000000C;
constexpr DWORD DIDFT_POV = 0x00000010;
constexpr DWORD DIDFT_TYPEMASK = 0x000000FF;
constexpr DWORD DIDFT_INSTANCEMASK = 0x00FFFF00;
constexpr DWORD DIDFT_ANYINSTANCE = 0x00FFFF00;
constexpr DWORD DIDFT_OPTIONAL = 0x80000000;
constexpr DWORD DIDFT_MAKEINSTANCE(DWORD n) { return (n & 0xFFFF) << 8; }
constexpr DWORD DIDFT_GETINSTANCE(DWORD type) { return (type >> 8) & 0xFFFF; }

// ---- Properties ----
// Property ids are small integers passed where a GUID pointer is expected; they are compared,
// never dereferenced.
using DIPROPID = const GUID*;
inline const DIPROPID DIPROP_BUFFERSIZE = reinterpret_cast<DIPROPID>(std::uintptr_t{1});
inline const DIPROPID DIPROP_AXISMODE = reinterpret_cast<DIPROPID>(std::uintptr_t{2});
inline const DIPROPID DIPROP_RANGE = reinterpret_cast<DIPROPID>(std::uintptr_t{4});
inline const DIPROPID DIPROP_DEADZONE = reinterpret_cast<DIPROPID>(std::uintptr_t{5});
inline const DIPROPID DIPROP_SATURATION = reinterpret_cast<DIPROPID>(std::uintptr_t{6});

constexpr DWORD DIPH_DEVICE = 0;
constexpr DWORD DIPH_BYOFFSET = 1;
constexpr DWORD DIPH_BYID = 2;

// ---- GUIDs ----
extern const GUID IID_IDirectInput8A;
extern const GUID IID_IDirectInputDevice8A;
extern const GUID GUID_SysKeyboard;
extern const GUID GUID_SysMouse;
extern const GUID GUID_XAxis;
extern const GUID GUID_YAxis;
extern const GUID GUID_ZAxis;
extern const GUID GUID_RxAxis;
extern const GUID GUID_RyAxis;
extern const GUID GUID_RzAxis;
extern const GUID GUID_Slider;
extern const GUID GUID_Button;
extern const GUID GUID_Key;
extern const GUID GUID_POV;
extern const GUID GUID_Unknown;

// ---- Records ----
#pragma pack(push, 4)
struct DIOBJECTDATAFORMAT {
  const GUID* pguid;  // nullptr: any kind of object of the type
  DWORD dwOfs;
  DWORD dwType;
  DWORD dwFlags;
};

struct DIDATAFORMAT {
  DWORD dwSize;
  DWORD dwObjSize;
  DWORD dwFlags;
  DWORD dwDataSize;
  DWORD dwNumObjs;
  const DIOBJECTDATAFORMAT* rgodf;
};

struct DIPROPHEADER {
  DWORD dwSize;
  DWORD dwHeaderSize;
  DWORD dwObj;
  DWORD dwHow;
};

struct DIPROPRANGE {
  DIPROPHEADER diph;
  LONG lMin;
  LONG lMax;
};

struct DIPROPDWORD {
  DIPROPHEADER diph;
  DWORD dwData;
};

struct DIJOYSTATE {
  LONG lX;
  LONG lY;
  LONG lZ;
  LONG lRx;
  LONG lRy;
  LONG lRz;
  LONG rglSlider[2];
  DWORD rgdwPOV[4];
  BYTE rgbButtons[32];
};

struct DIMOUSESTATE2 {
  LONG lX;
  LONG lY;
  LONG lZ;
  BYTE rgbButtons[8];
};

struct DIDEVICEINSTANCEA {
  DWORD dwSize;
  GUID guidInstance;
  GUID guidProduct;
  DWORD dwDevType;
  char tszInstanceName[260];
  char tszProductName[260];
  GUID guidFFDriver;
  WORD wUsagePage;
  WORD wUsage;
};
#pragma pack(pop)

static_assert(sizeof(DIPROPHEADER) == 16);
static_assert(sizeof(DIPROPRANGE) == 24);
static_assert(sizeof(DIJOYSTATE) == 80);
static_assert(offsetof(DIJOYSTATE, rglSlider) == 24);
static_assert(offsetof(DIJOYSTATE, rgdwPOV) == 32);
static_assert(offsetof(DIJOYSTATE, rgbButtons) == 48);
static_assert(sizeof(DIMOUSESTATE2) == 20);

using DIDEVICEINSTANCE = DIDEVICEINSTANCEA;
using LPCDIDEVICEINSTANCEA = const DIDEVICEINSTANCEA*;
using LPDIENUMDEVICESCALLBACKA = BOOL (*)(LPCDIDEVICEINSTANCEA lpddi, void* pvRef);

// The published formats: 256 key bytes indexed by DIK code, the eight-button mouse, and the
// 80-byte joystick record.
extern const DIDATAFORMAT c_dfDIKeyboard;
extern const DIDATAFORMAT c_dfDIMouse2;
extern const DIDATAFORMAT c_dfDIJoystick;

// Byte offset of slider N in DIJOYSTATE.
constexpr DWORD JoySliderOffset(int n) { return 24 + 4 * static_cast<DWORD>(n); }

// ---- Keyboard: DIK codes, the index of each key in the 256-byte keyboard state ----
constexpr int DIK_ESCAPE = 0x01;
constexpr int DIK_1 = 0x02;
constexpr int DIK_2 = 0x03;
constexpr int DIK_3 = 0x04;
constexpr int DIK_4 = 0x05;
constexpr int DIK_5 = 0x06;
constexpr int DIK_6 = 0x07;
constexpr int DIK_7 = 0x08;
constexpr int DIK_8 = 0x09;
constexpr int DIK_9 = 0x0A;
constexpr int DIK_0 = 0x0B;
constexpr int DIK_MINUS = 0x0C;
constexpr int DIK_EQUALS = 0x0D;
constexpr int DIK_BACK = 0x0E;
constexpr int DIK_TAB = 0x0F;
constexpr int DIK_Q = 0x10;
constexpr int DIK_W = 0x11;
constexpr int DIK_E = 0x12;
constexpr int DIK_R = 0x13;
constexpr int DIK_T = 0x14;
constexpr int DIK_Y = 0x15;
constexpr int DIK_U = 0x16;
constexpr int DIK_I = 0x17;
constexpr int DIK_O = 0x18;
constexpr int DIK_P = 0x19;
constexpr int DIK_LBRACKET = 0x1A;
constexpr int DIK_RBRACKET = 0x1B;
constexpr int DIK_RETURN = 0x1C;
constexpr int DIK_LCONTROL = 0x1D;
constexpr int DIK_A = 0x1E;
constexpr int DIK_S = 0x1F;
constexpr int DIK_D = 0x20;
constexpr int DIK_F = 0x21;
constexpr int DIK_G = 0x22;
constexpr int DIK_H = 0x23;
constexpr int DIK_J = 0x24;
constexpr int DIK_K = 0x25;
constexpr int DIK_L = 0x26;
constexpr int DIK_SEMICOLON = 0x27;
constexpr int DIK_APOSTROPHE = 0x28;
constexpr int DIK_GRAVE = 0x29;
constexpr int DIK_LSHIFT = 0x2A;
constexpr int DIK_BACKSLASH = 0x2B;
constexpr int DIK_Z = 0x2C;
constexpr int DIK_X = 0x2D;
constexpr int DIK_C = 0x2E;
constexpr int DIK_V = 0x2F;
constexpr int DIK_B = 0x30;
constexpr int DIK_N = 0x31;
constexpr int DIK_M = 0x32;
constexpr int DIK_COMMA = 0x33;
constexpr int DIK_PERIOD = 0x34;
constexpr int DIK_SLASH = 0x35;
constexpr int DIK_RSHIFT = 0x36;
constexpr int DIK_MULTIPLY = 0x37;
constexpr int DIK_LMENU = 0x38;
constexpr int DIK_SPACE = 0x39;
constexpr int DIK_CAPITAL = 0x3A;
constexpr int DIK_F1 = 0x3B;
constexpr int DIK_F2 = 0x3C;
constexpr int DIK_F3 = 0x3D;
constexpr int DIK_F4 = 0x3E;
constexpr int DIK_F5 = 0x3F;
constexpr int DIK_F6 = 0x40;
constexpr int DIK_F7 = 0x41;
constexpr int DIK_F8 = 0x42;
constexpr int DIK_F9 = 0x43;
constexpr int DIK_F10 = 0x44;
constexpr int DIK_NUMLOCK = 0x45;
constexpr int DIK_SCROLL = 0x46;
constexpr int DIK_NUMPAD7 = 0x47;
constexpr int DIK_NUMPAD8 = 0x48;
constexpr int DIK_NUMPAD9 = 0x49;
constexpr int DIK_SUBTRACT = 0x4A;
constexpr int DIK_NUMPAD4 = 0x4B;
constexpr int DIK_NUMPAD5 = 0x4C;
constexpr int DIK_NUMPAD6 = 0x4D;
constexpr int DIK_ADD = 0x4E;
constexpr int DIK_NUMPAD1 = 0x4F;
constexpr int DIK_NUMPAD2 = 0x50;
constexpr int DIK_NUMPAD3 = 0x51;
constexpr int DIK_NUMPAD0 = 0x52;
constexpr int DIK_DECIMAL = 0x53;
constexpr int DIK_OEM_102 = 0x56;
constexpr int DIK_F11 = 0x57;
constexpr int DIK_F12 = 0x58;
constexpr int DIK_F13 = 0x64;
constexpr int DIK_F14 = 0x65;
constexpr int DIK_F15 = 0x66;
constexpr int DIK_KANA = 0x70;
constexpr int DIK_ABNT_C1 = 0x73;
constexpr int DIK_CONVERT = 0x79;
constexpr int DIK_NOCONVERT = 0x7B;
constexpr int DIK_YEN = 0x7D;
constexpr int DIK_ABNT_C2 = 0x7E;
constexpr int DIK_NUMPADEQUALS = 0x8D;
constexpr int DIK_PREVTRACK = 0x90;
constexpr int DIK_AT = 0x91;
constexpr int DIK_COLON = 0x92;
constexpr int DIK_UNDERLINE = 0x93;
constexpr int DIK_KANJI = 0x94;
constexpr int DIK_STOP = 0x95;
constexpr int DIK_AX = 0x96;
constexpr int DIK_UNLABELED = 0x97;
constexpr int DIK_NEXTTRACK = 0x99;
constexpr int DIK_NUMPADENTER = 0x9C;
constexpr int DIK_RCONTROL = 0x9D;
constexpr int DIK_MUTE = 0xA0;
constexpr int DIK_CALCULATOR = 0xA1;
constexpr int DIK_PLAYPAUSE = 0xA2;
constexpr int DIK_MEDIASTOP = 0xA4;
constexpr int DIK_VOLUMEDOWN = 0xAE;
constexpr int DIK_VOLUMEUP = 0xB0;
constexpr int DIK_WEBHOME = 0xB2;
constexpr int DIK_NUMPADCOMMA = 0xB3;
constexpr int DIK_DIVIDE = 0xB5;
constexpr int DIK_SYSRQ = 0xB7;
constexpr int DIK_RMENU = 0xB8;
constexpr int DIK_PAUSE = 0xC5;
constexpr int DIK_HOME = 0xC7;
constexpr int DIK_UP = 0xC8;
constexpr int DIK_PRIOR = 0xC9;
constexpr int DIK_LEFT = 0xCB;
constexpr int DIK_RIGHT = 0xCD;
constexpr int DIK_END = 0xCF;
constexpr int DIK_DOWN = 0xD0;
constexpr int DIK_NEXT = 0xD1;
constexpr int DIK_INSERT = 0xD2;
constexpr int DIK_DELETE = 0xD3;
constexpr int DIK_LWIN = 0xDB;
constexpr int DIK_RWIN = 0xDC;
constexpr int DIK_APPS = 0xDD;
constexpr int DIK_POWER = 0xDE;
constexpr int DIK_SLEEP = 0xDF;
constexpr int DIK_WAKE = 0xE3;
constexpr int DIK_WEBSEARCH = 0xE5;
constexpr int DIK_WEBFAVORITES = 0xE6;
constexpr int DIK_WEBREFRESH = 0xE7;
constexpr int DIK_WEBSTOP = 0xE8;
constexpr int DIK_WEBFORWARD = 0xE9;
constexpr int DIK_WEBBACK = 0xEA;
constexpr int DIK_MYCOMPUTER = 0xEB;
constexpr int DIK_MAIL = 0xEC;
constexpr int DIK_MEDIASELECT = 0xED;

// Aliases under other names of the same keys.
constexpr int DIK_BACKSPACE = DIK_BACK;
constexpr int DIK_NUMPADSTAR = DIK_MULTIPLY;
constexpr int DIK_LALT = DIK_LMENU;
constexpr int DIK_CAPSLOCK = DIK_CAPITAL;
constexpr int DIK_NUMPADMINUS = DIK_SUBTRACT;
constexpr int DIK_NUMPADPLUS = DIK_ADD;
constexpr int DIK_NUMPADPERIOD = DIK_DECIMAL;
constexpr int DIK_NUMPADSLASH = DIK_DIVIDE;
constexpr int DIK_RALT = DIK_RMENU;
constexpr int DIK_UPARROW = DIK_UP;
constexpr int DIK_PGUP = DIK_PRIOR;
constexpr int DIK_LEFTARROW = DIK_LEFT;
constexpr int DIK_RIGHTARROW = DIK_RIGHT;
constexpr int DIK_DOWNARROW = DIK_DOWN;
constexpr int DIK_PGDN = DIK_NEXT;
constexpr int DIK_CIRCUMFLEX = DIK_PREVTRACK;

// The backend numbers keys by SDL scancode. DIK code of a scancode, 0 when the key has none
// (such a key never shows in the keyboard state: index 0 is no key), and the scancode of a DIK
// code, 0 when no key gives it.
int DikFromScancode(int scancode);
int ScancodeFromDik(int dik);

// ---- Interfaces ----
class IDirectInputDevice8A : public IUnknown {
 public:
  virtual HRESULT GetProperty(DIPROPID rguidProp, DIPROPHEADER* pdiph) = 0;
  virtual HRESULT SetProperty(DIPROPID rguidProp, const DIPROPHEADER* pdiph) = 0;
  virtual HRESULT Acquire() = 0;
  virtual HRESULT Unacquire() = 0;
  virtual HRESULT GetDeviceState(DWORD cbData, void* lpvData) = 0;
  virtual HRESULT SetDataFormat(const DIDATAFORMAT* lpdf) = 0;
  virtual HRESULT SetCooperativeLevel(HWND hwnd, DWORD dwFlags) = 0;
  virtual HRESULT GetDeviceInfo(DIDEVICEINSTANCEA* pdidi) = 0;
  virtual HRESULT Poll() = 0;
};
using IDirectInputDevice8 = IDirectInputDevice8A;

class IDirectInput8A : public IUnknown {
 public:
  virtual HRESULT CreateDevice(const GUID& rguid, IDirectInputDevice8A** lplpDirectInputDevice,
                               IUnknown* pUnkOuter) = 0;
  virtual HRESULT EnumDevices(DWORD dwDevType, LPDIENUMDEVICESCALLBACKA lpCallback, void* pvRef,
                              DWORD dwFlags) = 0;
  // DI_OK when the device is attached, DI_NOEFFECT (S_FALSE) when it is not.
  virtual HRESULT GetDeviceStatus(const GUID& rguidInstance) = 0;
};
using IDirectInput8 = IDirectInput8A;

HRESULT DirectInput8Create(HINSTANCE hinst, DWORD dwVersion, const IID& riidltf, void** ppvOut,
                           IUnknown* punkOuter);
