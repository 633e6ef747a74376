#include "platform/forms/Windows.h"

#include <algorithm>
#include <map>

#include "platform/backend/Backend.h"
#include "platform/forms/Forms.h"
#include "platform/forms/TextWrap.h"
#include "platform/forms/WindowRegistry.h"

namespace forms_detail {

namespace {
std::map<HWND, TWindowRecord>& Table() {
  static std::map<HWND, TWindowRecord> table;
  return table;
}
}  // namespace

HWND AllocateHandle() {
  // Backend window ids are small counters; ours start far above them.
  static HWND next = 0x10000;
  return next++;
}

void RegisterWindow(HWND Handle, TWinControl* Control, LONG Style, LONG ExStyle) {
  Table()[Handle] = TWindowRecord{Control, Style, ExStyle};
}

void UnregisterWindow(HWND Handle) { Table().erase(Handle); }

TWindowRecord* FindWindowRecord(HWND Handle) {
  auto& t = Table();
  auto it = t.find(Handle);
  return it == t.end() ? nullptr : &it->second;
}

}  // namespace forms_detail

using forms_detail::FindWindowRecord;

TWinControl* FindControl(HWND Handle) {
  auto* r = Handle != 0 ? FindWindowRecord(Handle) : nullptr;
  return r ? r->Control : nullptr;
}

// --- Keys --------------------------------------------------------------------------------------

namespace {

// Scancodes (SDL numbering) of the keys that have a virtual key.
struct KeyPair {
  int scancode;
  WORD vk;
};
constexpr KeyPair kKeys[] = {
    {40, VK_RETURN},  {41, VK_ESCAPE}, {42, VK_BACK},      {43, VK_TAB},      {44, VK_SPACE},
    {57, VK_CAPITAL}, {72, VK_PAUSE},  {73, VK_INSERT},    {74, VK_HOME},     {75, VK_PRIOR},
    {76, VK_DELETE},  {77, VK_END},    {78, VK_NEXT},      {79, VK_RIGHT},    {80, VK_LEFT},
    {81, VK_DOWN},    {82, VK_UP},     {84, VK_DIVIDE},    {85, VK_MULTIPLY}, {86, VK_SUBTRACT},
    {87, VK_ADD},     {88, VK_RETURN}, {99, VK_DECIMAL},   {98, VK_NUMPAD0},  {224, VK_LCONTROL},
    {225, VK_LSHIFT}, {226, VK_LMENU}, {228, VK_RCONTROL}, {229, VK_RSHIFT},  {230, VK_RMENU},
    {45, 0xBD},       {46, 0xBB},      {47, 0xDB},         {48, 0xDD},        {49, 0xDC},
    {51, 0xBA},       {52, 0xDE},      {53, 0xC0},         {54, 0xBC},        {55, 0xBE},
    {56, 0xBF},
};

bool ScancodeDown(int scancode) {
  const std::uint8_t* keys = backend::Backend::Current().KeyboardState();
  return scancode >= 0 && scancode < 512 && keys[scancode] != 0;
}

}  // namespace

WORD VirtualKeyFromScancode(int scancode) {
  if (scancode >= 4 && scancode <= 29) return static_cast<WORD>('A' + (scancode - 4));
  if (scancode >= 30 && scancode <= 38) return static_cast<WORD>('1' + (scancode - 30));
  if (scancode == 39) return '0';
  if (scancode >= 58 && scancode <= 69) return static_cast<WORD>(VK_F1 + (scancode - 58));
  if (scancode >= 89 && scancode <= 97) return static_cast<WORD>(VK_NUMPAD0 + 1 + (scancode - 89));
  for (const auto& k : kKeys)
    if (k.scancode == scancode) return k.vk;
  return 0;
}

SHORT GetKeyState(int nVirtKey) {
  bool down = false;
  if (nVirtKey == VK_LBUTTON || nVirtKey == VK_RBUTTON || nVirtKey == VK_MBUTTON) {
    const std::uint32_t bit = nVirtKey == VK_LBUTTON ? 1u : nVirtKey == VK_RBUTTON ? 2u : 4u;
    down = (backend::Backend::Current().PeekMouse().buttons & bit) != 0;
  } else if (nVirtKey == VK_SHIFT) {
    down = ScancodeDown(225) || ScancodeDown(229);
  } else if (nVirtKey == VK_CONTROL) {
    down = ScancodeDown(224) || ScancodeDown(228);
  } else if (nVirtKey == VK_MENU) {
    down = ScancodeDown(226) || ScancodeDown(230);
  } else {
    for (int sc = 0; sc < 512 && !down; ++sc)
      if (VirtualKeyFromScancode(sc) == nVirtKey) down = ScancodeDown(sc);
  }
  return down ? static_cast<SHORT>(-128) : static_cast<SHORT>(0);
}

