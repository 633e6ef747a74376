#include "platform/backend/PlayClock.h"

#include <algorithm>
#include <cmath>

namespace backend {

namespace {

// Disagreements up to this are the thread's wake-up noise; larger ones are real.
constexpr double kNoiseSeconds = 0.004;
// Where a disagreement says the device is behind the estimate: the share a wake-up's
// lateness moves it back. Wake-ups are late, never early, so the estimate keeps near the least
// late of them, and a device clock slower than ours is still followed.
constexpr double kCreep = 1.0 / 32;
// How much faster than its nominal rate a device may play: sound cards and servers keep well
// within a tenth of a percent.
constexpr double kFastest = 1.001;

double Seconds(PlayClock::Time from, PlayClock::Time to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

PlayClock::PlayClock(int rate, std::uint64_t held)
    : rate_(static_cast<double>(rate)), held_(static_cast<std::int64_t>(held)) {}

double PlayClock::EstimateAt(Time now) const {
  return static_cast<double>(anchorFrame_) + rate_ * Seconds(anchorAt_, now);
}

void PlayClock::Handed(std::uint64_t frames, Time now) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::int64_t before = handed_;
  handed_ += static_cast<std::int64_t>(frames);
  // What the sample count says leaves the device now.
  const std::int64_t anchor = handed_ - held_;
  if (!started_ || static_cast<double>(before) < CeilingAt(now)) {
    ceilingFrame_ = before;
    ceilingAt_ = now;
  }
  const bool backToBack =
      started_ && Seconds(lastCallback_, now) * rate_ < 0.25 * static_cast<double>(frames);
  lastCallback_ = now;
  if (!started_) {
    started_ = true;
    starting_ = true;
    Anchor(anchor, 0, now);
    return;
  }
  // Still taking its first blocks: how much it holds by now is unknown; it starts from the
  // first of them.
  if (starting_ && backToBack) return;
  starting_ = false;
  const double estimate = EstimateAt(now);
  if (estimate >= static_cast<double>(before)) {
    // It has played everything handed before: it ran dry and starts again with this block now.
    // Until it is full again, the callbacks come as fast as it takes them and say nothing of
    // where it plays.
    Anchor(before, 0, now);
    doubted_ = 0;
    return;
  }
  const double lead = estimate - static_cast<double>(anchor);
  const double noise = kNoiseSeconds * rate_;
  if (std::abs(lead) <= noise) {
    Anchor(anchor, lead < 0 ? 0 : lead * (1.0 - kCreep), now);
    doubted_ = 0;
  } else if (lead > 0 && ++doubted_ <= RefillCallbacks(frames)) {
    // Behind the estimate: the first of several blocks asked for together, or the device is
    // filling up again. The blocks that follow at once bear the estimate out; only when they
    // do not, for as long as a refill takes, is the device taken to have stalled.
    Anchor(anchor, lead, now);
  } else {
    Anchor(anchor, 0, now);
    doubted_ = 0;
  }
  // A device that took more at once than it holds later is no further on than it can be.
  const double ceiling = CeilingAt(now);
  if (EstimateAt(now) > ceiling) {
    const auto whole = static_cast<std::int64_t>(std::floor(ceiling));
    Anchor(whole, ceiling - static_cast<double>(whole), now);
  }
}

double PlayClock::CeilingAt(Time now) const {
  return static_cast<double>(ceilingFrame_) +
         kFastest * rate_ * std::max(0.0, Seconds(ceilingAt_, now));
}

void PlayClock::Anchor(std::int64_t frame, double lead, Time now) {
  anchorFrame_ = frame;
  anchorAt_ =
      now - std::chrono::duration_cast<Time::duration>(std::chrono::duration<double>(lead / rate_));
}

int PlayClock::RefillCallbacks(std::uint64_t frames) const {
  if (frames == 0) return 1;
  return static_cast<int>((static_cast<std::uint64_t>(held_) + frames - 1) / frames);
}

std::uint64_t PlayClock::Played(Time now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!started_) return reported_;
  // The device cannot play what it has not been handed: if no callback comes, the count stops
  // where the device itself must.
  const double estimate =
      std::clamp(std::min(EstimateAt(now), CeilingAt(now)), 0.0, static_cast<double>(handed_));
  reported_ = std::max(reported_, static_cast<std::uint64_t>(estimate));
  return reported_;
}

}  // namespace backend
