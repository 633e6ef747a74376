// How the game's screens look from outside, in the window's own pixels (512 x 448): where the
// texts, the cursor hero and the status band are drawn.
#pragma once

#include "realwindow/XSession.h"

namespace realwindow::game {

constexpr int kWidth = 512, kHeight = 448;
// The colour every screen is cleared with, until a boss's picture gives another.
constexpr std::uint32_t kBackColour = 0xE09400;

// "Push Any Key." of the title.
constexpr Box kPushAnyKey{100, 232, 300, 56};
// "Exit", the third entry of the stage select; nothing else is drawn there on the title.
constexpr Box kExitEntry{120, 352, 70, 28};
// The cursor hero stands left of the entry it points at, centred on (95 + 16, cursor x 50 +
// 218); the entries' texts begin at x 120.
inline Box CursorHero(int Cursor) { return {93, Cursor * 50 + 198, 26, 40}; }
// The black line above the status band, 3 pixels wide at y 398, and the band's meter.
constexpr Box kBandLine{0, 397, kWidth, 3};
constexpr Box kMeter{50, 415, 412, 15};

inline bool BandShown(const Picture& P) {
  return P.CountDark(kBandLine, 40) > kBandLine.Width * kBandLine.Height * 9 / 10 &&
         P.CountDark(kMeter) > 300;
}

inline bool IsTitle(const Picture& P) {
  return P.CountDark(kPushAnyKey) > 400 && P.CountDark(kExitEntry) == 0 && !BandShown(P);
}

inline bool IsStageSelect(const Picture& P) {
  return P.CountDark(kExitEntry) > 60 && !BandShown(P);
}

// The hero's shirt and face hold blue, which neither the background nor the black texts (nor
// their smoothed edges, blends of the two) have.
inline bool HeroAt(const Picture& P, int Cursor) {
  return P.Count(CursorHero(Cursor), [](std::uint32_t p) { return (p & 0xFF) > 80; }) > 20;
}

// Which of the three entries the cursor hero points at; 0 when none or several.
inline int CursorRow(const Picture& P) {
  int row = 0;
  for (int i = 1; i <= 3; ++i) {
    if (!HeroAt(P, i)) continue;
    if (row != 0) return 0;
    row = i;
  }
  return row;
}

}  // namespace realwindow::game
