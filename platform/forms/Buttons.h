// TSpeedButton: a flat-topped push button drawn by its parent. It never takes the keyboard
// focus, so clicking it leaves the keys with whatever had them.
#pragma once

#include <string>

#include "platform/forms/Controls.h"
#include "platform/forms/PaintBuffer.h"
#include "platform/gdi/Canvas.h"

class TSpeedButton : public TGraphicControl {
 public:
  explicit TSpeedButton(TComponent* AOwner);

  // Buttons of one GroupIndex (not 0) stay down when clicked and let the others of the group
  // up; with GroupIndex 0 the button only looks down while the mouse holds it.
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int Value);
  bool Down() const { return FDown; }
  void SetDown(bool Value);
  bool AllowAllUp = false;
  bool Flat() const { return FFlat; }
  void SetFlat(bool Value);
  TFont* Font() { return &FFont; }
  // The mouse holds the button down and is over it.
  bool Pressed() const { return FPressed && FMouseInside; }

  void Click() override;
  void DefineProperties(TPropertyDefs& P) override;

 protected:
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  void SetPressedState(bool Pressed, bool Inside);
  int FGroupIndex = 0;
  bool FDown = false;
  bool FFlat = false;
  bool FPressed = false;
  bool FMouseInside = false;
  TFont FFont;
  TPaintBuffer FBuffer;
};
