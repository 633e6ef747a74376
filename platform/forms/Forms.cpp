#include "platform/forms/Forms.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ddraw/DDraw.h"
#include "platform/dsound/SoundMixer.h"
#include "platform/forms/AppEvnts.h"
#include "platform/forms/WindowRegistry.h"
#include "platform/rtl/SysUtils.h"

namespace {

const std::vector<std::string> kBorderStyleNames = {"bsNone",   "bsSingle",     "bsSizeable",
                                                    "bsDialog", "bsToolWindow", "bsSizeToolWin"};
const std::vector<std::string> kPositionNames = {
    "poDesigned",     "poDefault",       "poDefaultPosOnly", "poDefaultSizeOnly",
    "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"};
const std::vector<std::string> kWindowStateNames = {"wsNormal", "wsMinimized", "wsMaximized"};

backend::Backend& Machine() { return backend::Backend::Current(); }

// A colour as the 0x00RRGGBB pixel of a window image.
std::uint32_t WindowPixel(TColor Color) {
  const auto c = static_cast<std::uint32_t>(ColorToRGB(Color));
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// Where a control's client area lies in its form's client area.
TPoint OffsetInForm(TControl* c) {
  TPoint p{0, 0};
  while (c != nullptr && c->Parent() != nullptr) {
    p.X += c->Left();
    p.Y += c->Top();
    c = c->Parent();
  }
  return p;
}

void FillExcluding(TWindowImage& img, std::uint32_t pixel, const std::vector<TRect>& holes) {
  for (int y = 0; y < img.Height; ++y) {
    std::uint32_t* row = img.Row(y);
    int x = 0;
    while (x < img.Width) {
      // The hole that covers x on this row, if any.
      int skipTo = x;
      for (const TRect& h : holes)
        if (y >= h.Top && y < h.Bottom && x >= h.Left && x < h.Right)
          skipTo = std::max(skipTo, h.Right);
      if (skipTo > x) {
        x = skipTo;
        continue;
      }
      int end = img.Width;
      for (const TRect& h : holes)
        if (y >= h.Top && y < h.Bottom && h.Left > x) end = std::min(end, h.Left);
      std::fill(row + x, row + end, pixel);
      x = end;
    }
  }
}

// Puts the display's primary surface (the screen) onto our windows: a control's part of the
// screen lands in its form's client image. Handles that are none of ours are plain backend
// windows.
void InstallWindowHost() {
  ddraw::WindowHost host;
  host.ClientRectOnScreen = [](HWND wnd, TRect& r) {
    if (FindControl(wnd) != nullptr) return GetClientRectOnScreen(wnd, r);
    if (wnd == 0) return false;
    int l = 0, t = 0, w = 0, h = 0;
    Machine().GetWindowBounds(static_cast<backend::WindowId>(wnd), l, t, w, h);
    if (w <= 0 || h <= 0) return false;
    r = {l, t, l + w, t + h};
    return true;
  };
  host.Show = [](HWND wnd, const std::uint32_t* pixels, int width, int height, int pitch) {
    if (FindControl(wnd) != nullptr)
      ShowWindowImage(wnd, pixels, width, height, pitch);
    else
      Machine().Present(static_cast<backend::WindowId>(wnd), pixels, width, height, pitch);
  };
  ddraw::SetWindowHost(std::move(host));
}

}  // namespace

TApplication* Application = new TApplication(nullptr);

TCustomForm* GetParentForm(TControl* Control) {
  while (Control != nullptr && Control->Parent() != nullptr) Control = Control->Parent();
  return dynamic_cast<TCustomForm*>(Control);
}

// =============================================================================================
// TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  FVisible = false;
  FWidth = 320;
  FHeight = 240;
}

void TCustomForm::AfterConstruction() {
  ReadFormResource(this);
  DoCreate();
  // A form stored as visible shows once it is whole.
  if (FVisible && !FShowing) ShowingChanged();
}

void TCustomForm::BeforeDestruction() {
  // OnDestroy, then the window's end (its hooks hear WM_DESTROY while every component still
  // stands), then the components.
  if (!FDestroyed) {
    FDestroyed = true;
    try {
      DoDestroy();
    } catch (...) {
      // The form goes all the same: a half-freed form would be worse than the failure, which
      // is reported like any other.
      if (Application != nullptr) Application->HandleException(this);
    }
    if (FHandle != 0) DestroyHandle();
  }
  TWinControl::BeforeDestruction();
}

