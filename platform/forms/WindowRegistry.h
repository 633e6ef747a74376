// The table of our windows behind the window functions: which control a handle belongs to and
// the styles it was made with. Forms use their backend window id as handle; every other window
// (windowed controls, the application's own) gets a handle from a range the backend never uses.
#pragma once

#include "platform/win/WinTypes.h"

class TWinControl;

namespace forms_detail {

struct TWindowRecord {
  TWinControl* Control = nullptr;  // nullptr for the application's window
  LONG Style = 0;
  LONG ExStyle = 0;
};

HWND AllocateHandle();
void RegisterWindow(HWND Handle, TWinControl* Control, LONG Style, LONG ExStyle);
void UnregisterWindow(HWND Handle);
TWindowRecord* FindWindowRecord(HWND Handle);

}  // namespace forms_detail
