// Forms and the application: top-level windows built from their stored data, and the message
// loop that dispatches the backend's events to them and runs the idle event between messages.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/backend/Backend.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Windows.h"

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;
using TIdleEvent = std::function<void(TObject* Sender, bool& Done)>;
using TExceptionEvent = std::function<void(TObject* Sender, Exception* E)>;

// Frame of a captioned window: the client area starts this far inside the outer rectangle. The
// bottom edge is thin: the editor's window, 603 high outside, was laid out so that its whole
// 569-row lane shows below a 32-pixel caption.
constexpr int kFrameLeft = 5;
constexpr int kFrameTop = 32;
constexpr int kFrameRight = 5;
constexpr int kFrameBottom = 2;

// Something drawn over a form's client image every time the image is shown: the boxes that a
// modal loop opens inside the window. The client image itself stays as the controls drew it.
class TFormOverlay {
 public:
  virtual ~TFormOverlay() = default;
  // Draws onto Image, a copy of the client image about to be shown.
  virtual void DrawOverlay(TWindowImage& Image) = 0;
};

class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;
  void BeforeDestruction() override;

  // Reads the form's stored data (registered under its class name) and fires OnCreate. Runs
  // once the whole object is built, so a derived form has registered its handlers and fields
  // first; Application->CreateForm and Create<T> call it.
  virtual void AfterConstruction();
  template <class T>
  static T* Create(TComponent* AOwner) {
    T* form = new T(AOwner);
    try {
      form->AfterConstruction();
    } catch (...) {
      form->Free();
      throw;
    }
    return form;
  }

  void SetCaption(const std::string& Value) override;
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value);
  TPosition Position = poDesigned;
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState Value);
  bool KeyPreview = false;
  TWinControl* ActiveControl = nullptr;
  // The form's window has the focus.
  bool Active() const { return FActive; }

  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetClientWidth(int Value) override;
  void SetClientHeight(int Value) override;
  TPoint ClientOrigin() const override;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  void SetVisible(bool Value) override;

  // Closes the form: OnCloseQuery may refuse; OnClose picks what happens. The main form's close
  // ends the application's loop once control is back in it; nothing is freed here.
  void Close();
  bool CloseQuery();
  // Frees the form from the message loop, once the handler that asked has returned.
  void Release();

  // The client image: what the controls draw and the window shows.
  TWindowImage& Image();
  // Shows the client image in the window, with the overlays over it.
  void PresentImage();
  // Overlays are drawn in the order added, the last on top; the form does not own them.
  void AddOverlay(TFormOverlay* Overlay);
  void RemoveOverlay(TFormOverlay* Overlay);
  bool HasOverlays() const { return !FOverlays.empty(); }

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TNotifyEvent OnPaint;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  void Dispatch(TMessage& Message) override;
  void DefineProperties(TPropertyDefs& P) override;
  void Loaded() override;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void PaintHandler(TMessage& Message) override;
  virtual void WMSysCommand(TMessage& Message);
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoShow();
  virtual void DoHide();
  virtual void DoClose(TCloseAction& Action);
  // The frame around the client area for the form's current border style.
  void FrameMetrics(int& left, int& top, int& right, int& bottom) const;
  // The backend window title: the caption, with the application's title beside it.
  std::string WindowTitle() const;
  void UpdateWindowTitle();

 private:
  friend class TApplication;
  friend class TControl;
  void PlaceOnScreen();
  void ShowingChanged();
  void SyncBoundsFromWindow();
  TFormBorderStyle FBorderStyle = bsSizeable;
  TWindowState FWindowState = wsNormal;
  bool FActive = false;
  bool FDestroyed = false;  // OnDestroy and the window's end are done
  bool FShowing = false;    // the window is shown
  bool FPlaced = false;
  int FPendingClientWidth = -1;  // read from stored data, applied in Loaded
  int FPendingClientHeight = -1;
  TWindowImage FImage;
  std::vector<TFormOverlay*> FOverlays;
  TWindowImage FComposed;  // the client image with the overlays, as last shown
};

