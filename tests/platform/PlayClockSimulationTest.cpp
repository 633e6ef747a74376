// The played-frame count against a simulated sound card, for an hour of simulated time: the card
// plays at its own clock, which runs a little fast or slow against the system clock. Its driver
// keeps a few periods queued ahead of the speaker (it starts out with them silent) and calls back
// whenever one more has room, a little early or late, and now and then so late that the card
// runs dry. At every reading the count is compared with the frame really leaving the card.
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
  int period;  // frames per callback
  int held;    // periods queued ahead of the speaker besides the one just handed over
  int ppm;     // the card's clock against the system clock
  double jitterMs;
  bool runsDry;  // every 20 s a callback comes so late that the card runs out
};

struct Errors {
  double meanMs = 0, worstMs = 0;
  double firstMinutesMs = 0, lastMinutesMs = 0;  // mean signed error
  bool monotonic = true;
};

Errors Simulate(const Case& c, double seconds) {
  std::mt19937_64 random(static_cast<std::uint64_t>(c.period * 131 + c.held * 17 + c.ppm + 1000));
  std::uniform_real_distribution<double> jitter(-c.jitterMs * 1e-3, c.jitterMs * 1e-3);
  std::uniform_real_distribution<double> frameGap(0.010, 0.020);  // the game reads at ~60 Hz
  std::uniform_real_distribution<double> starved(0.002, 0.020);   // how long the card is dry

  const std::int64_t roomAt = static_cast<std::int64_t>(c.period) * c.held;
  SimulatedCard card(c.ppm, roomAt);
  PlayClock clock(kRate, static_cast<std::uint64_t>(c.period) * (c.held + 1));
  const double window = 600;  // the first and last ten minutes are compared

  Errors e;
  double sumAbs = 0, sumFirst = 0, sumLast = 0;
  long readings = 0, first = 0, last = 0;
  std::uint64_t previous = 0;
  double nextDry = 20;
  double callback = 0, read = 0.005;
  while (read < seconds) {
    while (read < callback && read < seconds) {
      card.AdvanceTo(read);
      const std::uint64_t p = clock.Played(At(read));
      if (p < previous) e.monotonic = false;
      previous = p;
      const double err = (static_cast<double>(p) - card.Played()) * 1000.0 / kRate;
      sumAbs += std::abs(err);
      e.worstMs = std::max(e.worstMs, std::abs(err));
      ++readings;
      if (read > 1 && read < 1 + window) sumFirst += err, ++first;
      if (read > seconds - window) sumLast += err, ++last;
      read += frameGap(random);
    }
    card.AdvanceTo(callback);
    card.Take(c.period);
    clock.Handed(static_cast<std::uint64_t>(c.period), At(callback));
    // The driver's thread waits only while the queue is full; when there is room already it
    // asks again at once, with no wake-up to be late for.
    const double due = card.WhenQueueAt(roomAt);
    double next = due > callback ? due + jitter(random) : callback + 20e-6;
    if (c.runsDry && due > callback && callback > nextDry) {
      next = card.WhenQueueAt(0) + starved(random);
      nextDry += 20;
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
      {512, 2, 0, 0.0, false},  // no jitter at all: the count is exact
      {256, 2, 0, 2.0, false},     {256, 1, 20, 2.0, true},     {256, 3, 100, 2.0, false},
      {256, 4, -100, 2.0, true},   {512, 2, 20, 2.0, false},    {512, 1, -100, 2.0, true},
      {512, 3, 0, 2.0, true},      {512, 4, 100, 2.0, false},   {1024, 2, 100, 2.0, true},
      {1024, 1, 0, 2.0, false},    {1024, 3, -100, 2.0, false}, {1024, 4, 20, 2.0, true},
      {2048, 2, -100, 2.0, false}, {2048, 1, 100, 2.0, true},   {2048, 3, 20, 2.0, true},
      {2048, 4, 0, 2.0, false},
  };
  for (const Case& c : cases) {
    const Errors e = Simulate(c, 3600);
    SCOPED_TRACE(testing::Message()
                 << "period " << c.period << ", held " << c.held << ", " << c.ppm << " ppm, dry "
                 << c.runsDry << ": mean " << e.meanMs << " ms, worst " << e.worstMs << " ms, bias "
                 << e.firstMinutesMs << " ms first, " << e.lastMinutesMs << " ms last");
    EXPECT_LE(e.meanMs, 1.0);
    EXPECT_LE(e.worstMs, 2.0 + c.jitterMs);
    EXPECT_NEAR(e.lastMinutesMs, e.firstMinutesMs, 0.25);  // no growth over the hour
    EXPECT_TRUE(e.monotonic);
  }
}

}  // namespace
