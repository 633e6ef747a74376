#include "platform/forms/Controls.h"

#include <algorithm>

#include "platform/backend/Backend.h"
#include "platform/forms/Forms.h"
#include "platform/forms/WindowRegistry.h"
#include "platform/forms/Windows.h"

namespace {

TControl* g_capture = nullptr;

const std::vector<std::string> kAlignNames = {"alNone",  "alTop",    "alBottom", "alLeft",
                                              "alRight", "alClient", "alCustom"};

}  // namespace

TControl* GetCaptureControl() { return g_capture; }
void SetCaptureControl(TControl* Control) { g_capture = Control; }

TShiftState KeyboardShiftState() {
  TShiftState s;
  if (GetKeyState(VK_SHIFT) < 0) s.Include(ssShift);
  if (GetKeyState(VK_CONTROL) < 0) s.Include(ssCtrl);
  if (GetKeyState(VK_MENU) < 0) s.Include(ssAlt);
  return s;
}

TShiftState KeysToShiftState(WPARAM Keys) {
  TShiftState s;
  if (Keys & MK_SHIFT) s.Include(ssShift);
  if (Keys & MK_CONTROL) s.Include(ssCtrl);
  if (Keys & MK_LBUTTON) s.Include(ssLeft);
  if (Keys & MK_RBUTTON) s.Include(ssRight);
  if (Keys & MK_MBUTTON) s.Include(ssMiddle);
  if (GetKeyState(VK_MENU) < 0) s.Include(ssAlt);
  return s;
}

// =============================================================================================
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FAlive(std::make_shared<bool>(true)) {
  WindowProc = [this](TMessage& m) { WndProc(m); };
}

TControl::~TControl() {
  if (g_capture == this) g_capture = nullptr;
  if (FParent != nullptr) FParent->RemoveControl(this);
  *FAlive = false;
}

TComponent* TControl::GetParentComponent() const { return FParent; }

void TControl::SetParentComponent(TComponent* Value) {
  if (auto* w = dynamic_cast<TWinControl*>(Value)) SetParent(w);
}

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == FParent) return;
  if (AParent == this) throw EInvalidOperation("A control cannot be its own parent");
  if (FParent != nullptr) FParent->RemoveControl(this);
  if (AParent != nullptr) AParent->InsertControl(this);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  AWidth = std::max(AWidth, 0);
  AHeight = std::max(AHeight, 0);
  if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
  const bool resized = AWidth != FWidth || AHeight != FHeight;
  if (FParent != nullptr && FVisible) FParent->Invalidate();
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  Invalidate();
  if (resized && !ComponentState().Contains(csLoading)) Resize();
  RequestAlign();
}

void TControl::SetAlign(TAlign Value) {
  if (Value == FAlign) return;
  FAlign = Value;
  RequestAlign();
}

void TControl::RequestAlign() {
  if (FParent != nullptr && !FParent->ComponentState().Contains(csLoading) &&
      !ComponentState().Contains(csLoading))
    FParent->AlignControls();
}

void TControl::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  if (FParent != nullptr) {
    FParent->Invalidate();
    RequestAlign();
  }
  if (Value) Invalidate();
}

bool TControl::Showing() const {
  const TControl* c = this;
  while (c != nullptr) {
    if (!c->FVisible) return false;
    if (c->FParent == nullptr) {
      auto* f = dynamic_cast<const TCustomForm*>(c);
      return f != nullptr && f->FShowing;
    }
    c = c->FParent;
  }
  return false;
}

void TControl::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  Invalidate();
}

void TControl::SetCaption(const std::string& Value) {
  if (Value == FCaption) return;
  FCaption = Value;
  Invalidate();
}

void TControl::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  ParentColor = false;
  Invalidate();
}

TPoint TControl::ClientOrigin() const {
  if (FParent == nullptr) return {FLeft, FTop};
  const TPoint p = FParent->ClientOrigin();
  return {p.X + FLeft, p.Y + FTop};
}

TPoint TControl::ClientToScreen(const TPoint& Point) const {
  const TPoint o = ClientOrigin();
  return {Point.X + o.X, Point.Y + o.Y};
}

TPoint TControl::ScreenToClient(const TPoint& Point) const {
  const TPoint o = ClientOrigin();
  return {Point.X - o.X, Point.Y - o.Y};
}

void TControl::Invalidate() {
  // A graphic control is drawn by its parent.
  if (FParent != nullptr && FVisible) FParent->Invalidate();
}

void TControl::Repaint() {
  if (FParent != nullptr && FVisible) FParent->Repaint();
}

