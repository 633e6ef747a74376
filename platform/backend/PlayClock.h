// The frame an audio device that calls back for blocks is playing now. The device's own sample
// count is the truth: every callback says how many frames it has asked for so far, and of those
// it still holds a known number (its buffer, the driver's periods, the server's latency). The
// wall clock only carries the count on between two callbacks, so a sound card whose clock runs
// a little fast or slow against the system's is followed without any drift.
//
// The time of each callback is scheduling noise of the device's thread around the moment the
// device took its block. A callback that disagrees with the running estimate by a few
// milliseconds moves it only part of the way; one that disagrees by more is followed at once,
// except where the blocks that come right after it may still bear the estimate out (several
// blocks asked for together, a device filling up again after it ran dry).
//
// Thread-safe on its own lock, which is never held while anything else is called: the device's
// thread hands blocks over while the window's thread asks for the count.
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

  std::mutex mutex_;
  const double rate_;
  const std::int64_t held_;
  std::int64_t handed_ = 0;
  bool started_ = false;
  // Frame `anchorFrame_` left the device at `anchorAt_`; the frames after it leave at the rate.
  std::int64_t anchorFrame_ = 0;
  Time anchorAt_{};
  int doubted_ = 0;  // callbacks in a row that came later than the estimate expected
  std::uint64_t reported_ = 0;
};

}  // namespace backend