TCustomForm::~TCustomForm() {
  if (!FDestroyed) {
    FDestroyed = true;
    try {
      DoDestroy();
    } catch (...) {
      if (Application != nullptr) Application->HandleException(this);
    }
  }
  if (FHandle != 0) DestroyHandle();
  if (Application != nullptr) Application->FormGone(this);
}

void TCustomForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TCustomForm::DoDestroy() {
  if (OnDestroy) OnDestroy(this);
}

void TCustomForm::DoShow() {
  if (OnShow) OnShow(this);
}

void TCustomForm::DoHide() {
  if (OnHide) OnHide(this);
}

void TCustomForm::DoClose(TCloseAction& Action) {
  if (OnClose) OnClose(this, Action);
}

void TCustomForm::FrameMetrics(int& left, int& top, int& right, int& bottom) const {
  if (FBorderStyle == bsNone) {
    left = top = right = bottom = 0;
  } else {
    left = kFrameLeft;
    top = kFrameTop;
    right = kFrameRight;
    bottom = kFrameBottom;
  }
}

int TCustomForm::ClientWidth() const {
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  return std::max(FWidth - l - r, 0);
}

int TCustomForm::ClientHeight() const {
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  return std::max(FHeight - t - b, 0);
}

void TCustomForm::SetClientWidth(int Value) {
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  SetWidth(Value + l + r);
}

void TCustomForm::SetClientHeight(int Value) {
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  SetHeight(Value + t + b);
}

TPoint TCustomForm::ClientOrigin() const {
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  return {FLeft + l, FTop + t};
}

void TCustomForm::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (FHandle != 0) {
    int l, t, r, b;
    FrameMetrics(l, t, r, b);
    Machine().SetWindowBounds(FHandle, FLeft + l, FTop + t, ClientWidth(), ClientHeight());
    Image();
    InvalidateAll();
  }
  if (!ComponentState().Contains(csLoading)) AlignControls();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle Value) {
  if (Value == FBorderStyle) return;
  // The client area keeps its size; the frame grows or shrinks around it.
  const int cw = ClientWidth(), ch = ClientHeight();
  FBorderStyle = Value;
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  FWidth = cw + l + r;
  FHeight = ch + t + b;
  if (FHandle != 0) {
    const bool shown = FShowing;
    RecreateWnd();
    if (shown) {
      Machine().ShowWindow(FHandle, true);
      FShowing = true;
      InvalidateAll();
    }
  }
}

void TCustomForm::SetCaption(const std::string& Value) {
  TWinControl::SetCaption(Value);
  UpdateWindowTitle();
}

// The form's own window is the one the taskbar shows, so its title is the form's caption; the
// application's title (which captions the error boxes) stands in only for a form without one.
std::string TCustomForm::WindowTitle() const {
  if (!FCaption.empty() || Application == nullptr) return FCaption;
  return Application->Title();
}

void TCustomForm::UpdateWindowTitle() {
  if (FHandle != 0) Machine().SetWindowTitle(FHandle, WindowTitle());
}

void TCustomForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.Style = WS_CLIPCHILDREN;
  switch (FBorderStyle) {
    case bsNone:
      Params.Style |= WS_POPUP;
      break;
    case bsSingle:
    case bsToolWindow:
      Params.Style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
      break;
    case bsSizeable:
    case bsSizeToolWin:
      Params.Style |= WS_OVERLAPPEDWINDOW;
      break;
    case bsDialog:
      Params.Style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
      Params.ExStyle |= WS_EX_DLGMODALFRAME;
      break;
  }
  if (FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin)
    Params.ExStyle |= WS_EX_TOOLWINDOW;
  Params.WndParent = Application != nullptr ? Application->Handle() : 0;
}

