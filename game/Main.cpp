#include "game/Main.h"

#include "game/GameState.h"
#include "game/UHero.h"
#include "game/UScore.h"
#include "platform/rtl/SysUtils.h"
#include "platform/timer/MMSystem.h"

TForm1::TForm1(TComponent* AOwner) : TDXForm(AOwner) {
  RegisterField("DXDraw1", DXDraw1);
  RegisterField("ApplicationEvents1", ApplicationEvents1);
  RegisterField("DXSpriteEngine1", DXSpriteEngine1);
  RegisterField("DXImageList1", DXImageList1);
  RegisterField("MediaPlayer1", MediaPlayer1);
  RegisterField("Input1", Input1);
  RegisterField("DXSound1", DXSound1);
  RegisterField("DXWaveList1", DXWaveList1);
  RegisterMethod("FormCreate", this, &TForm1::FormCreate);
  RegisterMethod("FormCloseQuery", this, &TForm1::FormCloseQuery);
  RegisterMethod("FormDestroy", this, &TForm1::FormDestroy);
  RegisterMethod("ApplicationEvents1Idle", this, &TForm1::ApplicationEvents1Idle);
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

std::string BadChartLineMessage(const std::string& FileName, int Line) {
  return Format("Line %d of the chart %s is not a note (a time and a kind separated by a comma).",
                {Line, FileName});
}

void TForm1::FormCreate(TObject* Sender) {
  Randomize();
  Input1->Initialize();
  DXDraw1->Initialize();
  DXSound1->Initialize();
  GameMode = 1;
  Score = new TScore();
  Score->MusicPosition = [this] { return MediaPlayer1->Position(); };
  // A malformed chart line ends the game, but the player is told which one first. The box is the
  // system's own and runs no idle pass, so no frame re-enters the game in the middle of Load.
  Score->OnBadLine = [this](const std::string& FileName, int Line) {
    Application->MessageBox(BadChartLineMessage(FileName, Line), Application->Title(),
                            MB_OK | MB_ICONSTOP);
    Close();
  };
  HeroSprite = new THeroSprite(DXSpriteEngine1->Engine());
  MediaPlayer1->Wait = true;
  AppDir = ExtractFilePath(Application->ExeName());
  Stages[1] = {"Final Battle", "Last Boss"};
  Stages[2] = {"Stakko Strikes Back!", "スタッコのスタッコ"};
  Stages[3] = {"Exit", ""};
  ButtonHold[1] = 0;
  ButtonHold[0] = 0;
}

void TForm1::FormCloseQuery(TObject* Sender, bool& CanClose) {
  // Outside the stage select and play screens a hero freed with the window leaves no debris.
  GameMode = 1;
  if (Score != nullptr) Score->Passed = false;
}

void TForm1::FormDestroy(TObject* Sender) {
  delete Score;
  Score = nullptr;
}

void TForm1::PollInput() {
  Input1->UpdateList({2, 0});
  for (int b = 0; b <= 1; ++b) {
    if (Input1->ButtonDown(b)) {
      if (ButtonHold[b] < 254) ++ButtonHold[b];
    } else {
      ButtonHold[b] = 0;
    }
  }
}

void TForm1::ApplicationEvents1Idle(TObject* Sender, bool& Done) {
  FrameTime = static_cast<std::int64_t>(timeGetTime());
  // The millisecond clock wraps after 2^32 ms; the unsigned 32-bit difference stays the time
  // since the last frame across the wrap (a plain difference would go negative for good).
  const std::uint32_t elapsed = static_cast<std::uint32_t>(FrameTime - LastFrameTime);
  // Whole milliseconds against 1000/30: a frame needs 34 ms. Nothing catches up after a stall.
  if (static_cast<long double>(elapsed) < 1000.0L / 30.0L) {
    Sleep(1);
    Done = false;
    return;
  }
  PollInput();
  // While the display cannot draw, the pass leaves Done set, so the loop waits for a message.
  if (!DXDraw1->CanDraw()) return;
  RunModeFrame();
  LastFrameTime = FrameTime;
  Done = false;
}

void TForm1::RunModeFrame() {
  const std::uint8_t mode = GameMode;
  switch (mode) {
    case 1:
      TitleFrame();
      break;
    case 2:
      StageSelectFrame();
      break;
    case 3:
      PlayFrame();
      break;
    case 4:
      ContinueFrame();
      break;
    case 5:
      EndingFrame();
      break;
    default:
      break;
  }
  // A note passed on the last play frame must not be acted on by the screen that follows.
  if (mode == 3 && GameMode != 3 && Score != nullptr) Score->Passed = false;
}
