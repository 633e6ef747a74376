// The window manager's functions the framework and the programs call directly: window styles,
// the cursor and key states, coordinates, messages and message boxes. Window handles are those
// of our own controls: a form's handle is its backend window, other windowed controls get
// handles of their own.
#pragma once

#include <string>

#include "platform/forms/Messages.h"
#include "platform/win/WinTypes.h"

class TWinControl;
using SHORT = std::int16_t;

// GetWindowLong / SetWindowLong indices.
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;

// Window styles.
constexpr LONG WS_OVERLAPPED = 0x00000000;
constexpr LONG WS_POPUP = static_cast<LONG>(0x80000000u);
constexpr LONG WS_CHILD = 0x40000000;
constexpr LONG WS_MINIMIZE = 0x20000000;
constexpr LONG WS_VISIBLE = 0x10000000;
constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG WS_CLIPCHILDREN = 0x02000000;
constexpr LONG WS_MAXIMIZE = 0x01000000;
constexpr LONG WS_CAPTION = 0x00C00000;
constexpr LONG WS_BORDER = 0x00800000;
constexpr LONG WS_DLGFRAME = 0x00400000;
constexpr LONG WS_SYSMENU = 0x00080000;
constexpr LONG WS_THICKFRAME = 0x00040000;
constexpr LONG WS_MINIMIZEBOX = 0x00020000;
constexpr LONG WS_MAXIMIZEBOX = 0x00010000;
constexpr LONG WS_TABSTOP = 0x00010000;
constexpr LONG WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
// Extended styles.
constexpr LONG WS_EX_DLGMODALFRAME = 0x00000001;
constexpr LONG WS_EX_TOPMOST = 0x00000008;
constexpr LONG WS_EX_TOOLWINDOW = 0x00000080;
constexpr LONG WS_EX_WINDOWEDGE = 0x00000100;
constexpr LONG WS_EX_CLIENTEDGE = 0x00000200;
constexpr LONG WS_EX_CONTROLPARENT = 0x00010000;
constexpr LONG WS_EX_APPWINDOW = 0x00040000;

// Virtual keys.
constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_CANCEL = 0x03;
constexpr int VK_MBUTTON = 0x04;
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
// '0'..'9' and 'A'..'Z' are their own codes.
constexpr int VK_NUMPAD0 = 0x60;
constexpr int VK_MULTIPLY = 0x6A;
constexpr int VK_ADD = 0x6B;
constexpr int VK_SUBTRACT = 0x6D;
constexpr int VK_DECIMAL = 0x6E;
constexpr int VK_DIVIDE = 0x6F;
constexpr int VK_F1 = 0x70;
constexpr int VK_F12 = 0x7B;
constexpr int VK_LSHIFT = 0xA0;
constexpr int VK_RSHIFT = 0xA1;
constexpr int VK_LCONTROL = 0xA2;
constexpr int VK_RCONTROL = 0xA3;
constexpr int VK_LMENU = 0xA4;
constexpr int VK_RMENU = 0xA5;

// The virtual key of a key by its scancode (SDL numbering); 0 for keys without one.
WORD VirtualKeyFromScancode(int scancode);

// Message box buttons, icons and answers.
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_OKCANCEL = 0x0001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x0002;
constexpr UINT MB_YESNOCANCEL = 0x0003;
constexpr UINT MB_YESNO = 0x0004;
constexpr UINT MB_RETRYCANCEL = 0x0005;
constexpr UINT MB_ICONSTOP = 0x0010;
constexpr UINT MB_ICONERROR = MB_ICONSTOP;
constexpr UINT MB_ICONQUESTION = 0x0020;
constexpr UINT MB_ICONWARNING = 0x0030;
constexpr UINT MB_ICONINFORMATION = 0x0040;
constexpr UINT MB_DEFBUTTON2 = 0x0100;
constexpr UINT MB_DEFBUTTON3 = 0x0200;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Window styles of any window of ours (the application's own window included); 0 for a handle
// that is no window.
LONG GetWindowLong(HWND hWnd, int nIndex);
// Returns the former value.
LONG SetWindowLong(HWND hWnd, int nIndex, LONG dwNewLong);

// The mouse pointer in screen coordinates.
BOOL GetCursorPos(TPoint& Point);
// High bit set (the value negative) while the key or mouse button is down.
SHORT GetKeyState(int nVirtKey);
SHORT GetAsyncKeyState(int vKey);

BOOL ClientToScreen(HWND hWnd, TPoint& Point);
BOOL ScreenToClient(HWND hWnd, TPoint& Point);
BOOL GetClientRect(HWND hWnd, TRect& Rect);
// The outer rectangle, frame included, in screen coordinates.
BOOL GetWindowRect(HWND hWnd, TRect& Rect);
BOOL IsWindow(HWND hWnd);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsIconic(HWND hWnd);

// Runs the window's procedure at once and gives its result.
LRESULT SendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Queues the message for the application's message loop.
BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int nExitCode);

// A modal box of the system's own; gives the IDxxx of the button chosen.
int MessageBox(HWND hWnd, const std::string& Text, const std::string& Caption, UINT uType);

// The windowed control whose handle this is, or nullptr.
TWinControl* FindControl(HWND Handle);

// Where a window's pixels go. A form keeps an image of its client area, which its controls draw
// into and which is what the window shows.
// The client rectangle of `hWnd` in screen coordinates; false when there is no such window.
bool GetClientRectOnScreen(HWND hWnd, TRect& Rect);
// Shows a whole client image of `hWnd` (32-bit 0x00RRGGBB pixels, `pitch` bytes per row): it is
// copied into its form's image where the window lies, cut to what of it is visible, and the
// form's window shows the result.
void ShowWindowImage(HWND hWnd, const std::uint32_t* pixels, int width, int height, int pitch);