void TCustomForm::PlaceOnScreen() {
  if (FPlaced) return;
  FPlaced = true;
  int sw, sh;
  Machine().ScreenSize(sw, sh);
  switch (Position) {
    case poScreenCenter:
    case poDesktopCenter:
      FLeft = (sw - FWidth) / 2;
      FTop = (sh - FHeight) / 2;
      break;
    case poMainFormCenter:
    case poOwnerFormCenter: {
      TCustomForm* m = Application != nullptr ? Application->MainForm() : nullptr;
      if (auto* o = dynamic_cast<TCustomForm*>(Owner())) m = o;
      if (m != nullptr && m != this) {
        FLeft = m->FLeft + (m->FWidth - FWidth) / 2;
        FTop = m->FTop + (m->FHeight - FHeight) / 2;
      } else {
        FLeft = (sw - FWidth) / 2;
        FTop = (sh - FHeight) / 2;
      }
      break;
    }
    default:
      break;
  }
}

void TCustomForm::CreateWnd() {
  InstallWindowHost();
  PlaceOnScreen();
  TCreateParams params;
  CreateParams(params);
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  backend::WindowDesc d;
  d.title = WindowTitle();
  d.left = std::max(FLeft + l, 0);
  d.top = std::max(FTop + t, 0);
  d.width = ClientWidth();
  d.height = ClientHeight();
  d.borderless = FBorderStyle == bsNone;
  d.resizable = FBorderStyle == bsSizeable || FBorderStyle == bsSizeToolWin;
  d.visible = false;
  FHandle = Machine().CreateWindow(d);
  // The backend cannot be asked for a negative position when it is made; move it there.
  if (FLeft + l < 0 || FTop + t < 0)
    Machine().SetWindowBounds(FHandle, FLeft + l, FTop + t, d.width, d.height);
  forms_detail::RegisterWindow(FHandle, this, params.Style, params.ExStyle);
  Image();
  if (Application != nullptr && std::find(Application->FForms.begin(), Application->FForms.end(),
                                          this) == Application->FForms.end())
    Application->FForms.push_back(this);
  Perform(WM_CREATE, 0, 0);
  InvalidateAll();
}

void TCustomForm::DestroyWnd() {
  const HWND h = FHandle;
  TWinControl::DestroyWnd();
  FShowing = false;
  FActive = false;
  Machine().DestroyWindow(static_cast<backend::WindowId>(h));
  if (Application != nullptr && Application->FSizeMoveWindow == h) Application->FSizeMoveWindow = 0;
}

TWindowImage& TCustomForm::Image() {
  const int w = ClientWidth(), h = ClientHeight();
  if (FImage.Width != w || FImage.Height != h) {
    // Keep what still fits; new parts start black.
    TWindowImage fresh;
    fresh.Width = w;
    fresh.Height = h;
    fresh.Pixels.assign(static_cast<std::size_t>(w) * h, 0);
    for (int y = 0; y < std::min(h, FImage.Height); ++y)
      std::copy(FImage.Row(y), FImage.Row(y) + std::min(w, FImage.Width), fresh.Row(y));
    FImage = std::move(fresh);
  }
  return FImage;
}

void TCustomForm::PresentImage() {
  if (FHandle == 0) return;
  TWindowImage& img = Image();
  if (img.Width <= 0 || img.Height <= 0) return;
  const TWindowImage* shown = &img;
  if (!FOverlays.empty()) {
    // The overlays go onto a copy, so whatever draws into the client image next (a flip of the
    // display) finds it as it left it and the boxes are drawn again over the new picture.
    FComposed = img;
    for (TFormOverlay* o : std::vector<TFormOverlay*>(FOverlays)) o->DrawOverlay(FComposed);
    shown = &FComposed;
  }
  Machine().Present(FHandle, shown->Pixels.data(), shown->Width, shown->Height,
                    shown->Width * static_cast<int>(sizeof(std::uint32_t)));
}

void TCustomForm::AddOverlay(TFormOverlay* Overlay) {
  if (Overlay == nullptr) return;
  if (std::find(FOverlays.begin(), FOverlays.end(), Overlay) == FOverlays.end())
    FOverlays.push_back(Overlay);
}

void TCustomForm::RemoveOverlay(TFormOverlay* Overlay) { std::erase(FOverlays, Overlay); }

void TCustomForm::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  if (!ComponentState().Contains(csLoading)) ShowingChanged();
}