SHORT GetAsyncKeyState(int vKey) { return GetKeyState(vKey) < 0 ? static_cast<SHORT>(-32768) : 0; }

BOOL GetCursorPos(TPoint& Point) {
  backend::Backend& machine = backend::Backend::Current();
  const backend::MouseState m = machine.PeekMouse();
  // Placed from where the form itself keeps its client area, so ScreenToClient of the answer
  // gives back the coordinates the window's events carried, even in the moment between the
  // window manager moving the window and the form hearing of it.
  if (auto* form = dynamic_cast<TCustomForm*>(FindControl(static_cast<HWND>(m.window)))) {
    const TPoint o = form->ClientOrigin();
    Point = {o.X + m.x, o.Y + m.y};
    return TRUE_;
  }
  int x, y;
  std::uint32_t buttons;
  machine.GlobalMouse(x, y, buttons);
  Point = {x, y};
  return TRUE_;
}

// --- Windows -----------------------------------------------------------------------------------

LONG GetWindowLong(HWND hWnd, int nIndex) {
  auto* r = FindWindowRecord(hWnd);
  if (!r) return 0;
  if (nIndex == GWL_EXSTYLE) return r->ExStyle;
  if (nIndex == GWL_STYLE) return r->Style;
  return 0;
}

LONG SetWindowLong(HWND hWnd, int nIndex, LONG dwNewLong) {
  auto* r = FindWindowRecord(hWnd);
  if (!r) return 0;
  LONG* slot = nIndex == GWL_EXSTYLE ? &r->ExStyle : nIndex == GWL_STYLE ? &r->Style : nullptr;
  if (!slot) return 0;
  const LONG old = *slot;
  *slot = dwNewLong;
  return old;
}

BOOL ClientToScreen(HWND hWnd, TPoint& Point) {
  TWinControl* c = FindControl(hWnd);
  if (!c) return FALSE_;
  Point = c->ClientToScreen(Point);
  return TRUE_;
}

BOOL ScreenToClient(HWND hWnd, TPoint& Point) {
  TWinControl* c = FindControl(hWnd);
  if (!c) return FALSE_;
  Point = c->ScreenToClient(Point);
  return TRUE_;
}

BOOL GetClientRect(HWND hWnd, TRect& Rect) {
  TWinControl* c = FindControl(hWnd);
  if (!c) return FALSE_;
  Rect = c->ClientRect();
  return TRUE_;
}

BOOL GetWindowRect(HWND hWnd, TRect& Rect) {
  TWinControl* c = FindControl(hWnd);
  if (!c) return FALSE_;
  if (c->Parent() == nullptr) {
    Rect = c->BoundsRect();  // a form's bounds are its outer rectangle on the screen
  } else {
    const TPoint o = c->ClientOrigin();
    Rect = Bounds(o.X, o.Y, c->Width(), c->Height());
  }
  return TRUE_;
}

BOOL IsWindow(HWND hWnd) { return hWnd != 0 && FindWindowRecord(hWnd) != nullptr; }

BOOL IsWindowVisible(HWND hWnd) {
  TWinControl* c = FindControl(hWnd);
  return c && c->Showing() ? TRUE_ : FALSE_;
}

BOOL IsIconic(HWND hWnd) {
  TWinControl* c = FindControl(hWnd);
  auto* f = dynamic_cast<TCustomForm*>(c);
  return f && f->HandleAllocated() && backend::Backend::Current().IsMinimized(f->Handle()) ? TRUE_
                                                                                           : FALSE_;
}

LRESULT SendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  TWinControl* c = FindControl(hWnd);
  return c ? c->Perform(Msg, wParam, lParam) : 0;
}

BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Application == nullptr || (hWnd != 0 && !IsWindow(hWnd))) return FALSE_;
  TApplication::TPosted p;
  p.Wnd = hWnd;
  p.Msg = Msg;
  p.WParam = wParam;
  p.LParam = lParam;
  Application->FPosted.push_back(std::move(p));
  return TRUE_;
}

void PostQuitMessage(int nExitCode) {
  if (Application != nullptr) {
    TApplication::TPosted p;
    p.Msg = WM_QUIT;
    p.WParam = static_cast<WPARAM>(nExitCode);
    Application->FPosted.push_back(std::move(p));
  }
}

