#include "game/GameState.h"

TForm1* Form1 = nullptr;
std::uint8_t GameMode = 0;
std::array<std::uint8_t, 2> ButtonHold{0, 0};
std::array<TStage, 4> Stages{};
std::string AppDir;
int CurrentStage = 1;
int StageCursor = 1;
int ContinueCursor = 1;
int MenuDelay = 0;
int CreditsScroll = 0;
bool Running = false;
bool WaitingToStart = false;
TColor BackColor = 0x94E0;
THeroSprite* HeroSprite = nullptr;
TScore* Score = nullptr;
std::int64_t FrameTime = 0;
std::int64_t LastFrameTime = 0;

void ResetGameState() {
  Form1 = nullptr;
  GameMode = 0;
  ButtonHold = {0, 0};
  Stages = {};
  AppDir.clear();
  CurrentStage = 1;
  StageCursor = 1;
  ContinueCursor = 1;
  MenuDelay = 0;
  CreditsScroll = 0;
  Running = false;
  WaitingToStart = false;
  BackColor = 0x94E0;
  HeroSprite = nullptr;
  Score = nullptr;
  FrameTime = 0;
  LastFrameTime = 0;
}
