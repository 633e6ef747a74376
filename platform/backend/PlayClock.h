// How many frames an audio device that calls back for blocks has really played. A device plays
// its frames at its rate in real time from the first block it was handed, except that it cannot
// play what it has not been handed yet: when it runs dry it waits, silent, for the next block.
// Some drivers ask for blocks faster than they play them (a timer that sleeps whole
// milliseconds, or a buffer filled two blocks at a time), so the pace of the callbacks alone
// would run ahead of what has left the speaker; the count here never does.
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

  explicit PlayClock(int rate) : rate_(rate) {}

  // The device has just taken `frames` more frames.
  void Handed(std::uint64_t frames, Time now);
  // Frames played by `now`; never more than handed over, never less than reported before.
  std::uint64_t Played(Time now);

 private:
  std::uint64_t FramesIn(Time from, Time to) const;

  std::mutex mutex_;
  const int rate_;
  std::uint64_t handed_ = 0;  // frames handed over so far
  std::uint64_t chunk_ = 0;   // the last block
  Time at_{};                 // when the last block was handed over
  // Since `startAt_` the device has been playing without a gap from frame `startFrame_` on.
  Time startAt_{};
  std::uint64_t startFrame_ = 0;
  std::uint64_t reported_ = 0;
};

}  // namespace backend