void TCustomForm::ShowingChanged() {
  if (FVisible == FShowing) return;
  auto& m = Machine();
  if (FVisible) {
    HandleNeeded();
    // The window is on the screen before OnShow runs, so what OnShow opens inside it shows.
    m.ShowWindow(FHandle, true);
    FShowing = true;
    if (FWindowState == wsMinimized) m.MinimizeWindow(FHandle);
    DoShow();
    if (FHandle == 0 || !FShowing) return;  // OnShow closed or hid it
    WINDOWPOS wp;
    wp.hwnd = FHandle;
    wp.x = FLeft;
    wp.y = FTop;
    wp.cx = FWidth;
    wp.cy = FHeight;
    wp.flags = SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE;
    Perform(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
    InvalidateAll();
    if (FWindowState != wsMinimized && FHandle != 0) m.FocusWindow(FHandle);
  } else {
    DoHide();
    if (FHandle == 0) return;
    m.ShowWindow(FHandle, false);
    FShowing = false;
    WINDOWPOS wp;
    wp.hwnd = FHandle;
    wp.flags = SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE;
    Perform(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
  }
}

void TCustomForm::SetWindowState(TWindowState Value) {
  if (Value == FWindowState) return;
  FWindowState = Value;
  if (FHandle == 0 || !FShowing) return;
  if (Value == wsMinimized)
    Machine().MinimizeWindow(FHandle);
  else
    Machine().RestoreWindow(FHandle);
}

void TCustomForm::SyncBoundsFromWindow() {
  if (FHandle == 0) return;
  int x, y, w, h;
  Machine().GetWindowBounds(FHandle, x, y, w, h);
  int l, t, r, b;
  FrameMetrics(l, t, r, b);
  FLeft = x - l;
  FTop = y - t;
  if (w + l + r != FWidth || h + t + b != FHeight) {
    FWidth = w + l + r;
    FHeight = h + t + b;
    Image();
    Resize();
    AlignControls();
    InvalidateAll();
  }
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caNone) return;
  if (Application != nullptr && Application->MainForm() == this) {
    // The loop ends once it gets back control; the form stays whole until then.
    Application->Terminate();
  } else if (action == caHide) {
    Hide();
  } else if (action == caMinimize) {
    SetWindowState(wsMinimized);
  } else {
    Release();
  }
}

void TCustomForm::Release() {
  if (Application == nullptr) return;
  TApplication::TPosted p;
  p.Wnd = FHandle;
  p.Msg = CM_RELEASE;
  p.Form = this;
  p.FormAlive = AliveToken();
  Application->FPosted.push_back(std::move(p));
}

void TCustomForm::Dispatch(TMessage& Message) {
  switch (Message.Msg) {
    case WM_CLOSE:
      Close();
      break;
    case WM_SYSCOMMAND:
      WMSysCommand(Message);
      break;
    case WM_ACTIVATE: {
      const bool active = LoWord(Message.WParam) != WA_INACTIVE;
      if (active != FActive) {
        FActive = active;
        if (active && OnActivate) OnActivate(this);
        if (!active && OnDeactivate) OnDeactivate(this);
      }
      DefaultHandler(Message);
      break;
    }
    case WM_SIZE:
      if (Message.WParam == SIZE_MINIMIZED)
        FWindowState = wsMinimized;
      else if (Message.WParam == SIZE_RESTORED && FWindowState == wsMinimized)
        FWindowState = wsNormal;
      DefaultHandler(Message);
      break;
    default:
      TWinControl::Dispatch(Message);
      break;
  }
}

void TCustomForm::WMSysCommand(TMessage& Message) {
  // Minimising the main form minimises the application as a whole.
  if ((Message.WParam & 0xFFF0) == SC_MINIMIZE && Application != nullptr &&
      Application->MainForm() == this) {
    Application->Minimize();
    Message.Result = 0;
    return;
  }
  DefaultHandler(Message);
}

void TCustomForm::PaintHandler(TMessage& Message) {
  TWindowImage& img = Image();
  // The background, but not where windowed children draw themselves.
  std::vector<TRect> holes;
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    if (c->Visible() && dynamic_cast<TWinControl*>(c) != nullptr) holes.push_back(c->BoundsRect());
  }
  FillExcluding(img, WindowPixel(FColor), holes);
  if (OnPaint) OnPaint(this);
  TWinControl::PaintHandler(Message);
  PresentImage();
}

