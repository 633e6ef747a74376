// The game's window: the display, sprite engine, pictures, input, sounds and music player that
// its stored form holds, the frame loop on the application's idle event, and the frame routines
// of the five game modes.
#pragma once

#include <cstdint>

#include "framework/graphics/DXDraws.h"
#include "framework/graphics/DXForm.h"
#include "framework/graphics/DXImageList.h"
#include "framework/graphics/DXSprite.h"
#include "framework/graphics/DXSpriteEngine.h"
#include "framework/sound_input/DXSounds.h"
#include "framework/sound_input/Ddidex.h"
#include "game/GameState.h"
#include "platform/forms/AppEvnts.h"
#include "platform/forms/Forms.h"
#include "platform/mci/MPlayer.h"

class TForm1 : public TDXForm {
 public:
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;

  // The stored components, in their stored order; the form owns and frees them.
  TDXDraw* DXDraw1 = nullptr;
  TApplicationEvents* ApplicationEvents1 = nullptr;
  TDXSpriteEngine* DXSpriteEngine1 = nullptr;
  TDXImageList* DXImageList1 = nullptr;
  TMediaPlayer* MediaPlayer1 = nullptr;
  TDDIDEX* Input1 = nullptr;
  TDXSound* DXSound1 = nullptr;
  TDXWaveList* DXWaveList1 = nullptr;

  // Handlers named in the stored form.
  void FormCreate(TObject* Sender);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  void FormDestroy(TObject* Sender);
  void ApplicationEvents1Idle(TObject* Sender, bool& Done);

  // Reads the pad and keyboard once and counts how long buttons 0 and 1 have been held.
  void PollInput();
  // Runs the frame routine of the current game mode.
  void RunModeFrame();

  // Frame routines of the modes: 1 title, 2 stage select, 3 play, 4 continue, 5 ending.
  // Defined with the screens (Screens.cpp).
  void TitleFrame();
  void StageSelectFrame();
  void PlayFrame();
  void ContinueFrame();
  void EndingFrame();

  // The pieces the screens are built from (Screens.cpp).
  void DrawTitleScreen();
  void DrawTitleText();
  void CheckTitleStart();
  void DrawStageSelect();
  void StartStage();
  void DrawPlayScreen();
  void DrawHud();
  void CheckPlayEnd();
  void RespawnHero();
  void DrawContinue();
  void DrawCredits();
  void AdvanceCredits();
};

// Text of the box that tells the player which chart line could not be read.
std::string BadChartLineMessage(const std::string& FileName, int Line);
