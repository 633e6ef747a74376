// One whole stage played from the stage select by the scripted player in a given style, or by a
// hero that never touches a key, with the game's dice set so that a chosen block of the second
// boss is the real one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "e2e/ScriptedPlayer.h"

namespace e2e {

// The `nth` (from 0) seed of the game's dice whose first draw makes `real` the real block; any
// block will do for the first stage, which draws nothing at its start.
inline std::uint32_t SeedPicking(int real, int nth) {
  std::uint32_t seed = 1;
  for (int found = 0;; ++seed) {
    RandSeed = seed;
    if (real == 0 || Random(3) + 1 == real) {
      if (found++ == nth) return seed;
    }
  }
}

struct Trial {
  int stage;
  int real;     // the second boss's real block, 1..3; 0 for the first stage
  int nth = 0;  // which seed of the game's dice
  bool idle = false;
  PlayerStyle style = PlayerStyle::FramePerfect();
};

inline PlayResult PlayTrial(const Trial& t) {
  GameSession g(false);
  // Each trial as a fresh run of the program, whatever ran before it: the boss counters that
  // run on for the whole program start from zero.
  HitCounter = 0;
  ShakeAngle = 0;
  g.Frames(2);
  g.Press(kButton0);
  for (int i = 1; i < t.stage; ++i) g.Press(kDown);
  RandSeed = SeedPicking(t.real, t.nth);
  g.Hold(kButton0);
  EXPECT_TRUE(g.Frame());
  g.Let(kButton0);
  EXPECT_EQ(GameMode, 3);
  if (t.stage == 2) {
    EXPECT_EQ(TrueSegment, t.real);
  }
  if (!t.idle) return ScriptedPlayer(g, t.style).Play(4000);
  PlayResult r;
  while (GameMode == 3 && HeroSprite != nullptr && r.frames < 4000) {
    if (Running && !WaitingToStart) r.survivedMs = Score->Position;
    if (!g.Frame()) break;
    ++r.frames;
  }
  r.cleared = GameMode == 5;
  return r;
}

inline void Report(const std::string& what, const PlayResult& r, bool phases = false) {
  std::printf(
      "[ playtest ] %s: %s after %.1f s (%d frames), %d bursts, hit %d + %d times, lowest gauge "
      "%.0f%s\n",
      what.c_str(), r.cleared ? "cleared" : "hero lost", r.survivedMs / 1000.0, r.frames, r.bursts,
      r.bulletHits, r.bodyHits, r.lowestPower,
      r.stakkoPhaseAtLoss >= 0 && !r.cleared
          ? (", blocks in phase " + std::to_string(r.stakkoPhaseAtLoss)).c_str()
          : "");
  if (!phases) return;
  for (const auto& [phase, ps] : r.phases)
    std::printf("[ playtest ]   phase %2d: %4d frames, %3d bursts, gauge mean %5.1f lowest %5.1f\n",
                phase, ps.frames, ps.bursts, ps.powerSum / ps.frames, ps.lowest);
}

}  // namespace e2e