void TCustomForm::Loaded() {
  TWinControl::Loaded();
  if (FPendingClientWidth >= 0) SetClientWidth(FPendingClientWidth);
  if (FPendingClientHeight >= 0) SetClientHeight(FPendingClientHeight);
  FPendingClientWidth = FPendingClientHeight = -1;
  AlignControls();
}

void TCustomForm::DefineProperties(TPropertyDefs& P) {
  TWinControl::DefineProperties(P);
  P.String(
       "Caption", [this] { return FCaption; }, [this](const std::string& v) { SetCaption(v); })
      .Default(std::string());
  P.Enum(
       "BorderStyle", kBorderStyleNames, [this] { return FBorderStyle; },
       [this](TFormBorderStyle v) { SetBorderStyle(v); })
      .Default(bsSizeable);
  // The client size is applied once the whole form is read, when the border style is known.
  P.Int(
      "ClientWidth", [this] { return ClientWidth(); },
      [this](int v) {
        if (ComponentState().Contains(csLoading))
          FPendingClientWidth = v;
        else
          SetClientWidth(v);
      });
  P.Int(
      "ClientHeight", [this] { return ClientHeight(); },
      [this](int v) {
        if (ComponentState().Contains(csLoading))
          FPendingClientHeight = v;
        else
          SetClientHeight(v);
      });
  P.Enum("Position", kPositionNames, Position).Default(poDesigned);
  P.Enum(
       "WindowState", kWindowStateNames, [this] { return FWindowState; },
       [this](TWindowState v) { SetWindowState(v); })
      .Default(wsNormal);
  P.Bool("KeyPreview", KeyPreview).Default(false);
  P.Bool(
       "Visible", [this] { return FVisible; }, [this](bool v) { SetVisible(v); })
      .Default(false);
  P.Event("OnActivate", OnActivate);
  P.Event("OnClose", OnClose);
  P.Event("OnCloseQuery", OnCloseQuery);
  P.Event("OnCreate", OnCreate);
  P.Event("OnDeactivate", OnDeactivate);
  P.Event("OnDestroy", OnDestroy);
  P.Event("OnHide", OnHide);
  P.Event("OnPaint", OnPaint);
  P.Event("OnShow", OnShow);
}

// =============================================================================================
// TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  FHandle = forms_detail::AllocateHandle();
  forms_detail::RegisterWindow(FHandle, nullptr, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0);
}

TApplication::~TApplication() {
  DestroyComponents();
  forms_detail::UnregisterWindow(FHandle);
}

void TApplication::SetTitle(const std::string& Value) {
  FTitle = Value;
  for (TCustomForm* f : FForms) f->UpdateWindowTitle();
}

std::string TApplication::ExeName() const { return ParamStr(0); }

void TApplication::FormGone(TCustomForm* Form) {
  std::erase(FForms, Form);
  if (FMainForm == Form) FMainForm = nullptr;
  if (FSizeMoveWindow != 0 && Form->HandleAllocated() && FSizeMoveWindow == Form->FHandle)
    FSizeMoveWindow = 0;
}

TCustomForm* TApplication::FormOfWindow(backend::WindowId W) const {
  for (TCustomForm* f : FForms)
    if (f->FHandle == W) return f;
  return nullptr;
}

void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::ResetForTest() {
  FPosted.clear();
  FPending.clear();
  FTerminated = false;
  FSizeMoveWindow = 0;
  FIdleCount = 0;
  FLastDone = true;
  FMouseButtons = 0;
  FErrorsShown.clear();
  OnIdle = nullptr;
  OnException = nullptr;
  OnActivate = nullptr;
  OnDeactivate = nullptr;
  SetCaptureControl(nullptr);
}

void TApplication::Minimize() {
  if (FMainForm != nullptr && FMainForm->HandleAllocated())
    Machine().MinimizeWindow(FMainForm->FHandle);
}

namespace {
bool g_finalizerSet = false;
// Depth of Run: a program that exits from inside a handler (the X library does when the display
// goes away) still has the handler's form on its stack, so the forms must not be freed then.
int g_runDepth = 0;
void FinalizeApplication() {
  // The forms go while the rest of the program still stands, as the class library frees them
  // when the program ends.
  if (Application == nullptr || g_runDepth > 0) return;
  try {
    Application->DestroyComponents();
  } catch (...) {
    Application->HandleException(Application);
  }
}
}  // namespace

