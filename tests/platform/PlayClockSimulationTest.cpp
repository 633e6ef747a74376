// The played-frame count against a simulated sound card, for an hour of simulated time: the card
// plays at its own clock, which runs a little fast or slow against the system clock. Its driver
// keeps a few periods queued ahead of the speaker and calls back whenever one more has room (or,
// taking blocks in pairs, two), never early but often a little late, now and then so late that
// the card runs dry, or held up by a mixer that waits for its lock. A card may start with its
// queue full of silence, or empty and taking a burst of blocks at once. At every reading the
// count is compared with the frame really leaving the card.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>

#include "platform/backend/PlayClock.h"

namespace {

using backend::PlayClock;

constexpr int kRate = 44100;

PlayClock::Time At(double seconds) {
  return PlayClock::Time{} + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds));
}

// A card that takes frames from its queue at its own rate and stalls when the queue is empty.
// The queue starts with `silence` frames that are no part of what was handed over. Times are
// system-clock seconds.
class SimulatedCard {
 public:
  SimulatedCard(double ppm, std::int64_t silence)
      : rate_(kRate * (1.0 + ppm * 1e-6)), silence_(silence), handed_(silence) {}

  void AdvanceTo(double t) {
    played_ = std::min(played_ + rate_ * (t - now_), static_cast<double>(handed_));
    now_ = t;
  }
  void Take(std::int64_t frames) { handed_ += frames; }
  // When the queue will have come down to `level` frames (now, if it already has).
  double WhenQueueAt(std::int64_t level) const {
    const double above = static_cast<double>(handed_) - played_ - static_cast<double>(level);
    return now_ + std::max(0.0, above / rate_);
  }
  // The frame of what was handed over that is leaving the card now.
  double Played() const { return std::max(0.0, played_ - static_cast<double>(silence_)); }

 private:
  const double rate_;
  const std::int64_t silence_;
  double now_ = 0;
  double played_ = 0;
  std::int64_t handed_;
};

struct Case {
  int period;           // frames per callback
  int held;             // periods queued ahead of the speaker besides the one just handed over
  int ppm;              // the card's clock against the system clock
  double lateMs;        // each wake-up comes up to this late
  bool runsDry;         // every 20 s a callback comes so late that the card runs out
  int burst = 0;        // the card starts empty and takes this many blocks at once
  bool pairs = false;   // the driver waits for room for two blocks and takes both
  bool stalls = false;  // every 20 s the mixer's lock holds a callback up for 5 to 150 ms
};

struct Errors {
  double meanMs = 0, worstMs = 0;                // after the first second
  double aheadMs = -1e9;                         // from the start
  double firstMinutesMs = 0, lastMinutesMs = 0;  // mean signed error
  bool monotonic = true;
};

