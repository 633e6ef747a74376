// The second stage with its generated chart: the three segments go through every one of their 21
// phases, together, each step on the note that calls for it, and leave at the end note.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "e2e/GameSession.h"

namespace e2e {
namespace {

struct SegmentState {
  int phase;
  double x, y;
};

TEST(StageTwo, SegmentsRunTheirWholeRoutineOnTheChart) {
  GameSession g(false);
  const std::vector<ChartNote> chart = ReadChart("スタッコのスタッコ");
  g.StartStageFromTitle(2);
  ASSERT_EQ(GameMode, 3);
  auto segments = g.SpritesOf<TStakkoSprite>();
  ASSERT_EQ(segments.size(), 3u);
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(segments[s]->Segment, s + 1);
    EXPECT_EQ(segments[s]->PixelCheck, segments[s]->Segment == TrueSegment);
  }
  EXPECT_GE(TrueSegment, 1);
  EXPECT_LE(TrueSegment, 3);

  // Frame by frame until the ending, the hero kept alive and out of the way.
  std::vector<std::array<SegmentState, 3>> frames;
  std::vector<int> positions, currents;
  std::vector<bool> passed;
  int t = 0;
  while (GameMode == 3 && t++ < 4000) {
    if (HeroSprite != nullptr) {
      HeroSprite->Power = 404;
      HeroSprite->Blink = 2;  // untouchable, and the segments' drain spares it
    }
    ASSERT_TRUE(g.Frame());
    if (g.SpritesOf<TStakkoSprite>().size() != 3) break;
    std::array<SegmentState, 3> st;
    for (int s = 0; s < 3; ++s) st[s] = {segments[s]->Phase, segments[s]->X, segments[s]->Y};
    frames.push_back(st);
    positions.push_back(Score->Position);
    currents.push_back(Score->CurrentIndex);
    passed.push_back(Score->Passed);
  }
  ASSERT_GT(frames.size(), 2000u);

  // Every phase from 0 to 21, one step at a time, all three in step.
  std::vector<int> seen;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const int p = frames[i][0].phase;
    for (int s = 1; s < 3; ++s) {
      // The segments arrive at their targets at slightly different times at most.
      EXPECT_LE(std::abs(frames[i][s].phase - p), 1) << "frame " << i;
    }
    if (seen.empty() || seen.back() != p) seen.push_back(p);
  }
  std::vector<int> all(22);
  for (int k = 0; k <= 21; ++k) all[k] = k;
  EXPECT_EQ(seen, all);

  // The steps called by a kind-7 note happen on the frame that note passes.
  const std::vector<int> byPhaseNote = {0, 5, 6, 8, 9, 12, 13, 15, 16, 18, 19};
  for (std::size_t i = 1; i < frames.size(); ++i) {
    for (int s = 0; s < 3; ++s) {
      const int before = frames[i - 1][s].phase, after = frames[i][s].phase;
      if (after == before) continue;
      EXPECT_EQ(after, before + 1);
      const bool byNote =
          std::find(byPhaseNote.begin(), byPhaseNote.end(), before) != byPhaseNote.end();
      const ChartNote& cur = chart[currents[i] - 1];
      if (byNote) {
        EXPECT_TRUE(passed[i] && cur.kind == 7) << "phase " << before << " at " << positions[i];
      }
      if (before == 2) {
        EXPECT_TRUE(passed[i] && cur.kind == 2) << positions[i];
      }
      if (before == 7 || before == 14 || before == 17) {
        EXPECT_TRUE(passed[i]) << positions[i];
      }
    }
  }

  // In formation each segment stood at its corner of the triangle when the orbit began, and in
  // the orbit they keep 100 pixels from a common centre.
  const double cx = (512 - 96) / 2, cy = (448 - 96) / 2;
  const double corners[3][2] = {{cx + 86, cy + 50}, {cx - 86, cy + 50}, {cx, cy - 100}};
  int formations = 0, orbitFrames = 0;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    const int p = frames[i - 1][2].phase;
    if ((p == 8 || p == 15 || p == 18) && frames[i][2].phase == p + 1) {
      ++formations;
      for (int s = 0; s < 3; ++s) {
        EXPECT_NEAR(frames[i - 1][s].x, corners[s][0], 1e-9) << "phase " << p;
        EXPECT_NEAR(frames[i - 1][s].y, corners[s][1], 1e-9) << "phase " << p;
      }
    }
    if ((p == 9 || p == 16 || p == 19) && frames[i][0].phase == p && frames[i][2].phase == p) {
      ++orbitFrames;
      // Segment 1 moved first: it and segment 3 sit on one circle about a centre that moved
      // at most 3 pixels between them.
      const double d = std::hypot(frames[i][0].x - frames[i][2].x, frames[i][0].y - frames[i][2].y);
      EXPECT_NEAR(d, 2 * 100 * std::sin(std::numbers::pi / 3), 8) << i;
    }
  }
  EXPECT_EQ(formations, 3);
  // The orbits are short, the blocks being hard to reach there, but each lasts a few frames.
  EXPECT_GE(orbitFrames, 3 * 4);

  // The end: shaking from the end note on, gone once the music stops, then the credits.
  const int endFrames = [&] {
    int n = 0;
    while (GameMode == 3 && n < 400) {
      if (HeroSprite != nullptr) HeroSprite->Power = 404;
      EXPECT_TRUE(g.Frame());
      ++n;
    }
    return n;
  }();
  EXPECT_LT(endFrames, 400);
  EXPECT_EQ(GameMode, 5);
  EXPECT_TRUE(g.SpritesOf<TStakkoSprite>().empty());
  EXPECT_EQ(g.form->MediaPlayer1->Mode(), mpStopped);
}

}  // namespace
}  // namespace e2e
