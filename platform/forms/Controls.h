// Controls: the visual components that sit on a form. A control has bounds inside its parent,
// takes messages through its WindowProc (which hooks may replace) and fires the mouse and key
// events. Windowed controls (TWinControl) have a window handle and children; graphic controls
// (TGraphicControl) draw on their parent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Messages.h"
#include "platform/gdi/Colors.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Sets.h"
#include "platform/win/WinTypes.h"

class TWinControl;
class TCustomForm;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateItem>;
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TObject* Sender, WORD& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

// The pixels of a form's client area: what its controls draw and what its window shows.
struct TWindowImage {
  std::vector<std::uint32_t> Pixels;  // Width x Height, no padding
  int Width = 0;
  int Height = 0;
  std::uint32_t* Row(int y) { return Pixels.data() + static_cast<std::size_t>(y) * Width; }
};

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* Value) override;

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
  void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
  void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
  void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
  virtual int ClientWidth() const { return FWidth; }
  virtual int ClientHeight() const { return FHeight; }
  virtual void SetClientWidth(int Value) { SetWidth(Value); }
  virtual void SetClientHeight(int Value) { SetHeight(Value); }
  TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible here and in every parent up to a form that is shown.
  bool Showing() const;
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool Value);
  const std::string& Caption() const { return FCaption; }
  virtual void SetCaption(const std::string& Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentColor = false;
  std::string Hint;
  bool ShowHint = false;
  bool ParentShowHint = true;

  // Screen coordinates of the client area's top-left corner, and conversions.
  virtual TPoint ClientOrigin() const;
  TPoint ClientToScreen(const TPoint& Point) const;
  TPoint ScreenToClient(const TPoint& Point) const;

  // Asks for a repaint; the message loop paints when no other message is waiting.
  virtual void Invalidate();
  // Paints at once.
  virtual void Repaint();

  // Sends a message through WindowProc and gives its result.
  LRESULT Perform(UINT Msg, WPARAM WParam, LPARAM LParam);
  // The window procedure: WndProc unless a hook replaced it.
  TWndMethod WindowProc;
  virtual void WndProc(TMessage& Message);
  // The message table: the handler of Message.Msg, or DefaultHandler.
  virtual void Dispatch(TMessage& Message);
  virtual void DefaultHandler(TMessage& Message);

  // Whether the control still stands: false from the end of its destructor on, for those that
  // keep a pointer to it and may outlive it.
  std::shared_ptr<const bool> AliveToken() const { return FAlive; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;

  void DefineProperties(TPropertyDefs& P) override;

 protected:
  virtual void Click();
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void Resize();
  // Tells the parent to lay out its aligned children again.
  void RequestAlign();

  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TWinControl* FParent = nullptr;
  bool FVisible = true;
  bool FEnabled = true;
  std::string FCaption;
  TColor FColor = clBtnFace;
  TAlign FAlign = alNone;

 private:
  friend class TWinControl;
  void MouseMessage(TMessage& Message, int Kind, TMouseButton Button);
  bool FClicked = false;
  std::shared_ptr<bool> FAlive;
};

// The parameters a windowed control's window is made with; CreateParams fills them.
struct TCreateParams {
  std::string Caption;
  LONG Style = 0;
  LONG ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;  // the outer rectangle
  HWND WndParent = 0;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  // The window handle, made on first use.
  HWND Handle();
  bool HandleAllocated() const { return FHandle != 0; }
  void HandleNeeded() { Handle(); }
  // Makes the window again: WM_DESTROY to the old one, WM_CREATE to the new.
  void RecreateWnd();

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int Index) const { return FControls.at(static_cast<std::size_t>(Index)); }
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  // The topmost visible child under a client point (disabled ones only when asked), or
  // nullptr; with Deep, the innermost one.
  TControl* ControlAtPos(const TPoint& Pos, bool AllowDisabled, bool Deep = false) const;
  void AlignControls();

  bool Focused() const;
  bool CanFocus() const;
  virtual void SetFocus();
  int TabOrder = -1;
  bool TabStop = false;

  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

  void Dispatch(TMessage& Message) override;
  void DefaultHandler(TMessage& Message) override;
  void Invalidate() override;
  void Repaint() override;
  void DefineProperties(TPropertyDefs& P) override;

  // Paint bookkeeping of the message loop.
  bool PaintPending() const { return FPaintPending; }
  void InvalidateAll();  // this control and every windowed child

 protected:
  virtual void CreateParams(TCreateParams& Params);
  virtual void CreateHandle();
  virtual void CreateWnd();
  virtual void DestroyHandle();
  virtual void DestroyWnd();
  // Runs the key events: true when the key was taken (set to 0) on the way.
  virtual bool DoKeyDown(TMessage& Message);
  virtual bool DoKeyUp(TMessage& Message);
  virtual bool DoKeyPress(TMessage& Message);
  virtual void KeyDown(WORD& Key, TShiftState Shift);
  virtual void KeyUp(WORD& Key, TShiftState Shift);
  virtual void KeyPress(char& Key);
  // WM_PAINT: the control's own drawing, then that of its graphic children.
  virtual void PaintHandler(TMessage& Message);
  virtual void PaintWindow() {}

  HWND FHandle = 0;

 private:
  friend class TControl;
  friend class TApplication;
  std::vector<TControl*> FControls;
  bool FPaintPending = false;
  bool FDestroyingHandle = false;
  bool FAligning = false;
};

class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {}

 protected:
  void PaintWindow() override { Paint(); }
  virtual void Paint() {}
};

class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* AOwner) : TControl(AOwner) {}
  void Dispatch(TMessage& Message) override;

 protected:
  virtual void Paint() {}
};

// The control that has the mouse: it gets every mouse message until the buttons are released.
TControl* GetCaptureControl();
void SetCaptureControl(TControl* Control);

// Mouse-message key states (MK_*) and keyboard modifiers as a shift state.
TShiftState KeysToShiftState(WPARAM Keys);
TShiftState KeyboardShiftState();
