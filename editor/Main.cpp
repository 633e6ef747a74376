#include "editor/Main.h"

#include <limits>

#include "editor/Arith.h"
#include "platform/forms/Windows.h"
#include "platform/rtl/SysUtils.h"
#include "platform/timer/MMSystem.h"

namespace Tessaly {

TForm1* Form1 = nullptr;
TScore* Score = nullptr;
std::uint8_t EditorMode = emEdit;
bool Selecting = false;
double ScrollSpeed = 0.5;
TPoint LanePointer;
TNote* GrabbedNote = nullptr;
TRect SelectionRect;
bool PrevButtons[10] = {};
std::int32_t MusicPos = 0;
std::int32_t FrameCount = 0;
std::uint32_t FrameTime = 0;
std::uint32_t LastFrameTime = 0;

namespace {

// The lane's columns: a note's line and, left of it, its kind.
constexpr int kLineLeft = 25;
constexpr int kLineRight = 75;
constexpr int kKindX = 5;
// Half the height of a note for grabbing it in edit mode, and for telling a click on a note
// from the start of a selection.
constexpr int kGrabHalf = 11;
constexpr int kHitHalf = 5;

TRect PointRect(const TPoint& P) { return {P.X, P.Y, CheckedAdd(P.X, 1), CheckedAdd(P.Y, 1)}; }

TRect NoteRect(const TNote* N, int Half) {
  return {kLineLeft, CheckedSub(N->Y, Half), kLineRight, CheckedAdd(N->Y, Half)};
}

// Runs Place, a note's row worked out by the editor's checked arithmetic; false when that row
// overflows 32 bits. Such a note lies off the lane by any measure: it is neither drawn nor
// selected, where the raise would otherwise come back on every frame.
template <class Fn>
bool Placeable(Fn&& Place) {
  try {
    Place();
    return true;
  } catch (const EIntOverflow&) {
    return false;
  } catch (const ERangeError&) {
    return false;
  }
}

// The row kept for a note that cannot be placed: as far above the lane (a note still to come)
// or below it (one long past) as a row can lie with the note's grab area still formed around it.
std::int32_t FarOffTheLane(std::int32_t Time, std::int32_t Pos) {
  return Time > Pos ? std::numeric_limits<std::int32_t>::min() + kGrabHalf
                    : std::numeric_limits<std::int32_t>::max() - kGrabHalf;
}

}  // namespace

bool PointInRect(const TPoint& P, const TRect& R) {
  return R.Left <= P.X && P.X <= R.Right && R.Top <= P.Y && P.Y <= R.Bottom;
}

bool RectsIntersect(const TRect& A, const TRect& B) {
  const TRect r{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
                std::min(A.Bottom, B.Bottom)};
  return r.Left < r.Right && r.Top < r.Bottom;
}

TColor NoteColor(std::uint8_t Kind, TColor Previous) {
  switch (Kind) {
    case 0:
      return 0xFFFFFF;
    case 1:
      return 0x00FFFF;
    case 2:
      return 0x00FF00;
    case 3:
      return 0xFFFF00;
    case 4:
      return 0x0000FF;
    case 5:
      return 0xC0C0C0;
    case 6:
      return 0xFF00FF;
    case 7:
      return 0x215297;
    case 8:
      return 0x878124;
    default:
      return Previous;
  }
}

TForm1::TForm1(TComponent* AOwner) : TDXForm(AOwner) {
  // One window per run: its state starts afresh with it.
  Form1 = this;
  EditorMode = emEdit;
  Selecting = false;
  ScrollSpeed = 0.5;
  LanePointer = {};
  GrabbedNote = nullptr;
  SelectionRect = {};
  for (bool& b : PrevButtons) b = false;
  MusicPos = 0;
  FrameCount = 0;
  FrameTime = 0;
  LastFrameTime = 0;

  RegisterField("BGM1", BGM1);
  RegisterField("OD1", OD1);
  RegisterField("AE1", AE1);
  RegisterField("DXDraw1", DXDraw1);
  RegisterField("DXSound1", DXSound1);
  RegisterField("Sounds", Sounds);
  RegisterField("SpeedButton2", SpeedButton2);
  RegisterField("Speed1", Speed1);
  RegisterField("Label2", Label2);
  RegisterField("Input1", Input1);
  RegisterMethod("FormShow", this, &TForm1::FormShow);
  RegisterMethod("FormCloseQuery", this, &TForm1::FormCloseQuery);
  RegisterMethod("FormDestroy", this, &TForm1::FormDestroy);
  RegisterMethod("FormKeyDown", this, &TForm1::FormKeyDown);
  RegisterMethod("FormKeyUp", this, &TForm1::FormKeyUp);
  RegisterMethod("AE1Idle", this, &TForm1::AE1Idle);
  RegisterMethod("Speed1Change", this, &TForm1::Speed1Change);
  RegisterMethod("SpeedButton2Click", this, &TForm1::SpeedButton2Click);
  RegisterMethod("DXDraw1MouseDown", this, &TForm1::DXDraw1MouseDown);
  RegisterMethod("DXDraw1MouseMove", this, &TForm1::DXDraw1MouseMove);
  RegisterMethod("DXDraw1MouseUp", this, &TForm1::DXDraw1MouseUp);
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::FormShow(TObject* Sender) {
  timeBeginPeriod(1);
  FTimePeriod = true;
  AppDir = ExtractFilePath(Application->ExeName());
  SetFocus();
  BGM1->Wait = true;
  OD1->FileName.clear();
  OD1->InitialDir = AppDir + "Score/";
  for (;;) {
    // Cancelling shows the dialog anew: the editor has nothing to do without a chart.
    while (!OD1->Execute()) {
    }
    if (Score == nullptr) {
      Score = new TScore;
      Score->Music = BGM1;
      Score->SpeedBar = Speed1;
    }
    try {
      Score->LoadFromFile(OD1->FileName);
      return;
    } catch (const Exception& E) {
      // A chart that could not be read, or whose music is missing, is not worked on: an empty
      // chart saved later would wipe the file. The user hears which file failed and picks again.
      ShowMessage(E.Message);
    }
  }
}

void TForm1::FormCloseQuery(TObject* Sender, bool& CanClose) {
  // Nothing was opened, so there is nothing to save.
  if (Score == nullptr || !Score->IsLoaded()) return;
  if (BGM1->Mode() == mpPlaying) BGM1->Stop();
  EditorMode = emEdit;
  // A failed save leaves this handler with its error, and the window stays open.
  if (MessageDlg("セーブしますか？", mtConfirmation, {mbYes, mbNo}, 0) == mrYes)
    Score->SaveToFile(OD1->FileName);
}

void TForm1::FormDestroy(TObject* Sender) {
  if (FTimePeriod) timeEndPeriod(1);
  FTimePeriod = false;
  GrabbedNote = nullptr;
  delete Score;
  Score = nullptr;
}

void TForm1::FormKeyDown(TObject* Sender, WORD& Key, TShiftState Shift) {
  // The arrow keys seek in edit mode; they must not move the speed bar as well.
  if (EditorMode == emEdit) Speed1->SetEnabled(false);
}

void TForm1::FormKeyUp(TObject* Sender, WORD& Key, TShiftState Shift) { Speed1->SetEnabled(true); }

void TForm1::Speed1Change(TObject* Sender) {
  ScrollSpeed = Speed1->Position() * 0.01;
  // The keys belong to the window again, not to the bar.
  ActiveControl = nullptr;
  SetFocus();
}

void TForm1::SpeedButton2Click(TObject* Sender) {
  if (Score != nullptr) Score->SaveToFile(OD1->FileName);
}

void TForm1::AE1Idle(TObject* Sender, bool& Done) {
  // The loop never waits for messages, whatever happens in the frame.
  Done = false;
  FrameTime = timeGetTime();
  // The clock wraps after 49.7 days; the unsigned difference stays right across the wrap.
  if (static_cast<long double>(FrameTime - LastFrameTime) <= FrameInterval) {
    Sleep(0);
    return;
  }
  // Until a chart and its music are open there is nothing to run (a failed load's message
  // box keeps the idle event going meanwhile).
  if (Score == nullptr || BGM1->Mode() == mpNotReady) {
    Sleep(0);
    return;
  }
  RunFrame();
}

bool TForm1::Pressed(int Button) const {
  return Input1->ButtonDown(Button) && !PrevButtons[Button];
}

void TForm1::RunFrame() {
  Input1->UpdateList({2, 0});
  MusicPos = BGM1->Position();
  FrameCount = CheckedAdd(FrameCount, 1);
  TPoint cursor;
  GetCursorPos(cursor);
  LanePointer = {CheckedSub(cursor.X, CheckedAdd(Left(), 5)),
                 CheckedSub(cursor.Y, CheckedAdd(Top(), 32))};

  switch (EditorMode) {
    case emRecord:
      RecordWork();
      break;
    case emEdit:
      EditWork();
      break;
    case emPlayback:
      PlaybackWork();
      break;
    default:
      break;
  }

  const bool playback = EditorMode == emPlayback;
  if ((playback && FrameCount % 12 == 0) || (!playback && FrameCount % 2 == 0)) DrawLane();

  SwitchModes();
  for (int i = 0; i < 10; ++i) PrevButtons[i] = Input1->ButtonDown(i);
  if (FrameCount % 3 == 0 && EditorMode == emEdit) Seek();
  // The next Play starts where the music stands.
  BGM1->SetFrom(BGM1->Position());
  LastFrameTime = FrameTime;
}

void TForm1::RecordWork() {
  if (BGM1->Mode() == mpPlaying) {
    for (int b = 0; b < 8; ++b)
      if (Pressed(b)) RecordNote(static_cast<std::uint8_t>(b + 1));
  } else {
    BGM1->Play();
  }
}

void TForm1::RecordNote(std::uint8_t Kind) {
  Score->AddNote(MusicPos, Kind);
  PlayDrum(Kind);
  Score->Sort(CompareNoteTimes);
}

void TForm1::PlayDrum(std::uint8_t Kind) {
  Sounds->Items()->GetItem(static_cast<int>(Kind) - 1)->Play(false);
}

void TForm1::EditWork() {
  // Pausing every frame toggles a playing and a paused music; the seek every third frame
  // leaves it stopped, where pausing does nothing.
  BGM1->Pause();
  for (int i = 0; i < Score->Count(); ++i) Score->GetNote(i)->Played = false;
  if (GetKeyState(VK_LBUTTON) < 0 && !Selecting && LanePointer.Y < 600) {
    if (GrabbedNote != nullptr) {
      // The row under the pointer as a time, computed in extended precision and cut toward zero:
      // at speed 0.05 (a little above it as a double) 100 rows are 1999 ms, not 2000.
      const long double rows = CheckedSub(JudgeLineY, LanePointer.Y);
      GrabbedNote->Time = TruncToInt32(rows / ScrollSpeed + MusicPos);
      if (GetKeyState(VK_RBUTTON) < 0) {
        Score->Remove(GrabbedNote);
        delete GrabbedNote;
        GrabbedNote = nullptr;
      }
    } else {
      const TRect pointer = PointRect(LanePointer);
      for (int i = 0; i < Score->Count(); ++i) {
        TNote* n = Score->GetNote(i);
        if (RectsIntersect(NoteRect(n, kGrabHalf), pointer)) GrabbedNote = n;
      }
    }
  } else {
    GrabbedNote = nullptr;
  }
}

void TForm1::PlaybackWork() {
  if (BGM1->Mode() == mpPlaying) {
    for (int i = 0; i < Score->Count(); ++i) {
      TNote* n = Score->GetNote(i);
      if (n->Played || n->Time > MusicPos) continue;
      // Kinds without a drum are passed over in silence.
      if (n->Kind >= 1 && n->Kind <= 8) PlayDrum(n->Kind);
      n->Played = true;
    }
  } else {
    BGM1->Play();
    for (int i = 0; i < Score->Count(); ++i) {
      TNote* n = Score->GetNote(i);
      if (n->Time <= MusicPos) n->Played = true;
    }
  }
}

void TForm1::DrawLane() {
  // A display that cannot draw now skips the picture, not the rest of the frame.
  if (!DXDraw1->CanDraw() || DXDraw1->Surface == nullptr) return;
  TDirectDrawSurface* surface = DXDraw1->Surface;
  surface->Fill(0);
  TCanvas* c = surface->Canvas();
  c->Pen()->SetColor(0xFFFFFF);
  c->Pen()->SetWidth(3);
  c->MoveTo(0, JudgeLineY);
  c->LineTo(DXDraw1->SurfaceWidth(), JudgeLineY);
  if (Selecting) {
    c->Brush()->SetColor(0x0000FF);
    c->FrameRect(SelectionRect);
  }
  TColor color = 0xFF0000;
  for (int i = 0; i < Score->Count(); ++i) {
    TNote* n = Score->GetNote(i);
    color = NoteColor(n->Kind, color);
    c->Pen()->SetColor(color);
    c->Font()->SetColor(color);
    std::int32_t y = 0;
    const bool placed = Placeable([&] {
      const long double ahead = CheckedSub(n->Time, MusicPos);
      y = CheckedSub(JudgeLineY, TruncToInt32(ahead * ScrollSpeed));
    });
    n->Y = placed ? y : FarOffTheLane(n->Time, MusicPos);
    if (placed && n->Y > 0 && n->Y < LaneHeight) {
      if (!n->Played) {
        c->MoveTo(kLineLeft, n->Y);
        c->LineTo(kLineRight, n->Y);
      }
      c->Brush()->SetColor(0x000000);
      c->TextOut(kKindX, n->Y, IntToStr(n->Kind));
    }
  }
  static_cast<TDirectDrawSurfaceCanvas*>(c)->Release();
  DXDraw1->Flip();
}

void TForm1::SwitchModes() {
  if (Pressed(9) && (EditorMode == emEdit || EditorMode == emRecord)) {
    if (EditorMode == emEdit) {
      EditorMode = emRecord;
    } else {
      EditorMode = emEdit;
      // Every recording leaves a back-up beside the chart; a failed one leaves this frame.
      Score->SaveToFile(BackUpFileName(OD1->FileName));
      Sleep(100);
    }
  }
  if (Pressed(8) && (EditorMode == emEdit || EditorMode == emPlayback)) {
    if (EditorMode == emPlayback) {
      EditorMode = emEdit;
      Score->ResetPlayed();
    } else {
      EditorMode = emPlayback;
    }
  }
}

void TForm1::Seek() {
  // A full deflection (32767) moves exactly 300 ms: the reciprocal is taken in extended
  // precision. Stick up is a negative Y and moves the music later.
  const long double y = Input1->State.lY;
  const std::int32_t d = TruncToInt32(y * (1.0L / 32767.0L) * 300.0L);
  if (CheckedSub(BGM1->Position(), d) < 0)
    BGM1->SetPosition(0);
  else
    BGM1->SetPosition(CheckedSub(BGM1->Position(), d));
}

void TForm1::DXDraw1MouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X,
                              int Y) {
  if (Score == nullptr) return;
  const TRect pointer = PointRect(LanePointer);
  for (int i = 0; i < Score->Count(); ++i)
    if (RectsIntersect(NoteRect(Score->GetNote(i), kHitHalf), pointer)) return;
  SelectionRect = {LanePointer.X, LanePointer.Y, LanePointer.X, LanePointer.Y};
  Selecting = true;
}

void TForm1::DXDraw1MouseMove(TObject* Sender, TShiftState Shift, int X, int Y) {
  if (GetKeyState(VK_LBUTTON) < 0) {
    SelectionRect.Right = LanePointer.X;
    SelectionRect.Bottom = LanePointer.Y;
  }
}

void TForm1::DXDraw1MouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (!Selecting || Score == nullptr) return;
  SelectionRect.Right = LanePointer.X;
  SelectionRect.Bottom = LanePointer.Y;
  Selecting = false;
  Score->Sort(CompareNoteTimes);
  std::vector<TNote*> selected;
  const int count = Score->Count();
  for (int i = 0; i < count; ++i) {
    TNote* n = Score->GetNote(i);
    // Of notes at one time only the last is taken.
    if (i + 1 < count && Score->GetNote(i + 1)->Time == n->Time) continue;
    // The row as the selection sees it: the position read afresh, cut after subtracting.
    TPoint at{kLineLeft, 0};
    const bool placed = Placeable([&] {
      const long double ahead = CheckedSub(n->Time, BGM1->Position());
      at.Y = TruncToInt32(JudgeLineY - ahead * ScrollSpeed);
    });
    if (placed && PointInRect(at, SelectionRect)) selected.push_back(n);
  }
  if (GetKeyState(VK_SHIFT) < 0 && selected.size() == 2) {
    const std::int32_t mid = CheckedDiv(CheckedAdd(selected[0]->Time, selected[1]->Time), 2);
    selected[0]->Time = mid;
    selected[1]->Time = mid;
    return;
  }
  if (selected.empty()) return;
  // The earliest and latest of the selection itself, whatever their sign.
  std::int32_t lo = selected.front()->Time, hi = selected.front()->Time;
  for (const TNote* n : selected) {
    lo = std::min(lo, n->Time);
    hi = std::max(hi, n->Time);
  }
  const std::int32_t n = static_cast<std::int32_t>(selected.size()) - 1;
  const std::int32_t step = n == 0 ? 0 : CheckedDiv(CheckedSub(hi, lo), n);
  for (std::int32_t k = 0; k <= n; ++k)
    selected[static_cast<std::size_t>(k)]->Time = CheckedAdd(lo, CheckedMul(k, step));
}

}  // namespace Tessaly