LRESULT TControl::Perform(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TMessage m{Msg, WParam, LParam, 0};
  // A copy: a handler may replace WindowProc (remove a hook) while it runs.
  TWndMethod proc = WindowProc;
  if (proc) proc(m);
  return m.Result;
}

void TControl::WndProc(TMessage& Message) { Dispatch(Message); }

void TControl::Dispatch(TMessage& Message) {
  switch (Message.Msg) {
    case WM_LBUTTONDOWN:
      MouseMessage(Message, 0, mbLeft);
      break;
    case WM_RBUTTONDOWN:
      MouseMessage(Message, 0, mbRight);
      break;
    case WM_MBUTTONDOWN:
      MouseMessage(Message, 0, mbMiddle);
      break;
    case WM_LBUTTONUP:
      MouseMessage(Message, 2, mbLeft);
      break;
    case WM_RBUTTONUP:
      MouseMessage(Message, 2, mbRight);
      break;
    case WM_MBUTTONUP:
      MouseMessage(Message, 2, mbMiddle);
      break;
    case WM_MOUSEMOVE:
      MouseMessage(Message, 1, mbLeft);
      break;
    default:
      DefaultHandler(Message);
      break;
  }
}

void TControl::MouseMessage(TMessage& Message, int Kind, TMouseButton Button) {
  const int x = LParamX(Message.LParam);
  const int y = LParamY(Message.LParam);
  const TShiftState shift = KeysToShiftState(Message.WParam);
  if (Kind == 1) {
    MouseMove(shift, x, y);
    return;
  }
  if (Kind == 0) {
    if (Button == mbLeft) FClicked = true;
    MouseDown(Button, shift, x, y);
    return;
  }
  // The handler of the release may free the control; click only if it still stands.
  const auto alive = FAlive;
  const bool clicked = Button == mbLeft && FClicked;
  if (Button == mbLeft) FClicked = false;
  MouseUp(Button, shift, x, y);
  if (*alive && clicked && x >= 0 && y >= 0 && x < FWidth && y < FHeight) Click();
}

void TControl::DefaultHandler(TMessage& Message) { Message.Result = 0; }

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int X, int Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::Resize() {
  if (OnResize) OnResize(this);
}

void TControl::DefineProperties(TPropertyDefs& P) {
  TComponent::DefineProperties(P);
  P.Int(
      "Left", [this] { return FLeft; }, [this](int v) { SetLeft(v); });
  P.Int(
      "Top", [this] { return FTop; }, [this](int v) { SetTop(v); });
  P.Int(
      "Width", [this] { return FWidth; }, [this](int v) { SetWidth(v); });
  P.Int(
      "Height", [this] { return FHeight; }, [this](int v) { SetHeight(v); });
  P.Enum(
       "Align", kAlignNames, [this] { return FAlign; }, [this](TAlign v) { SetAlign(v); })
      .Default(alNone);
  P.Bool(
       "Enabled", [this] { return FEnabled; }, [this](bool v) { SetEnabled(v); })
      .Default(true);
  P.Bool(
       "Visible", [this] { return FVisible; }, [this](bool v) { SetVisible(v); })
      .Default(true);
  P.Int(
       "Color", [this] { return FColor; }, [this](TColor v) { SetColor(v); })
      .Default(clBtnFace);
  P.Bool("ParentColor", ParentColor).Default(false);
  P.String("Hint", Hint).Default(std::string());
  P.Bool("ShowHint", ShowHint).Default(false);
  P.Bool("ParentShowHint", ParentShowHint).Default(true);
  P.Event("OnClick", OnClick);
  P.Event("OnDblClick", OnDblClick);
  P.Event("OnMouseDown", OnMouseDown);
  P.Event("OnMouseMove", OnMouseMove);
  P.Event("OnMouseUp", OnMouseUp);
  P.Event("OnResize", OnResize);
}

// =============================================================================================
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  if (FHandle != 0) DestroyHandle();
  // Children still here are not owned by anyone who has freed them yet: they go with us.
  while (!FControls.empty()) {
    TControl* c = FControls.back();
    RemoveControl(c);
    c->Free();
  }
}

HWND TWinControl::Handle() {
  if (FHandle == 0) CreateHandle();
  return FHandle;
}

void TWinControl::CreateHandle() {
  if (FHandle != 0) return;
  // A child window needs its parent's first.
  if (FParent != nullptr) FParent->HandleNeeded();
  if (FHandle != 0) return;  // made while the parent made its children
  CreateWnd();
  for (TControl* c : std::vector<TControl*>(FControls))
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->CreateHandle();
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params.Caption = FCaption;
  Params.Style = WS_CHILD | WS_CLIPSIBLINGS;
  if (FVisible) Params.Style |= WS_VISIBLE;
  if (TabStop) Params.Style |= WS_TABSTOP;
  Params.ExStyle = 0;
  Params.X = FLeft;
  Params.Y = FTop;
  Params.Width = FWidth;
  Params.Height = FHeight;
  Params.WndParent = FParent != nullptr ? FParent->FHandle : 0;
}

void TWinControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  FHandle = forms_detail::AllocateHandle();
  forms_detail::RegisterWindow(FHandle, this, params.Style, params.ExStyle);
  Perform(WM_CREATE, 0, 0);
  InvalidateAll();
}

void TWinControl::DestroyHandle() {
  if (FHandle == 0 || FDestroyingHandle) return;
  FDestroyingHandle = true;
  try {
    DestroyWnd();
  } catch (...) {
    FDestroyingHandle = false;
    throw;
  }
  FDestroyingHandle = false;
}

void TWinControl::DestroyWnd() {
  // The window hears of its end first, then its children, as the window manager tells them.
  Perform(WM_DESTROY, 0, 0);
  for (TControl* c : std::vector<TControl*>(FControls))
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
  forms_detail::UnregisterWindow(FHandle);
  FHandle = 0;
}

void TWinControl::RecreateWnd() {
  if (FHandle == 0) return;
  DestroyHandle();
  CreateHandle();
}

void TWinControl::InsertControl(TControl* AControl) {
  if (AControl == nullptr || AControl->FParent == this) return;
  FControls.push_back(AControl);
  AControl->FParent = this;
  if (auto* w = dynamic_cast<TWinControl*>(AControl); w && FHandle != 0) w->CreateHandle();
  AControl->RequestAlign();
  Invalidate();
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto it = std::find(FControls.begin(), FControls.end(), AControl);
  if (it == FControls.end()) return;
  if (auto* w = dynamic_cast<TWinControl*>(AControl); w && w->FHandle != 0) w->DestroyHandle();
  if (TCustomForm* f = GetParentForm(this); f && f->ActiveControl == AControl)
    f->ActiveControl = nullptr;
  FControls.erase(std::find(FControls.begin(), FControls.end(), AControl));
  AControl->FParent = nullptr;
  if (g_capture == AControl) g_capture = nullptr;
  Invalidate();
}

TControl* TWinControl::ControlAtPos(const TPoint& Pos, bool AllowDisabled, bool Deep) const {
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TControl* c = *it;
    if (!c->FVisible || (!AllowDisabled && !c->FEnabled)) continue;
    if (Pos.X < c->FLeft || Pos.Y < c->FTop || Pos.X >= c->FLeft + c->FWidth ||
        Pos.Y >= c->FTop + c->FHeight)
      continue;
    if (Deep) {
      if (auto* w = dynamic_cast<TWinControl*>(c)) {
        if (TControl* inner =
                w->ControlAtPos({Pos.X - c->FLeft, Pos.Y - c->FTop}, AllowDisabled, true))
          return inner;
      }
    }
    return c;
  }
  return nullptr;
}

void TWinControl::AlignControls() {
  // Placing a child asks for alignment again; that request is this very pass.
  if (FAligning) return;
  FAligning = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{FAligning};
  TRect r = ClientRect();
  auto place = [&](TAlign which) {
    for (TControl* c : FControls) {
      if (c->FAlign != which || !c->FVisible) continue;
      int l = c->FLeft, t = c->FTop, w = c->FWidth, h = c->FHeight;
      switch (which) {
        case alTop:
          l = r.Left, t = r.Top, w = r.Width();
          r.Top += h;
          break;
        case alBottom:
          l = r.Left, t = r.Bottom - h, w = r.Width();
          r.Bottom -= h;
          break;
        case alLeft:
          l = r.Left, t = r.Top, h = r.Height();
          r.Left += w;
          break;
        case alRight:
          l = r.Right - w, t = r.Top, h = r.Height();
          r.Right -= w;
          break;
        case alClient:
          l = r.Left, t = r.Top, w = r.Width(), h = r.Height();
          break;
        default:
          break;
      }
      c->SetBounds(l, t, std::max(w, 0), std::max(h, 0));
    }
  };
  place(alTop);
  place(alBottom);
  place(alLeft);
  place(alRight);
  place(alClient);
}

bool TWinControl::Focused() const {
  TCustomForm* f = GetParentForm(const_cast<TWinControl*>(this));
  if (f == nullptr || !f->Active()) return false;
  if (f == this) return f->ActiveControl == nullptr;
  return f->ActiveControl == this;
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c != nullptr; c = c->FParent)
    if (!c->FVisible || !c->FEnabled) return false;
  return true;
}

