#include "platform/backend/StreamClock.h"

#include <algorithm>

namespace backend {

StreamClock::StreamClock(int rate, int frameBytes)
    : rate_(static_cast<double>(rate)), frameBytes_(static_cast<double>(frameBytes)) {}

void StreamClock::Written(std::uint64_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  written_ += frames;
}

std::uint64_t StreamClock::WrittenFrames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

void StreamClock::Timing(std::int64_t readIndex, std::uint64_t sinkUsec, bool playing, Time at) {
  std::lock_guard<std::mutex> lock(mutex_);
  known_ = true;
  // What the server has read, less what its sink still holds, is leaving the speaker. Negative
  // while the sink still plays out the silence it held before our first frame.
  frameAt_ =
      static_cast<double>(readIndex) / frameBytes_ - static_cast<double>(sinkUsec) * rate_ / 1e6;
  at_ = at;
  running_ = playing;
}

void StreamClock::Lost(Time at) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Whatever the sink still held is never heard; what was leaving it is where time goes on.
  frameAt_ = known_ ? std::min(EstimateAt(at), static_cast<double>(written_)) : 0.0;
  frameAt_ = std::max(frameAt_, static_cast<double>(reported_));
  at_ = at;
  known_ = true;
  running_ = true;
}

double StreamClock::EstimateAt(Time now) const {
  if (!running_ || now <= at_) return frameAt_;
  return frameAt_ + rate_ * std::chrono::duration<double>(now - at_).count();
}

std::uint64_t StreamClock::Played(Time now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!known_) return reported_;
  const double estimate = std::clamp(EstimateAt(now), 0.0, static_cast<double>(written_));
  reported_ = std::max(reported_, static_cast<std::uint64_t>(estimate));
  return reported_;
}

}  // namespace backend
