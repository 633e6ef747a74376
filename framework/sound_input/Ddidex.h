// The input component: keyboard, mouse and game controllers read through DirectInput and
// folded into one joystick record (six axes, two sliders, four hats, 32 buttons), so a program
// reads keys and pads the same way. The keyboard reaches the record through two key maps.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/dinput/DInput.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Sets.h"
#include "platform/rtl/SysUtils.h"

MORVANE_DECLARE_EXCEPTION(EDDID, Exception)

// What happens when a DirectInput call fails (a set: several may be on).
enum TDDIDDebugOptionItem { dioHaltOnError, dioDebugMessage, dioExceptOnError };
using TDDIDDebugOption = TSet<TDDIDDebugOptionItem>;

// State shared by every input component of the process: the switches of the last debug option
// applied, and the lines written to the debug log in this run.
namespace Ddidex {
extern bool HaltOnError;
extern bool DebugMessage;
extern bool ExceptOnError;
extern int DebugCount;

// Reports a failed call (Result not 0) by the switches above and returns Result.
HRESULT DDIDCheck(HRESULT Result, const std::string& Message);
// Writes Message to the log and/or raises EDDID, as switched.
void DDIDDebugOut(const std::string& Message);

// The folder the log is written to: the program's own unless a test points it elsewhere.
std::string DebugLogFolder();
void SetDebugLogFolder(const std::string& folder);  // "" = the program's folder again

// Called instead of ending the program when a failure halts. Empty (the default): one line on
// standard error and exit with status 1. A test sets it to record the halt; when the handler
// returns, the failing call carries on as if nothing halted.
using THaltHandler = std::function<void(const std::string& message)>;
void SetHaltHandler(THaltHandler handler);
}  // namespace Ddidex

class TDDIDEX : public TComponent {
 public:
  static constexpr int MaxJoysticks = 16;
  static constexpr int KeyMapSize = 40;  // 32 buttons, then 8 directions

  explicit TDDIDEX(TComponent* AOwner);
  ~TDDIDEX() override;
  void Loaded() override;

  // (Re)creates DirectInput and every device, and restores the default key maps.
  void Initialize();
  // Reads one device into a cleared State. Device indexes: 0 keyboard, 1 mouse, 2 + j joystick j.
  bool Update(int Index);
  // Reads the first device fresh and merges the others into it; True when any read succeeded.
  bool UpdateList(std::initializer_list<int> Indices);
  bool UpdateList(const std::vector<int>& Indices);
  // Copies the axes, sliders and hats of State; S's buttons are left alone.
  void GetState(DIJOYSTATE& S) const;
  bool ButtonDown(int Index) const;

  TDDIDDebugOption DebugOption() const { return FDebugOption; }
  void SetDebugOption(TDDIDDebugOption Value);

  void DefineProperties(TPropertyDefs& Defs) override;

  // Published.
  bool AutoInitialize = true;
  bool BackGround = false;
  int DeadZone = 30;  // percent of the half range

  IDirectInput8* DirectInput = nullptr;
  IDirectInputDevice8* Keyboard = nullptr;
  IDirectInputDevice8* Mouse = nullptr;
  TStringList* JoystickNames = nullptr;
  IDirectInputDevice8* Joysticks[MaxJoysticks] = {};
  std::int32_t KeyMap1[KeyMapSize] = {};
  std::int32_t KeyMap2[KeyMapSize] = {};
  DIJOYSTATE State{};
  int JoystickCount = 0;
  bool ForceFeedback[MaxJoysticks + 2] = {};
  BYTE KeyState[256] = {};
  bool FirstPass = false;

 private:
  bool ReadDevice(bool Merge, int Index);
  LONG ApplyDeadZone(LONG V) const;
  bool KeyDown(int Entry) const;
  BYTE KeyByte(std::int32_t Dik) const;
  HWND OwnerWindow() const;
  void ReleaseDevices();
  static BOOL EnumJoystick(LPCDIDEVICEINSTANCEA lpddi, void* pvRef);
  void AddJoystick(const DIDEVICEINSTANCEA& Device);

  TDDIDDebugOption FDebugOption;
};
