#include "platform/forms/Buttons.h"

#include "platform/forms/Forms.h"

namespace {
const bool registered = (RegisterClass<TSpeedButton>("TSpeedButton"), true);
}  // namespace

TSpeedButton::TSpeedButton(TComponent* AOwner) : TGraphicControl(AOwner) {
  FWidth = 23;
  FHeight = 22;
  FFont.OnChange = [this](TObject*) { Invalidate(); };
}

void TSpeedButton::SetGroupIndex(int Value) {
  if (Value == FGroupIndex) return;
  FGroupIndex = Value;
  if (FGroupIndex == 0 && FDown) SetDown(false);
}

void TSpeedButton::SetDown(bool Value) {
  if (FGroupIndex == 0) Value = false;
  if (Value == FDown) return;
  FDown = Value;
  if (FDown && FParent != nullptr) {
    // Only one button of a group is down at a time.
    for (int i = 0; i < FParent->ControlCount(); ++i) {
      auto* other = dynamic_cast<TSpeedButton*>(FParent->Controls(i));
      if (other != nullptr && other != this && other->FGroupIndex == FGroupIndex && other->FDown) {
        other->FDown = false;
        other->Invalidate();
      }
    }
  }
  Invalidate();
}

void TSpeedButton::SetFlat(bool Value) {
  if (Value == FFlat) return;
  FFlat = Value;
  Invalidate();
}

void TSpeedButton::SetPressedState(bool Pressed, bool Inside) {
  if (Pressed == FPressed && Inside == FMouseInside) return;
  const bool was = this->Pressed();
  FPressed = Pressed;
  FMouseInside = Inside;
  if (was != this->Pressed()) Invalidate();
}

void TSpeedButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft && FEnabled) SetPressedState(true, true);
  TGraphicControl::MouseDown(Button, Shift, X, Y);
}

void TSpeedButton::MouseMove(TShiftState Shift, int X, int Y) {
  if (FPressed) SetPressedState(true, X >= 0 && Y >= 0 && X < FWidth && Y < FHeight);
  TGraphicControl::MouseMove(Shift, X, Y);
}

void TSpeedButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft) SetPressedState(false, false);
  TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TSpeedButton::Click() {
  if (FGroupIndex != 0) SetDown(!(FDown && AllowAllUp));
  TGraphicControl::Click();
}

void TSpeedButton::Paint() {
  TCustomForm* form = GetParentForm(this);
  if (form == nullptr) return;
  TCanvas* c = FBuffer.Begin(FWidth, FHeight);
  c->SetFont(&FFont);
  const bool sunk = Pressed() || FDown;
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(FColor);
  c->FillRect({0, 0, FWidth, FHeight});
  if (!FFlat || sunk) DrawEdge3D(c, {0, 0, FWidth, FHeight}, !sunk, !FFlat);
  c->Font()->SetColor(FEnabled ? FFont.Color() : clGrayText);
  // The face moves a pixel down and right while it is held.
  TRect face{0, 0, FWidth, FHeight};
  if (sunk) face = {1, 1, FWidth + 1, FHeight + 1};
  DrawCaptionCentred(c, face, FCaption);
  FBuffer.End();
  const TPoint at = ControlOffsetInForm(this);
  FBuffer.CopyTo(form->Image(), at.X, at.Y);
}

void TSpeedButton::DefineProperties(TPropertyDefs& P) {
  TGraphicControl::DefineProperties(P);
  P.String(
       "Caption", [this] { return FCaption; }, [this](const std::string& v) { SetCaption(v); })
      .Default(std::string());
  P.Int(
       "GroupIndex", [this] { return FGroupIndex; }, [this](int v) { SetGroupIndex(v); })
      .Default(0);
  P.Bool(
       "Down", [this] { return FDown; }, [this](bool v) { SetDown(v); })
      .Default(false);
  P.Bool("AllowAllUp", AllowAllUp).Default(false);
  P.Bool(
       "Flat", [this] { return FFlat; }, [this](bool v) { SetFlat(v); })
      .Default(false);
}
