#include "platform/forms/ComCtrls.h"

#include <algorithm>
#include <cstdint>

#include "platform/forms/Forms.h"
#include "platform/forms/Windows.h"

namespace {
const bool registered = (RegisterClass<TTrackBar>("TTrackBar"), true);
const std::vector<std::string> kOrientationNames = {"trHorizontal", "trVertical"};
const std::vector<std::string> kTickMarkNames = {"tmBottomRight", "tmTopLeft", "tmBoth"};
const std::vector<std::string> kTickStyleNames = {"tsNone", "tsAuto", "tsManual"};

// The thumb, across and along the slider.
constexpr int kThumbAcross = 18;
constexpr int kThumbAlong = 11;
constexpr int kMargin = 8;  // between the control's ends and the thumb at either end
constexpr int kThumbTop = 4;
constexpr int kTickTop = kThumbTop + kThumbAcross + 2;
}  // namespace

TTrackBar::TTrackBar(TComponent* AOwner) : TCustomControl(AOwner) {
  FWidth = 150;
  FHeight = 45;
  TabStop = true;
}

void TTrackBar::SetMin(int Value) {
  if (Value == FMin) return;
  FMin = Value;
  if (FMax < FMin) FMax = FMin;
  FPosition = std::clamp(FPosition, FMin, FMax);
  Invalidate();
}

void TTrackBar::SetMax(int Value) {
  if (Value == FMax) return;
  FMax = Value;
  if (FMin > FMax) FMin = FMax;
  FPosition = std::clamp(FPosition, FMin, FMax);
  Invalidate();
}

void TTrackBar::SetPosition(int Value) {
  // A stored position may come before the range it lies in; it is taken as read.
  if (!ComponentState().Contains(csLoading)) Value = std::clamp(Value, FMin, FMax);
  if (Value == FPosition) return;
  FPosition = Value;
  Invalidate();
  Changed();
}

void TTrackBar::Loaded() {
  TCustomControl::Loaded();
  FPosition = std::clamp(FPosition, FMin, FMax);
}

void TTrackBar::SetFrequency(int Value) {
  if (Value == FFrequency) return;
  FFrequency = Value;
  Invalidate();
}

void TTrackBar::SetOrientation(TTrackBarOrientation Value) {
  if (Value == FOrientation) return;
  FOrientation = Value;
  Invalidate();
}

void TTrackBar::Changed() {
  if (ComponentState().Contains(csLoading)) return;
  if (OnChange) OnChange(this);
}

int TTrackBar::ChannelStart() const { return kMargin + kThumbAlong / 2; }

int TTrackBar::ChannelEnd() const {
  const int length = FOrientation == trHorizontal ? FWidth : FHeight;
  return std::max(ChannelStart(), length - kMargin - kThumbAlong / 2 - 1);
}

int TTrackBar::ThumbCentre(int APosition) const {
  const std::int64_t range = std::int64_t{FMax} - FMin;
  if (range <= 0) return ChannelStart();
  const std::int64_t span = ChannelEnd() - ChannelStart();
  const std::int64_t offset = std::clamp<std::int64_t>(std::int64_t{APosition} - FMin, 0, range);
  return ChannelStart() + static_cast<int>((offset * span + range / 2) / range);
}

TRect TTrackBar::ThumbRect() const {
  const int c = ThumbCentre(FPosition);
  const int a0 = c - kThumbAlong / 2, a1 = a0 + kThumbAlong;
  if (FOrientation == trHorizontal) return {a0, kThumbTop, a1, kThumbTop + kThumbAcross};
  return {kThumbTop, a0, kThumbTop + kThumbAcross, a1};
}

int TTrackBar::PositionAt(int AlongPos) const {
  const std::int64_t range = std::int64_t{FMax} - FMin;
  const std::int64_t span = ChannelEnd() - ChannelStart();
  if (range <= 0 || span <= 0) return FMin;
  const std::int64_t offset = std::clamp<std::int64_t>(AlongPos - ChannelStart(), 0, span);
  return FMin + static_cast<int>((offset * range + span / 2) / span);
}

