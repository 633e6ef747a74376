#include "platform/backend/StreamClock.h"

#include <algorithm>

namespace backend {

namespace {

// How far back reports count. Long enough to hold two dozen cycles of the largest usual quantum
// (2048 frames at 48 kHz, 43 ms) with reports all through them, and to ride out the few
// milliseconds by which PipeWire's reports wander at small quanta (with half a second the count
// wandered half as much again against the sound); short enough that a sink clock a few hundred
// ppm off ours moves the lowest of them by well under half a millisecond, and that a sink whose
// latency dropped is followed within a second.
constexpr std::chrono::milliseconds kWindow{1000};
// How long past the newest report the count is carried on at most once an answer is overdue. A
// server that stalls may stop answering too (PulseAudio asks its sink's thread for the latency),
// and then nothing but this keeps the count from running on at the rate: so a stall puts the
// count at most this far ahead of the sound. The device asks again within 1 ms of its last
// question and calls an answer late 0.5 ms after asking, so it knows within 1.5 ms.
constexpr std::chrono::microseconds kMostCarry{1600};
// How long reports are watched before how far they run ahead of the sound is taken as known: a
// few of the largest usual quanta.
constexpr std::chrono::milliseconds kLeadLearnt{200};

double Seconds(StreamClock::Time from, StreamClock::Time to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

StreamClock::StreamClock(int rate, int frameBytes)
    : rate_(static_cast<double>(rate)), frameBytes_(static_cast<double>(frameBytes)) {}

void StreamClock::Written(std::uint64_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  written_ += frames;
}

double StreamClock::Phase(double frame, Time at) const {
  return frame - rate_ * Seconds(epoch_, at);
}

void StreamClock::Timing(std::int64_t readIndex, std::uint64_t sinkUsec, bool playing, Time at,
                         Time asked) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lost_) return;
  // An answer that took longer than the count is carried on: the server may have stood
  // meanwhile (and the count stood with it); what it says now cannot yet tell for how long.
  if (known_ && running_ && !reports_.empty() && at - asked > kMostCarry) {
    const double standing = std::min(EstimateAt(at), static_cast<double>(written_));
    holding_ = true;
    holdAt_ = at;
    holdPhase_ = Phase(std::max(standing, static_cast<double>(reported_)), at);
  }
  overdue_ = false;
  if (!known_) epoch_ = at;
  known_ = true;
  // What the server has read, less what its sink still holds, is leaving the speaker. Negative
  // while the sink still plays out the silence it held before our first frame.
  const double frame =
      static_cast<double>(readIndex) / frameBytes_ - static_cast<double>(sinkUsec) * rate_ / 1e6;
  if (!playing) {
    // Waiting for frames: the sound stands still where the sink stopped, and reports from
    // before say nothing of where it will go on.
    running_ = false;
    stoppedAt_ = frame;
    stoppedRead_ = readIndex;
    reports_.clear();
    pending_ = false;
    holding_ = false;
    leads_.clear();
    leadsSince_.reset();
    return;
  }
  running_ = true;
  // A report counts once a later one shows the server has read more since: it was then taken
  // before a cycle began. Without this, the first reports of a run, all of them taken within
  // its first cycle, would put the count up to a quantum ahead until the next cycle.
  if (!pending_) {
    // The first report of a run: until one counts, the count goes on from the least it can be,
    // as if all the server read since it stood had been read just now.
    const double least = frame - static_cast<double>(readIndex - stoppedRead_) / frameBytes_;
    reports_.clear();
    reports_.push_back({at, Phase(least, at)});
    provisional_ = true;
  } else if (readIndex > pendingRead_) {
    if (provisional_) reports_.clear();
    provisional_ = false;
    reports_.push_back(pendingReport_);
    if (holding_ && pendingReport_.at >= holdAt_) holding_ = false;
  }
  pending_ = true;
  pendingReport_ = {at, Phase(frame, at)};
  newestPhase_ = pendingReport_.phase;
  pendingRead_ = readIndex;
  newest_ = at;
  while (reports_.size() > 1 && newest_ - reports_.front().at > kWindow) reports_.pop_front();
  Follow();
  // Only against reports that count: the least the sound can be says nothing of the lead.
  if (!provisional_) NoteLead(at, newestPhase_ - phase_);
  // The sound is no further behind a report than reports have run ahead of it lately: a server
  // whose reports are the sound itself (PulseAudio's) is followed again at once.
  if (holding_ && LeadKnown())
    holdPhase_ = std::max(holdPhase_, newestPhase_ - leads_.front().lead);
}

void StreamClock::NoteLead(Time at, double lead) {
  while (!leads_.empty() && leads_.back().lead <= lead) leads_.pop_back();
  leads_.push_back({at, lead});
  while (at - leads_.front().at > kWindow) leads_.pop_front();
  if (!leadsSince_) leadsSince_ = at;
}

bool StreamClock::LeadKnown() const { return leadsSince_ && newest_ - *leadsSince_ >= kLeadLearnt; }

void StreamClock::Follow() {
  if (reports_.empty()) return;
  // A report taken before a late cycle stands alone below its neighbours; after a stall the
  // sound stays lower, and so do the reports after it. So a report is only taken as low as the
  // one after it. The newest is taken as it is: it is the sound itself up to the moment the
  // server went on, so after a stall the count goes no further until the next cycle shows how
  // far (after a late cycle that holds it back for one cycle).
  phase_ = reports_.back().phase;
  for (std::size_t i = 0; i + 1 < reports_.size(); ++i)
    phase_ = std::min(phase_, std::max(reports_[i].phase, reports_[i + 1].phase));
}

void StreamClock::Overdue() {
  std::lock_guard<std::mutex> lock(mutex_);
  overdue_ = true;
}

void StreamClock::Lost(Time at) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lost_) return;
  // Whatever the sink still held is never heard; what was leaving it is where time goes on.
  double frame = known_ ? std::min(EstimateAt(at), static_cast<double>(written_)) : 0.0;
  frame = std::max(frame, static_cast<double>(reported_));
  if (!known_) epoch_ = at;
  known_ = true;
  lost_ = true;
  lostPhase_ = Phase(frame, at);
}

double StreamClock::EstimateAt(Time now) const {
  if (lost_) return lostPhase_ + rate_ * Seconds(epoch_, now);
  // Until a report counts, the sound is taken to stand where it stood.
  if (!running_ || reports_.empty()) return stoppedAt_;
  // A reading from before the newest report is taken at the report's time. The newest report,
  // counted or not, is behind the sound only while a cycle is late: the count is at most that
  // report carried on; and once an answer is late, carried on no further than a little past it.
  const double phase = std::min(phase_, newestPhase_);
  const Time until =
      overdue_ ? std::clamp(now, newest_, newest_ + kMostCarry) : std::max(now, newest_);
  return (holding_ ? std::min(phase, holdPhase_) : phase) + rate_ * Seconds(epoch_, until);
}

std::uint64_t StreamClock::Played(Time now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!known_) return reported_;
  const double estimate = std::clamp(EstimateAt(now), 0.0, static_cast<double>(written_));
  reported_ = std::max(reported_, static_cast<std::uint64_t>(estimate));
  return reported_;
}

}  // namespace backend