int MessageBox(HWND hWnd, const std::string& Text, const std::string& Caption, UINT uType) {
  backend::MessageBoxDesc d;
  d.parent = 0;
  if (TWinControl* c = FindControl(hWnd)) {
    if (TCustomForm* f = GetParentForm(c); f && f->HandleAllocated()) d.parent = f->Handle();
  }
  d.title = Caption;
  d.text = Text;
  // The box grows with its longest line and nothing stops it at the screen's edge: long lines
  // (a chart deep in folders) are broken here so the whole text stays on the screen.
  int screenWidth = 0, screenHeight = 0;
  backend::Backend::Current().ScreenSize(screenWidth, screenHeight);
  d.lines = WrapMessageText(Text, MessageTextLimit(screenWidth));
  switch (uType & 0xF0) {
    case MB_ICONSTOP:
      d.kind = backend::MessageBoxDesc::Kind::Error;
      break;
    case MB_ICONQUESTION:
      d.kind = backend::MessageBoxDesc::Kind::Question;
      break;
    case MB_ICONWARNING:
      d.kind = backend::MessageBoxDesc::Kind::Warning;
      break;
    default:
      d.kind = backend::MessageBoxDesc::Kind::Information;
      break;
  }
  std::vector<int> ids;
  switch (uType & 0x0F) {
    case MB_OKCANCEL:
      d.buttons = {"OK", "Cancel"};
      ids = {IDOK, IDCANCEL};
      d.escapeButton = 1;
      break;
    case MB_ABORTRETRYIGNORE:
      d.buttons = {"Abort", "Retry", "Ignore"};
      ids = {IDABORT, IDRETRY, IDIGNORE};
      break;
    case MB_YESNOCANCEL:
      d.buttons = {"Yes", "No", "Cancel"};
      ids = {IDYES, IDNO, IDCANCEL};
      d.escapeButton = 2;
      break;
    case MB_YESNO:
      d.buttons = {"Yes", "No"};
      ids = {IDYES, IDNO};
      break;
    case MB_RETRYCANCEL:
      d.buttons = {"Retry", "Cancel"};
      ids = {IDRETRY, IDCANCEL};
      d.escapeButton = 1;
      break;
    default:
      d.buttons = {"OK"};
      ids = {IDOK};
      d.escapeButton = 0;
      break;
  }
  const int def = (uType & MB_DEFBUTTON3) ? 2 : (uType & MB_DEFBUTTON2) ? 1 : 0;
  d.defaultButton = std::min(def, static_cast<int>(ids.size()) - 1);
  const int chosen = backend::Backend::Current().ShowMessageBox(d);
  return ids[static_cast<std::size_t>(std::clamp(chosen, 0, static_cast<int>(ids.size()) - 1))];
}

// --- Window images -----------------------------------------------------------------------------

namespace {

// The part of `c`'s client area that its parents let show, in the form's client coordinates;
// `origin` receives where c's client area starts there.
TRect VisibleInForm(TControl* c, TCustomForm* form, TPoint& origin) {
  origin = {0, 0};
  TRect vis = c->ClientRect();
  TControl* cur = c;
  while (cur != form && cur->Parent() != nullptr) {
    // Move into the parent's client coordinates and cut to the parent's client area.
    vis.Left += cur->Left();
    vis.Right += cur->Left();
    vis.Top += cur->Top();
    vis.Bottom += cur->Top();
    origin.X += cur->Left();
    origin.Y += cur->Top();
    cur = cur->Parent();
    const TRect pc = cur->ClientRect();
    vis.Left = std::max(vis.Left, pc.Left);
    vis.Top = std::max(vis.Top, pc.Top);
    vis.Right = std::min(vis.Right, pc.Right);
    vis.Bottom = std::min(vis.Bottom, pc.Bottom);
  }
  return vis;
}

}  // namespace

bool GetClientRectOnScreen(HWND hWnd, TRect& Rect) {
  TWinControl* c = FindControl(hWnd);
  if (!c) return false;
  const TPoint o = c->ClientOrigin();
  Rect = Bounds(o.X, o.Y, c->ClientWidth(), c->ClientHeight());
  return true;
}

void ShowWindowImage(HWND hWnd, const std::uint32_t* pixels, int width, int height, int pitch) {
  TWinControl* c = FindControl(hWnd);
  if (!c || !pixels || width <= 0 || height <= 0) return;
  TCustomForm* form = GetParentForm(c);
  if (!form || !form->HandleAllocated()) return;
  TWindowImage& img = form->Image();
  TPoint origin;
  TRect vis = VisibleInForm(c, form, origin);
  vis.Right = std::min({vis.Right, img.Width, origin.X + width});
  vis.Bottom = std::min({vis.Bottom, img.Height, origin.Y + height});
  vis.Left = std::max({vis.Left, 0, origin.X});
  vis.Top = std::max({vis.Top, 0, origin.Y});
  if (vis.Right > vis.Left && vis.Bottom > vis.Top) {
    const auto* src = reinterpret_cast<const std::uint8_t*>(pixels);
    for (int y = vis.Top; y < vis.Bottom; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(
          src + static_cast<std::ptrdiff_t>(y - origin.Y) * pitch);
      std::copy(row + (vis.Left - origin.X), row + (vis.Right - origin.X), img.Row(y) + vis.Left);
    }
  }
  form->PresentImage();
}