void TTrackBar::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft && FEnabled) {
    if (CanFocus()) SetFocus();
    const TRect t = ThumbRect();
    if (X >= t.Left && X < t.Right && Y >= t.Top && Y < t.Bottom) {
      FDragging = true;
      FDragOffset = Along(X, Y) - ThumbCentre(FPosition);
    } else {
      // A click beside the thumb moves it a page toward the click.
      const int centre = ThumbCentre(FPosition);
      const int a = Along(X, Y);
      if (a < centre) SetPosition(std::max(FMin, FPosition - PageSize));
      if (a > centre + 1) SetPosition(std::min(FMax, FPosition + PageSize));
    }
  }
  TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TTrackBar::MouseMove(TShiftState Shift, int X, int Y) {
  if (FDragging) SetPosition(PositionAt(Along(X, Y) - FDragOffset));
  TCustomControl::MouseMove(Shift, X, Y);
}

void TTrackBar::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft && FDragging) {
    SetPosition(PositionAt(Along(X, Y) - FDragOffset));
    FDragging = false;
  }
  TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TTrackBar::KeyDown(WORD& Key, TShiftState Shift) {
  TCustomControl::KeyDown(Key, Shift);
  // Someone who saw the key first (a form with KeyPreview) may have disabled the bar for it.
  if (!FEnabled || Key == 0) return;
  switch (Key) {
    case VK_LEFT:
    case VK_UP:
      SetPosition(FPosition - LineSize);
      break;
    case VK_RIGHT:
    case VK_DOWN:
      SetPosition(FPosition + LineSize);
      break;
    case VK_PRIOR:
      SetPosition(FPosition - PageSize);
      break;
    case VK_NEXT:
      SetPosition(FPosition + PageSize);
      break;
    case VK_HOME:
      SetPosition(FMin);
      break;
    case VK_END:
      SetPosition(FMax);
      break;
    default:
      return;
  }
  Key = 0;
}

void TTrackBar::Paint() {
  TCustomForm* form = GetParentForm(this);
  if (form == nullptr) return;
  TCanvas* c = FBuffer.Begin(FWidth, FHeight);
  const bool horizontal = FOrientation == trHorizontal;
  // Draws a rectangle given along and across the slider.
  auto box = [horizontal](int a0, int x0, int a1, int x1) -> TRect {
    return horizontal ? TRect{a0, x0, a1, x1} : TRect{x0, a0, x1, a1};
  };
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(FColor);
  c->FillRect({0, 0, FWidth, FHeight});
  // The channel: a sunken groove through the thumb's middle.
  const int mid = kThumbTop + kThumbAcross / 2;
  DrawEdge3D(c, box(ChannelStart() - 2, mid - 2, ChannelEnd() + 3, mid + 2), false);
  // Ticks.
  if (TickStyle != tsNone) {
    c->Brush()->SetColor(clBtnText);
    auto tick = [&](int p, int size) {
      const int a = ThumbCentre(p);
      c->FillRect(box(a, kTickTop, a + 1, kTickTop + size));
    };
    const int step = std::max(FFrequency, 1);
    for (std::int64_t p = FMin; p < FMax; p += step) tick(static_cast<int>(p), p == FMin ? 4 : 3);
    tick(FMax, 4);
  }
  // The thumb.
  const TRect t = ThumbRect();
  c->Brush()->SetColor(FEnabled ? clBtnFace : clBtnShadow);
  c->FillRect(t);
  DrawEdge3D(c, t, true);
  if (Focused()) {
    c->Brush()->SetColor(clBtnShadow);
    c->FrameRect({0, 0, FWidth, FHeight});
  }
  FBuffer.End();
  const TPoint at = ControlOffsetInForm(this);
  FBuffer.CopyTo(form->Image(), at.X, at.Y);
  form->PresentImage();
}

void TTrackBar::DefineProperties(TPropertyDefs& P) {
  TCustomControl::DefineProperties(P);
  P.Int(
       "Frequency", [this] { return FFrequency; }, [this](int v) { SetFrequency(v); })
      .Default(1);
  P.Int(
       "Max", [this] { return FMax; }, [this](int v) { SetMax(v); })
      .Default(10);
  P.Int(
       "Min", [this] { return FMin; }, [this](int v) { SetMin(v); })
      .Default(0);
  P.Enum(
       "Orientation", kOrientationNames, [this] { return FOrientation; },
       [this](TTrackBarOrientation v) { SetOrientation(v); })
      .Default(trHorizontal);
  P.Int("LineSize", LineSize).Default(1);
  P.Int("PageSize", PageSize).Default(2);
  P.Int(
       "Position", [this] { return FPosition; }, [this](int v) { SetPosition(v); })
      .Default(0);
  P.Enum("TickMarks", kTickMarkNames, TickMarks).Default(tmBottomRight);
  P.Enum("TickStyle", kTickStyleNames, TickStyle).Default(tsAuto);
  P.Event("OnChange", OnChange);
}
