#include "assets/gen/Charts.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace assets {

namespace {

class Dice {
 public:
  explicit Dice(std::uint32_t seed) : s_(seed) {}
  int Below(int n) {  // 0..n-1
    s_ = s_ * 1664525u + 1013904223u;
    return static_cast<int>((s_ >> 8) % static_cast<std::uint32_t>(n));
  }

 private:
  std::uint32_t s_;
};

// Rules every chart must keep for the game to play it as designed; a broken generator stops the
// build instead of shipping a chart that makes the bosses misbehave.
void Check(const Stage& s) {
  const Chart& c = s.chart;
  if (c.empty() || c.back().kind != 8) throw std::logic_error(s.baseName + ": must end on kind 8");
  int eights = 0;
  for (size_t i = 0; i < c.size(); ++i) {
    if (c[i].kind == 8) ++eights;
    if (c[i].time <= 0) throw std::logic_error(s.baseName + ": times must be positive");
    if (i > 0 && c[i].time - c[i - 1].time < 150)
      throw std::logic_error(s.baseName + ": notes closer than 150 ms");
  }
  if (eights != 1) throw std::logic_error(s.baseName + ": kind 8 more than once");
  int tail = s.musicMs - c.back().time;
  if (tail < 2000 || tail > 4000)
    throw std::logic_error(s.baseName + ": end note not 2-4 s before the end");
}

}  // namespace

// Stage 1: 120 beats a minute. The boss jumps from bass note to bass note (kind 2 on every beat,
// or every other beat in the half-time bars), throws bullets on the off-beats (kinds 1 and 4)
// and, three times a stage, the giant bullet (kind 3).
Stage Stage1() {
  Stage s;
  s.baseName = "Last Boss";
  s.beatMs = 500;
  s.musicMs = 67000;
  s.keyRoot = 45;                             // A
  s.progression = {0, 8, 3, 10, 0, 8, 5, 7};  // Am F C G Am F Dm E
  Dice dice(1234);
  const int bar = 4 * s.beatMs;
  for (int k = 1; k <= 31; ++k) {
    const int t0 = k * bar;
    const bool half = (k % 8 == 4 || k % 8 == 0);
    for (int b = 0; b < 4; ++b) {
      const int beat = t0 + b * s.beatMs;
      if (!half || b % 2 == 0)
        s.chart.push_back({beat, 2});
      else
        s.chart.push_back({beat, dice.Below(3) == 0 ? 4 : 1});
      const int off = beat + s.beatMs / 2;
      if (b == 1 && k % 8 == 0) {
        s.chart.push_back({off, 3});
      } else if (k > 1 && dice.Below(100) < 30) {
        s.chart.push_back({off, dice.Below(5) < 3 ? 1 : 4});
      }
    }
  }
  s.chart.push_back({64000, 8});
  Check(s);
  return s;
}

// Stage 2: 100 beats a minute. The notes drive the segments' routine: a kind-7 note advances the
// phase, a run of kind 2 makes them bounce, a run of kind 3 makes them hop, kinds 4, 5 and 6 call
// each segment to its place in the triangle. Filler notes (kinds 1 and 4) fall only where the
// routine ignores them: while waiting, flying and orbiting.
//
// Every live segment drains the gauge, even out of reach, so the timing is set by what the hero
// can do: the segments drop at once instead of waiting above the screen (the hero would be empty
// before they came down), the orbit above the hero's head is short, and the rests where they stand
// still at the centre are long, to refill there.
Stage Stage2() {
  Stage s;
  s.baseName = "スタッコのスタッコ";
  s.beatMs = 600;
  s.keyRoot = 50;                              // D
  s.progression = {0, 10, 5, 0, 3, 10, 7, 9};  // Dm Bb F Dm F Bb Gm A
  const int offset = 1200;
  const int bounceNotes = 6, hopNotes = 8;
  const int centreWait = 12;  // beats parked at the centre before they fly
  const int flight = 12, orbit = 6;
  const int toCentre = 6;  // beats from the call to the centre to the formation
  int beat = 0;
  auto at = [&](int b, int kind) { s.chart.push_back({offset + b * s.beatMs, kind}); };
  auto fill = [&](int from, int to) {  // fillers on beats from..to-1
    for (int b = from; b < to; ++b) at(b, (b % 4 == 3) ? 4 : 1);
  };
  auto run = [&](int from, int count, int kind) {
    for (int i = 0; i < count; ++i) at(from + i, kind);
  };
  s.chart.push_back({offset - s.beatMs, 7});  // drop, half a beat into the music
  beat = 5;                                   // 3.6 s: drop, then lanes
  run(beat, bounceNotes, 2);                  // bounce
  beat += bounceNotes + 4;                    // wait 2.4 s back to the lanes
  run(beat - 1, hopNotes, 3);                 // hop
  beat += hopNotes - 1;                       // last hop at beat-1
  fill(beat + 1, beat + centreWait - 1);
  beat += centreWait;
  auto flyAndFormation = [&](bool fromOrbit) {
    at(beat, 7);  // fly (or, after an orbit, straight to the centre)
    if (!fromOrbit) {
      fill(beat + 1, beat + flight);
      beat += flight;
      at(beat, 7);  // to the centre
    }
    beat += toCentre;
    at(beat, 4);
    at(beat + 2, 5);
    at(beat + 4, 6);
    beat += 6;
    at(beat, 7);  // orbit
    fill(beat + 1, beat + orbit);
    beat += orbit;
  };
  flyAndFormation(false);
  at(beat, 7);             // lanes
  beat += 3;               // 1.8 s
  run(beat, hopNotes, 3);  // hop, the very next notes
  beat += hopNotes - 1;
  fill(beat + 1, beat + centreWait - 1);
  beat += centreWait;
  flyAndFormation(false);
  flyAndFormation(true);
  at(beat, 7);  // lanes, then rest: as short as the end allows, the segments stay where they are
  beat += 4;
  at(beat, 8);
  s.musicMs = s.chart.back().time + 3000;
  std::sort(s.chart.begin(), s.chart.end(), [](auto& a, auto& b) { return a.time < b.time; });
  Check(s);
  return s;
}

std::string ChartText(const Chart& chart) {
  std::string out;
  for (const ChartNote& n : chart)
    out += std::to_string(n.time) + "," + std::to_string(n.kind) + "\r\n";
  return out;
}

}  // namespace assets