void TApplication::Run() {
  if (!g_finalizerSet) {
    g_finalizerSet = true;
    std::atexit(FinalizeApplication);
  }
  if (FMainForm == nullptr) return;
  struct RunDepth {
    RunDepth() { ++g_runDepth; }
    ~RunDepth() { --g_runDepth; }
  } depth;
  if (ShowMainForm) {
    // The window's show handler runs here, before the loop: what escapes it is reported the
    // same way (EAbort silently, as when a dialog it opened ends the program).
    try {
      if (FMainForm->WindowState() == wsMinimized) {
        FMainForm->Show();
      } else {
        FMainForm->SetVisible(true);
      }
    } catch (...) {
      HandleException(this);
    }
  }
  while (!FTerminated) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
  }
}

void TApplication::HandleMessage() {
  if (!ProcessMessage()) Idle(true);
}

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
}

bool TApplication::ProcessMessage() {
  // Messages posted by the program come first, then what the machine sent, then repaints.
  if (!FPosted.empty()) {
    TPosted p = std::move(FPosted.front());
    FPosted.pop_front();
    if (p.Msg == WM_QUIT) {
      FTerminated = true;
    } else if (p.Msg == CM_RELEASE) {
      if (p.Form != nullptr && p.FormAlive && *p.FormAlive) p.Form->Free();
    } else if (TWinControl* c = FindControl(p.Wnd)) {
      c->Perform(p.Msg, p.WParam, p.LParam);
    }
    return true;
  }
  backend::Event e;
  if (!FPending.empty()) {
    e = std::move(FPending.front());
    FPending.pop_front();
    DispatchEvent(e);
    return true;
  }
  if (Machine().PollEvent(e)) {
    DispatchEvent(e);
    return true;
  }
  return PaintOne();
}

bool TApplication::PaintOne() {
  for (TCustomForm* f : std::vector<TCustomForm*>(FForms)) {
    if (!f->FShowing || f->FHandle == 0) continue;
    // The form first, then its windowed children, depth first.
    std::vector<TWinControl*> stack{f};
    while (!stack.empty()) {
      TWinControl* w = stack.back();
      stack.pop_back();
      if (w->FPaintPending) {
        w->FPaintPending = false;
        w->Perform(WM_PAINT, 0, 0);
        return true;
      }
      for (auto it = w->FControls.rbegin(); it != w->FControls.rend(); ++it)
        if (auto* cw = dynamic_cast<TWinControl*>(*it); cw && cw->FVisible) stack.push_back(cw);
    }
  }
  return false;
}

void TApplication::Idle(bool Wait) {
  if (FSizeMoveWindow != 0) {
    // The user is moving or sizing a window: no idle events until that ends.
    if (Wait) WaitMessage();
    return;
  }
  bool done = true;
  ++FIdleCount;
  try {
    if (OnIdle) OnIdle(this, done);
    for (TApplicationEvents* ev : std::vector<TApplicationEvents*>(FEvents)) {
      if (std::find(FEvents.begin(), FEvents.end(), ev) == FEvents.end()) continue;
      if (ev->OnIdle) ev->OnIdle(this, done);
    }
  } catch (...) {
    HandleException(this);
  }
  FLastDone = done;
  if (done && Wait) WaitMessage();
}

void TApplication::WaitMessage() {
  backend::Event e;
  if (Machine().WaitEvent(e, -1)) FPending.push_back(std::move(e));
}

bool TApplication::Step() {
  if (FTerminated) return false;
  bool idled = false;
  try {
    if (!ProcessMessage()) {
      Idle(false);
      idled = true;
    }
  } catch (...) {
    HandleException(this);
  }
  // Where the real loop would block for the next message, let a little time pass instead.
  if (idled && !FTerminated && (FLastDone || FSizeMoveWindow != 0)) {
    backend::Event e;
    if (Machine().WaitEvent(e, 1)) FPending.push_back(std::move(e));
  }
  return !FTerminated;
}

bool TApplication::RunUntil(const std::function<bool()>& Condition, int MaxPasses) {
  for (int i = 0; i < MaxPasses; ++i) {
    if (Condition()) return true;
    if (!Step()) break;
  }
  return Condition();
}

