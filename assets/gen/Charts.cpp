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
// routine ignores them: while waiting and flying.
//
// Every live segment drains the gauge, even out of reach, and a gauge that is not refilled lasts
// only some three seconds; only the real segment refills it, and the hero cannot tell which one
// it is while they lie on one another. So the timing is set by what a person can do: the
// segments drop at once, and where they are hard to hit (bouncing, flying, in the triangle, in
// the orbit above the hero's head, on their way back to the lanes) the routine moves on as soon
// as the segments have got where they go. The time goes to the rests where the three stand
// still together at the centre and every dash through them hits the real one.
//
// A person keeps the gauge at about 70 at best (above it every frame drains in full, below it a
// tenth), so what decides a stage is how long the stretches between rests last, and every step of
// them is as short as the segments' travel allows.
Stage Stage2() {
  Stage s;
  s.baseName = "スタッコのスタッコ";
  s.beatMs = 600;
  s.keyRoot = 50;                              // D
  s.progression = {0, 10, 5, 0, 3, 10, 7, 9};  // Dm Bb F Dm F Bb Gm A
  const int sixteenth = s.beatMs / 4;
  // The steps that need no more than the segments' travel, in ms.
  const int toLanes = 2100;     // from the drop: down onto the floor, then out to the lanes
  const int bounceNotes = 3;    // a short fill, a sixteenth apart: low quick bounces
  const int toHop = 2100;       // back from the bounce to the lanes
  const int hopNotes = 8;       // sixteenths on the floor, in the lanes: low quick hops
  const int formStep = 375;     // a segment reaches its corner in 10 frames (340 ms); the cymbal of
                                // kind 5 is choked, so the next cue can follow
  const int orbit = 210;        // circling overhead, out of reach: as short as two claps stay apart
  const int toSecondHop = 820;  // across to the lanes from where the orbit left them (<800 ms)
  const int secondHopNotes = 3;
  const int endRest = 900;  // the same way back to the lanes, and the end follows at once
  const int tail = 2000;    // the end note's shake, until the music stops
  const int endNoteAt = 84600;

  // The rests at the centre: two with fillers (waiting to fly) and three silent ones (gathered
  // after a flight or an orbit, where any note would move them on), as long as the music allows.
  int waits[2] = {3000, 3000}, gathers[3] = {3000, 3000, 3000};
  for (int pass = 0; pass < 2; ++pass) {
    s.chart.clear();
    auto at = [&](int t, int kind) { s.chart.push_back({t, kind}); };
    auto fill = [&](int from, int to) {  // fillers on the beats after `from`, clear of `to`
      int i = 0;
      for (int t = from + s.beatMs; t < to - sixteenth; t += s.beatMs, ++i)
        at(t, i % 4 == 3 ? 4 : 1);
    };
    auto run = [&](int& t, int count, int gap, int kind) {
      for (int i = 0; i < count; ++i, t += gap) at(t, kind);
      t -= gap;
    };
    int t = sixteenth;
    at(t, 7);  // drop, as the music starts with the gauge full
    t += toLanes;
    run(t, bounceNotes, sixteenth, 2);
    t += toHop;
    run(t, hopNotes, sixteenth, 3);
    // From a rest at the centre (or straight from an orbit): the triangle, then the orbit.
    auto triangle = [&](int gather) {
      at(t, 7);  // to the centre
      t += gather;
      for (int kind = 4; kind <= 6; ++kind) {
        at(t, kind);
        t += formStep;
      }
      at(t, 7);  // orbit
      t += orbit;
    };
    auto waitAndFly = [&](int wait) {
      fill(t, t + wait);
      t += wait;
      at(t, 7);  // fly
      t += 2 * sixteenth;
    };
    waitAndFly(waits[0]);
    triangle(gathers[0]);
    at(t, 7);  // lanes
    t += toSecondHop;
    run(t, secondHopNotes, sixteenth, 3);
    waitAndFly(waits[1]);
    triangle(gathers[1]);
    triangle(gathers[2]);
    at(t, 7);  // lanes, then rest where they stand until the end
    t += endRest;
    at(t, 8);
    // Share what is left to the end note among the rests, in whole beats.
    const int beats = (endNoteAt - t) / s.beatMs;
    for (int i = 0; i < 5; ++i)
      (i < 2 ? waits[i] : gathers[i - 2]) += (beats + 4 - i) / 5 * s.beatMs;
  }
  s.musicMs = s.chart.back().time + tail;
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
