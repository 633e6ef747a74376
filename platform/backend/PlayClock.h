// The frame an audio device that calls back for blocks is playing now. The device's own sample
// count is the truth: every callback says how many frames it has asked for so far, and of those
// it still holds a known number (its buffer, the driver's periods, the server's latency). The
// wall clock only carries the count on between two callbacks, so a sound card whose clock runs
// a little fast or slow against the system's is followed without any drift.
//
// The time of each callback is taken when its block is handed over, and the device's thread
// only ever wakes late, never early: a callback whose count puts the sound a little further on
// than the running estimate is taken at its word, one that puts it a little behind moves the
// estimate only a small part of the way (a late wake-up). One that disagrees by more is followed
// at once, except where the blocks that come right after it may still bear the estimate out
// (several blocks asked for together, a device filling up again after it ran dry).
//
// What a device may hold is at times more than `held`: at its start it may take a burst of
// blocks, or two at once into a queue still full of silence. So the count never runs ahead of
// what is physically possible (a device cannot have played more than it had been handed before
// a callback, plus the time since at its rate), and blocks taken back to back at the very start
// do not move it on.
//
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace backend {

class PlayClock {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // `held`: the frames a device has not played yet at the moment a callback has handed its block
  // over, that block included.
  PlayClock(int rate, std::uint64_t held);

  // The device has just taken `frames` more frames.
  void Handed(std::uint64_t frames, Time now);
  // The frame leaving the device at `now`: never more than handed over, never less than
  // reported before.
  std::uint64_t Played(Time now);

 private:
  double EstimateAt(Time now) const;
  // From now on the estimate is `lead` frames ahead of `frame` at `now`.
  void Anchor(std::int64_t frame, double lead, Time now);
  // Callbacks of `frames` it takes to fill the device from empty.
  int RefillCallbacks(std::uint64_t frames) const;
  // The most the device can have played by `now`.
  double CeilingAt(Time now) const;

  std::mutex mutex_;
  const double rate_;
  const std::int64_t held_;
  std::int64_t handed_ = 0;
  bool started_ = false;
  // Frame `anchorFrame_` left the device at `anchorAt_`; the frames after it leave at the rate.
  std::int64_t anchorFrame_ = 0;
  Time anchorAt_{};
  int doubted_ = 0;  // callbacks in a row that came later than the estimate expected
  // It had played at most `ceilingFrame_` at `ceilingAt_`, and no faster than the rate since.
  std::int64_t ceilingFrame_ = 0;
  Time ceilingAt_{};
  Time lastCallback_{};
  bool starting_ = false;  // every callback so far came back to back with the first
  std::uint64_t reported_ = 0;
};

}  // namespace backend