void TApplication::DispatchEvent(const backend::Event& E) {
  using backend::EventType;
  // The user doing something: an error that comes again after this is worth a box again.
  if ((E.type == EventType::KeyDown && !E.repeat) || E.type == EventType::MouseDown ||
      E.type == EventType::MouseWheel || E.type == EventType::WindowClose ||
      E.type == EventType::Quit)
    FErrorsShown.clear();
  if (E.type == EventType::Quit) {
    if (FMainForm != nullptr)
      FMainForm->Perform(WM_CLOSE, 0, 0);
    else
      Terminate();
    return;
  }
  if (E.type == EventType::FocusGained || E.type == EventType::FocusLost) {
    // Sounds of a window without the focus fall silent. The mixer cannot ask for the focus
    // from the audio thread, so it hears of every change here, as soon as it is known.
    dsound::SoundMixer::Instance().RefreshFocus();
  }
  TCustomForm* form = FormOfWindow(E.window);
  if (form == nullptr) return;
  switch (E.type) {
    case EventType::WindowClose:
      form->Perform(WM_CLOSE, 0, 0);
      break;
    case EventType::KeyDown:
    case EventType::KeyUp:
    case EventType::TextInput:
      DispatchKey(E, form);
      break;
    case EventType::MouseMove:
    case EventType::MouseDown:
    case EventType::MouseUp:
    case EventType::MouseWheel:
      DispatchMouse(E, form);
      break;
    case EventType::FocusGained:
    case EventType::FocusLost: {
      const bool gained = E.type == EventType::FocusGained;
      if (gained) form->SyncBoundsFromWindow();
      form->Perform(WM_ACTIVATE, gained ? WA_ACTIVE : WA_INACTIVE, 0);
      TNotifyEvent TApplication::*own =
          gained ? &TApplication::OnActivate : &TApplication::OnDeactivate;
      if (this->*own) (this->*own)(this);
      for (TApplicationEvents* ev : std::vector<TApplicationEvents*>(FEvents)) {
        const TNotifyEvent& h = gained ? ev->OnActivate : ev->OnDeactivate;
        if (h) h(this);
      }
      break;
    }
    case EventType::Exposed:
      // The window manager may have put the window elsewhere than asked.
      form->SyncBoundsFromWindow();
      form->InvalidateAll();
      break;
    case EventType::Minimized:
    case EventType::Restored:
      form->Perform(WM_SIZE, E.type == EventType::Minimized ? SIZE_MINIMIZED : SIZE_RESTORED,
                    MakeLParam(form->ClientWidth(), form->ClientHeight()));
      if (E.type == EventType::Restored) form->InvalidateAll();
      break;
    case EventType::MoveSizeBegin:
      if (FSizeMoveWindow == 0) {
        FSizeMoveWindow = form->FHandle;
        form->Perform(WM_ENTERSIZEMOVE, 0, 0);
      }
      break;
    case EventType::MoveSizeEnd:
      if (FSizeMoveWindow == form->FHandle) {
        // Idle events come back whatever the handler of the end does.
        FSizeMoveWindow = 0;
        form->SyncBoundsFromWindow();
        form->Perform(WM_EXITSIZEMOVE, 0, 0);
      }
      break;
    default:
      break;
  }
}

void TApplication::DispatchKey(const backend::Event& E, TCustomForm* Form) {
  // Keys go to the focused control, or to the form when none of its controls has the focus.
  TWinControl* target = Form;
  if (Form->ActiveControl != nullptr && Form->ActiveControl->CanFocus() &&
      GetParentForm(Form->ActiveControl) == Form)
    target = Form->ActiveControl;
  target->HandleNeeded();
  if (E.type == backend::EventType::TextInput) {
    // Characters the programs' single-byte key events can carry.
    for (unsigned char ch : E.text)
      if (ch < 0x80) target->Perform(WM_CHAR, ch, 1);
    return;
  }
  const WORD vk = VirtualKeyFromScancode(E.scancode);
  if (vk == 0) return;
  LPARAM data = static_cast<LPARAM>((E.scancode & 0xFF) << 16) | 1;
  if (E.repeat) data |= LPARAM{1} << 30;
  if (E.type == backend::EventType::KeyUp) data |= LPARAM{3} << 30;
  target->Perform(E.type == backend::EventType::KeyDown ? WM_KEYDOWN : WM_KEYUP, vk, data);
}