class TForm : public TCustomForm {
 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

// The form a control stands on, or nullptr.
TCustomForm* GetParentForm(TControl* Control);

class TApplicationEvents;

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value);
  TCustomForm* MainForm() const { return FMainForm; }
  // The application's own window (never shown); TDXForm gives it the tool-window style.
  HWND Handle() const { return FHandle; }
  std::string ExeName() const;
  bool Terminated() const { return FTerminated; }
  bool ShowMainForm = true;

  void Initialize() {}
  // Makes a form owned by the application; the first one made becomes the main form. Reference
  // is set before the form reads its stored data, as handlers may look at it.
  template <class T>
  void CreateForm(T*& Reference) {
    T* form = new T(this);
    Reference = form;
    try {
      form->AfterConstruction();
    } catch (...) {
      Reference = nullptr;
      form->Free();
      throw;
    }
    if (FMainForm == nullptr) FMainForm = form;
  }

  // Shows the main form and runs the message loop until Terminate takes effect.
  void Run();
  // Asks the loop to end: it does once the messages already queued are handled.
  void Terminate();
  // Handles one message, or runs the idle event when none is waiting (and then waits for the
  // next message when the handler leaves Done set).
  void HandleMessage();
  // Handles every message waiting, without idle events.
  void ProcessMessages();
  // The pieces modal loops are built from: one message from the program's queue, the machine
  // or a pending repaint (false when there was none), and a wait for the next one.
  bool ProcessMessage();
  void WaitMessage();
  // Reports the exception being handled (call it inside a catch block): OnException, or the
  // error box captioned with the title. EAbort is silent.
  void HandleException(TObject* Sender);
  // The error box for E, unless a box was shown for the same error (class and message) since
  // the user last did something: a failure that recurs on every frame is said once, not in a
  // box that comes back for ever. A key or a mouse button going down, the wheel, or a request
  // to close lets every error be shown again.
  void ShowException(Exception* E);
  int MessageBox(const std::string& Text, const std::string& Caption, UINT Flags);
  void Minimize();

  // Steps for tests. Step runs one pass of the loop without ever blocking: one message, or one
  // idle pass; false once the loop has ended. RunUntil steps until Condition holds, the loop
  // ends or MaxPasses passes have run (passes that only wait move the virtual clock by 1 ms);
  // it returns Condition's last value.
  bool Step();
  bool RunUntil(const std::function<bool()>& Condition, int MaxPasses = 1000000);
  // Passes of the idle event so far, and the Done flag the last one left.
  std::uint64_t IdleCount() const { return FIdleCount; }
  bool LastIdleDone() const { return FLastDone; }
  // A window is being moved or sized: the idle event is paused until it ends.
  bool InSizeMove() const { return FSizeMoveWindow != 0; }
  // Forgets a terminated loop so tests may run it again.
  void ResetTerminated() { FTerminated = false; }
  // For tests: drops every queued message and pending event, the loop's state and the
  // application's own handlers, so the next test starts clean (its forms are the test's).
  void ResetForTest();

  TIdleEvent OnIdle;
  TExceptionEvent OnException;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;

 private:
  friend class TApplicationEvents;
  friend class TCustomForm;
  friend class TModalLoop;
  friend BOOL PostMessage(HWND, UINT, WPARAM, LPARAM);
  friend void PostQuitMessage(int);
  struct TPosted {
    HWND Wnd = 0;
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    TCustomForm* Form = nullptr;  // CM_RELEASE: the form to free, if it still stands
    std::shared_ptr<const bool> FormAlive;
  };
  void Idle(bool Wait);
  void DispatchEvent(const backend::Event& E);
  void DispatchMouse(const backend::Event& E, TCustomForm* Form);
  void DispatchKey(const backend::Event& E, TCustomForm* Form);
  bool PaintOne();
  TCustomForm* FormOfWindow(backend::WindowId W) const;
  void FormGone(TCustomForm* Form);

  std::string FTitle;
  TCustomForm* FMainForm = nullptr;
  HWND FHandle = 0;
  bool FTerminated = false;
  std::deque<TPosted> FPosted;
  std::deque<backend::Event> FPending;  // taken from the backend while waiting
  std::vector<TCustomForm*> FForms;     // every form with a window
  std::vector<TApplicationEvents*> FEvents;
  HWND FSizeMoveWindow = 0;
  std::uint64_t FIdleCount = 0;
  bool FLastDone = true;
  std::uint32_t FMouseButtons = 0;     // bits as the backend's: 1 left, 2 right, 4 middle
  std::set<std::string> FErrorsShown;  // class and message of each error box since input
};

// The application object of the program.
extern TApplication* Application;