void TWinControl::SetFocus() {
  TCustomForm* f = GetParentForm(this);
  if (f == nullptr) return;
  if (f != this && f->ActiveControl != this) {
    TWinControl* old = f->ActiveControl;
    f->ActiveControl = this;
    if (old != nullptr && old->OnExit) old->OnExit(old);
    if (OnEnter) OnEnter(this);
  }
  if (f->HandleAllocated()) backend::Backend::Current().FocusWindow(f->Handle());
}

void TWinControl::Dispatch(TMessage& Message) {
  switch (Message.Msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (!DoKeyDown(Message)) DefaultHandler(Message);
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if (!DoKeyUp(Message)) DefaultHandler(Message);
      break;
    case WM_CHAR:
      if (!DoKeyPress(Message)) DefaultHandler(Message);
      break;
    case WM_PAINT:
      PaintHandler(Message);
      break;
    default:
      TControl::Dispatch(Message);
      break;
  }
}

void TWinControl::DefaultHandler(TMessage& Message) {
  // What the window manager does with a message nobody handled.
  Message.Result = 0;
  if (Message.Msg != WM_SYSCOMMAND || FHandle == 0) return;
  auto& b = backend::Backend::Current();
  switch (Message.WParam & 0xFFF0) {
    case SC_MINIMIZE:
      if (FParent == nullptr) b.MinimizeWindow(FHandle);
      break;
    case SC_RESTORE:
      if (FParent == nullptr) b.RestoreWindow(FHandle);
      break;
    case SC_CLOSE:
      PostMessage(FHandle, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

bool TWinControl::DoKeyDown(TMessage& Message) {
  TCustomForm* f = GetParentForm(this);
  // With KeyPreview the form sees the key first and may take it.
  if (f != nullptr && f != this && f->KeyPreview && f->DoKeyDown(Message)) return true;
  WORD key = static_cast<WORD>(Message.WParam);
  KeyDown(key, KeyboardShiftState());
  Message.WParam = key;
  return key == 0;
}

bool TWinControl::DoKeyUp(TMessage& Message) {
  TCustomForm* f = GetParentForm(this);
  if (f != nullptr && f != this && f->KeyPreview && f->DoKeyUp(Message)) return true;
  WORD key = static_cast<WORD>(Message.WParam);
  KeyUp(key, KeyboardShiftState());
  Message.WParam = key;
  return key == 0;
}

bool TWinControl::DoKeyPress(TMessage& Message) {
  TCustomForm* f = GetParentForm(this);
  if (f != nullptr && f != this && f->KeyPreview && f->DoKeyPress(Message)) return true;
  char key = static_cast<char>(Message.WParam);
  KeyPress(key);
  Message.WParam = static_cast<unsigned char>(key);
  return key == 0;
}

void TWinControl::KeyDown(WORD& Key, TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, Shift);
}

void TWinControl::KeyUp(WORD& Key, TShiftState Shift) {
  if (OnKeyUp) OnKeyUp(this, Key, Shift);
}

void TWinControl::KeyPress(char& Key) {
  if (OnKeyPress) OnKeyPress(this, Key);
}

void TWinControl::Invalidate() {
  if (FHandle != 0) FPaintPending = true;
}

void TWinControl::InvalidateAll() {
  Invalidate();
  for (TControl* c : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->InvalidateAll();
}

void TWinControl::Repaint() {
  if (FHandle == 0 || !Showing()) return;
  FPaintPending = false;
  Perform(WM_PAINT, 0, 0);
}

void TWinControl::PaintHandler(TMessage& Message) {
  FPaintPending = false;
  PaintWindow();
  // Graphic children draw over the control, in their order.
  for (TControl* c : std::vector<TControl*>(FControls)) {
    if (dynamic_cast<TWinControl*>(c) == nullptr && c->FVisible) c->Perform(WM_PAINT, 0, 0);
  }
}

void TWinControl::DefineProperties(TPropertyDefs& P) {
  TControl::DefineProperties(P);
  P.Int("TabOrder", TabOrder).Default(-1);
  P.Bool("TabStop", TabStop).Default(false);
  P.Event("OnEnter", OnEnter);
  P.Event("OnExit", OnExit);
  P.Event("OnKeyDown", OnKeyDown);
  P.Event("OnKeyPress", OnKeyPress);
  P.Event("OnKeyUp", OnKeyUp);
}

// =============================================================================================
// TGraphicControl

void TGraphicControl::Dispatch(TMessage& Message) {
  if (Message.Msg == WM_PAINT) {
    Paint();
    return;
  }
  TControl::Dispatch(Message);
}