void TApplication::DispatchMouse(const backend::Event& E, TCustomForm* Form) {
  using backend::EventType;
  if (E.type == EventType::MouseDown || E.type == EventType::MouseUp) {
    const std::uint32_t bit = E.button == 1 ? 1u : E.button == 3 ? 2u : E.button == 2 ? 4u : 0u;
    if (E.type == EventType::MouseDown)
      FMouseButtons |= bit;
    else
      FMouseButtons &= ~bit;
  }
  const TPoint p{E.x, E.y};
  // The control that has the mouse keeps it until every button is up.
  TControl* target = GetCaptureControl();
  if (target == nullptr || GetParentForm(target) != Form) {
    target = Form->ControlAtPos(p, false, true);
    if (target == nullptr) target = Form;
  }
  const TPoint o = OffsetInForm(target);
  const LPARAM at = MakeLParam(p.X - o.X, p.Y - o.Y);
  WPARAM keys = 0;
  if (FMouseButtons & 1) keys |= MK_LBUTTON;
  if (FMouseButtons & 2) keys |= MK_RBUTTON;
  if (FMouseButtons & 4) keys |= MK_MBUTTON;
  if (GetKeyState(VK_SHIFT) < 0) keys |= MK_SHIFT;
  if (GetKeyState(VK_CONTROL) < 0) keys |= MK_CONTROL;
  UINT msg = WM_MOUSEMOVE;
  switch (E.type) {
    case EventType::MouseDown:
      msg = E.button == 1 ? WM_LBUTTONDOWN : E.button == 3 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
      SetCaptureControl(target);
      break;
    case EventType::MouseUp:
      msg = E.button == 1 ? WM_LBUTTONUP : E.button == 3 ? WM_RBUTTONUP : WM_MBUTTONUP;
      if (FMouseButtons == 0) SetCaptureControl(nullptr);
      break;
    case EventType::MouseWheel:
      msg = WM_MOUSEWHEEL;
      keys |= static_cast<WPARAM>(static_cast<WORD>(E.y * 120)) << 16;
      break;
    default:
      break;
  }
  target->Perform(msg, keys, at);
}

void TApplication::HandleException(TObject* Sender) {
  SetCaptureControl(nullptr);
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  auto report = [this, Sender](Exception* E) {
    std::vector<TExceptionEvent> handlers;
    if (OnException) handlers.push_back(OnException);
    for (TApplicationEvents* ev : FEvents)
      if (ev->OnException) handlers.push_back(ev->OnException);
    if (handlers.empty()) {
      ShowException(E);
      return;
    }
    for (auto& h : handlers) {
      try {
        h(Sender, E);
      } catch (Exception& inner) {
        // A handler that fails is reported, not let out of the loop.
        ShowException(&inner);
      } catch (...) {
        Exception unknown("Unknown exception");
        ShowException(&unknown);
      }
    }
  };
  try {
    std::rethrow_exception(current);
  } catch (EAbort&) {
    // Silent by design: it only ends what was going on.
  } catch (Exception& e) {
    report(&e);
  } catch (std::exception& e) {
    Exception wrapped(e.what());
    report(&wrapped);
  } catch (...) {
    Exception wrapped("Unknown exception");
    report(&wrapped);
  }
}

void TApplication::ShowException(Exception* E) {
  std::string title = FTitle;
  if (title.empty()) {
    const std::string exe = ExeName();
    const auto slash = exe.find_last_of('/');
    title = slash == std::string::npos ? exe : exe.substr(slash + 1);
  }
  // The box is modal and raises no idle events, or a failure on every frame would pile up
  // boxes without end; nor does the same failure come back in a box after every one is
  // answered, which would leave the user no moment to close the window.
  if (!FErrorsShown.insert(std::string(E->ClassName()) + ": " + E->Message).second) return;
  MessageBox(E->Message, title, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption, UINT Flags) {
  HWND owner = FMainForm != nullptr && FMainForm->HandleAllocated() ? FMainForm->FHandle : 0;
  return ::MessageBox(owner, Text, Caption, Flags);
}
