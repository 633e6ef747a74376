#include "platform/backend/PlayClock.h"

#include <algorithm>

namespace backend {

std::uint64_t PlayClock::FramesIn(Time from, Time to) const {
  if (to <= from) return 0;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
  return static_cast<std::uint64_t>(us) * static_cast<std::uint64_t>(rate_) / 1000000u;
}

void PlayClock::Handed(std::uint64_t frames, Time now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handed_ == 0) {
    startAt_ = now;
    startFrame_ = 0;
  } else if (startFrame_ + FramesIn(startAt_, now) > handed_) {
    // It ran dry before this block came: it goes on from here.
    startAt_ = now;
    startFrame_ = handed_;
  }
  handed_ += frames;
  chunk_ = frames;
  at_ = now;
}

std::uint64_t PlayClock::Played(Time now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handed_ == 0) return reported_;
  // Real time since it started playing, and the pace of the callbacks: the block just handed
  // over is still to be played. A device slower than its rate is followed by the second.
  const std::uint64_t inTime = startFrame_ + FramesIn(startAt_, now);
  const std::uint64_t paced = handed_ - chunk_ + FramesIn(at_, now);
  const std::uint64_t p = std::min({inTime, paced, handed_});
  reported_ = std::max(reported_, p);
  return reported_;
}

}  // namespace backend
