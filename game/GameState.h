// The game's shared state: one set of globals that the window, the screens, the hero and the
// bosses read and write. Everything runs on the window's thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/win/WinTypes.h"

class TForm1;
class THeroSprite;
class TScore;

struct TStage {
  std::string Title;     // the menu text
  std::string FileName;  // base name of the stage's chart ("Score/") and music ("Sound/")
};

extern TForm1* Form1;
// 1 title, 2 stage select, 3 play, 4 continue, 5 ending.
extern std::uint8_t GameMode;
// Frames for which button 0 / 1 has been held, at most 254; 1 means pressed on this frame.
extern std::array<std::uint8_t, 2> ButtonHold;
// Entries 1 to 3 (index 0 is unused, so the numbers read as the menu shows them).
extern std::array<TStage, 4> Stages;
// The program's folder with a trailing separator.
extern std::string AppDir;
extern int CurrentStage;
extern int StageCursor;
extern int ContinueCursor;
extern int MenuDelay;
extern int CreditsScroll;
extern bool Running;
extern bool WaitingToStart;
extern TColor BackColor;
extern THeroSprite* HeroSprite;
extern TScore* Score;
extern std::int64_t FrameTime;
extern std::int64_t LastFrameTime;

// Puts every value back to its state before the window is created (tests run many games in one
// process).
void ResetGameState();
