// The editor's window: a lane on which the chart's notes scroll past a judgement line as the
// music plays, recorded with eight buttons, moved, spaced, merged and deleted with the mouse,
// played back with their drums and saved. The frame loop runs on the application's idle event.
#pragma once

#include <cstdint>

#include "editor/Score.h"
#include "framework/graphics/DXDraws.h"
#include "framework/graphics/DXForm.h"
#include "framework/sound_input/DXSounds.h"
#include "framework/sound_input/Ddidex.h"
#include "platform/forms/AppEvnts.h"
#include "platform/forms/Buttons.h"
#include "platform/forms/ComCtrls.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/StdCtrls.h"
#include "platform/mci/MPlayer.h"

namespace Tessaly {

enum TEditorMode : std::uint8_t { emRecord = 0, emEdit = 1, emPlayback = 2 };

// The lane: the judgement line's row and the drawing surface's height.
constexpr int JudgeLineY = 420;
constexpr int LaneHeight = 569;
// A frame runs once more than this many milliseconds have passed since the last one.
constexpr long double FrameInterval = 16.66L;

class TForm1 : public TDXForm {
 public:
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;
  const char* ClassName() const override { return "TForm1"; }

  // The stored components, in their stored order; the form owns and frees them.
  TMediaPlayer* BGM1 = nullptr;
  TOpenDialog* OD1 = nullptr;
  TApplicationEvents* AE1 = nullptr;
  TDXDraw* DXDraw1 = nullptr;
  TDXSound* DXSound1 = nullptr;
  TDXWaveList* Sounds = nullptr;
  TSpeedButton* SpeedButton2 = nullptr;
  TTrackBar* Speed1 = nullptr;
  TLabel* Label2 = nullptr;
  TDDIDEX* Input1 = nullptr;

  // Handlers named in the stored form.
  void FormShow(TObject* Sender);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  void FormDestroy(TObject* Sender);
  void FormKeyDown(TObject* Sender, WORD& Key, TShiftState Shift);
  void FormKeyUp(TObject* Sender, WORD& Key, TShiftState Shift);
  void AE1Idle(TObject* Sender, bool& Done);
  void Speed1Change(TObject* Sender);
  void SpeedButton2Click(TObject* Sender);
  void DXDraw1MouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void DXDraw1MouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
  void DXDraw1MouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);

  // One frame, with the frame's clock already read (AE1Idle decides when).
  void RunFrame();
  // Adds a note of Kind at the music's position, plays its drum and sorts the chart.
  void RecordNote(std::uint8_t Kind);

 private:
  // The button went down this frame: down now, up at the end of the last frame.
  bool Pressed(int Button) const;
  void RecordWork();
  void EditWork();
  void PlaybackWork();
  void DrawLane();
  void SwitchModes();
  void Seek();
  void PlayDrum(std::uint8_t Kind);
  bool FTimePeriod = false;
};

extern TForm1* Form1;

// The editor's state, as the window's handlers share it.
extern TScore* Score;
extern std::uint8_t EditorMode;
extern bool Selecting;
extern double ScrollSpeed;
extern TPoint LanePointer;
extern TNote* GrabbedNote;
extern TRect SelectionRect;
extern bool PrevButtons[10];
extern std::int32_t MusicPos;
extern std::int32_t FrameCount;
extern std::uint32_t FrameTime;
extern std::uint32_t LastFrameTime;

// P lies in R, edges included; R is taken as dragged, so one dragged up or left holds nothing.
bool PointInRect(const TPoint& P, const TRect& R);
// The two rectangles share some area.
bool RectsIntersect(const TRect& A, const TRect& B);
// The colour of a note's line and number by kind; other kinds keep the colour before them.
TColor NoteColor(std::uint8_t Kind, TColor Previous);

}  // namespace Tessaly
