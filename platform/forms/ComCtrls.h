// TTrackBar: a slider with a thumb on a channel and tick marks, moved with the mouse or, while
// it has the focus and is enabled, with the arrow, page, home and end keys.
#pragma once

#include "platform/forms/Controls.h"
#include "platform/forms/PaintBuffer.h"

enum TTrackBarOrientation { trHorizontal, trVertical };
enum TTickMark { tmBottomRight, tmTopLeft, tmBoth };
enum TTickStyle { tsNone, tsAuto, tsManual };

class TTrackBar : public TCustomControl {
 public:
  explicit TTrackBar(TComponent* AOwner);

  int Min() const { return FMin; }
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  // A new range takes the position into it without telling OnChange.
  void SetMin(int Value);
  void SetMax(int Value);
  // Kept within Min..Max. Assigning a position other than the present one redraws the thumb and
  // fires OnChange (once the stored form is read), whoever assigns it.
  void SetPosition(int Value);
  // A tick every Frequency positions from Min, and one at Max.
  int Frequency() const { return FFrequency; }
  void SetFrequency(int Value);
  int LineSize = 1;  // arrow keys
  int PageSize = 2;  // page keys and clicks on the channel beside the thumb
  TTrackBarOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TTrackBarOrientation Value);
  TTickMark TickMarks = tmBottomRight;
  TTickStyle TickStyle = tsAuto;

  TNotifyEvent OnChange;

  // Where the channel runs and where the thumb of a position stands, in client coordinates along
  // the slider's length.
  int ChannelStart() const;
  int ChannelEnd() const;
  int ThumbCentre(int APosition) const;
  TRect ThumbRect() const;

  void DefineProperties(TPropertyDefs& P) override;
  void Loaded() override;

 protected:
  void Paint() override;
  void Changed();
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void KeyDown(WORD& Key, TShiftState Shift) override;

 private:
  int Along(int X, int Y) const { return FOrientation == trHorizontal ? X : Y; }
  int PositionAt(int Along) const;
  int FMin = 0;
  int FMax = 10;
  int FPosition = 0;
  int FFrequency = 1;
  TTrackBarOrientation FOrientation = trHorizontal;
  bool FDragging = false;
  int FDragOffset = 0;  // from the thumb's centre to where it was grabbed
  TPaintBuffer FBuffer;
};