Errors Simulate(const Case& c, double seconds) {
  std::mt19937_64 random(static_cast<std::uint64_t>(c.period * 131 + c.held * 17 + c.ppm + 1000 +
                                                    c.burst * 7 + c.pairs * 3 + c.stalls * 5));
  std::uniform_real_distribution<double> late(0.0, c.lateMs * 1e-3);
  std::uniform_real_distribution<double> frameGap(0.001, 0.003);  // readings
  std::uniform_real_distribution<double> starved(0.002, 0.020);   // how long the card is dry
  std::uniform_real_distribution<double> held(0.005, 0.150);      // a render waiting for the lock

  const std::int64_t roomAt = static_cast<std::int64_t>(c.period) * c.held;
  // Taking pairs, the driver wakes once there is room for two.
  const std::int64_t wakeAt = c.pairs ? roomAt - c.period : roomAt;
  SimulatedCard card(c.ppm, c.burst > 0 ? 0 : roomAt);
  PlayClock clock(kRate, static_cast<std::uint64_t>(c.period) * (c.held + 1));
  const double window = 600;  // the first and last ten minutes are compared

  Errors e;
  double sumAbs = 0, sumFirst = 0, sumLast = 0;
  long readings = 0, first = 0, last = 0;
  std::uint64_t previous = 0;
  double nextTrouble = 20;
  double callback = 0, read = 0.0005;
  int callbacks = 0;
  while (read < seconds) {
    while (read < callback && read < seconds) {
      card.AdvanceTo(read);
      const std::uint64_t p = clock.Played(At(read));
      if (p < previous) e.monotonic = false;
      previous = p;
      const double err = (static_cast<double>(p) - card.Played()) * 1000.0 / kRate;
      sumAbs += std::abs(err);
      // Taking its first blocks in a burst, the device may hold more than it will later; the
      // count waits behind until its regular callbacks say where it is. It never runs ahead.
      if (read > 1) e.worstMs = std::max(e.worstMs, std::abs(err));
      e.aheadMs = std::max(e.aheadMs, err);
      ++readings;
      if (read > 1 && read < 1 + window) sumFirst += err, ++first;
      if (read > seconds - window) sumLast += err, ++last;
      read += frameGap(random);
    }
    card.AdvanceTo(callback);
    card.Take(c.period);
    clock.Handed(static_cast<std::uint64_t>(c.period), At(callback));
    ++callbacks;
    double next;
    if (callbacks < c.burst || (c.pairs && callbacks % 2 == 1)) {
      next = callback + 20e-6;  // the next block of the same wake-up
    } else {
      // The driver's thread waits only while the queue is full; when there is room already it
      // asks again at once, with no wake-up to be late for.
      const double due = card.WhenQueueAt(wakeAt);
      next = due > callback ? due + late(random) : callback + 20e-6;
      if (due > callback && callback > nextTrouble && (c.runsDry || c.stalls)) {
        next = c.stalls ? due + held(random) : card.WhenQueueAt(0) + starved(random);
        nextTrouble += 20;
      }
    }
    callback = std::max(next, callback);
  }
  e.meanMs = sumAbs / static_cast<double>(std::max(readings, 1L));
  e.firstMinutesMs = sumFirst / static_cast<double>(std::max(first, 1L));
  e.lastMinutesMs = sumLast / static_cast<double>(std::max(last, 1L));
  return e;
}

TEST(PlayClockSimulation, FollowsTheFrameLeavingTheCardForAnHour) {
  const Case cases[] = {
      {512, 2, 0, 0.0, false},  // wake-ups exactly on time: the count is exact
      {256, 2, 0, 2.0, false},
      {256, 1, 20, 2.0, true},
      {256, 3, 100, 2.0, false},
      {256, 4, -100, 2.0, true},
      {512, 2, 20, 2.0, false},
      {512, 1, -100, 2.0, true},
      {512, 3, 0, 2.0, true},
      {512, 4, 100, 2.0, false},
      {1024, 2, 100, 2.0, true},
      {1024, 1, 0, 2.0, false},
      {1024, 3, -100, 2.0, false},
      {1024, 4, 20, 2.0, true},
      {2048, 2, -100, 2.0, false},
      {2048, 1, 100, 2.0, true},
      {2048, 3, 20, 2.0, true},
      {2048, 4, 0, 2.0, false},
      // Starting empty with a burst of more blocks than the device holds afterwards.
      {512, 1, 0, 2.0, false, 4},
      {512, 1, 100, 2.0, false, 8},
      {256, 2, -100, 2.0, true, 16},
      // Blocks taken two at a time (a server's period of two of ours).
      {512, 3, 0, 2.0, false, 0, true},
      {1024, 3, 100, 2.0, true, 0, true},
      {256, 4, -100, 2.0, false, 8, true},
      // A mixer that holds the device's thread up, long enough to run it dry or not.
      {512, 2, 0, 2.0, false, 0, false, true},
      {256, 3, 100, 2.0, false, 8, false, true},
      {1024, 2, -100, 2.0, false, 0, true, true},
  };
  for (const Case& c : cases) {
    const Errors e = Simulate(c, 3600);
    SCOPED_TRACE(testing::Message()
                 << "period " << c.period << ", held " << c.held << ", " << c.ppm << " ppm, dry "
                 << c.runsDry << ", burst " << c.burst << ", pairs " << c.pairs << ", stalls "
                 << c.stalls << ": mean " << e.meanMs << " ms, worst " << e.worstMs << " ms, ahead "
                 << e.aheadMs << " ms, bias " << e.firstMinutesMs << " ms first, "
                 << e.lastMinutesMs << " ms last");
    EXPECT_LE(e.meanMs, 0.5);
    EXPECT_LE(e.worstMs, 2.0 + c.lateMs);
    EXPECT_LE(e.aheadMs, 2.0);  // never ahead of the sound by more than this
    EXPECT_NEAR(e.lastMinutesMs, e.firstMinutesMs, 0.25);  // no growth over the hour
    EXPECT_TRUE(e.monotonic);
  }
}

}  // namespace
