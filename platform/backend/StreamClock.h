// The frame leaving an audio server's sink now, from the server's own timing. The server says,
// now and then, how much of the stream it has read, how much of that its sink still holds, and
// whether it plays on; the wall clock carries the count on at the nominal rate between reports.
// The count is in frames handed to the stream, so it maps straight onto what the mixer rendered.
//
// A report may count frames the server has taken but not yet played: PipeWire's PulseAudio
// service takes a whole quantum at the start of each cycle and reports the same figures until
// the next, so at 2048 frames a report can be up to 43 ms ahead of the sound. So the count follows
// the low end of the reports of the last moments, each carried on to now at the rate: the reports
// taken just before a cycle began, which are the sound itself. Not the very lowest: now and then
// a cycle starts a few milliseconds late while the sink plays on, and the report taken just
// before it is that much behind the sound; one of them would hold the count back for as long as
// reports count. Such a report stands alone, so a report counts only as low as the next one.
//
// Nor is the count ever carried past the newest report by more than the time since it: a report
// is not behind the sound for longer than a late cycle, so when the server stalls (its reports keep
// coming but it reads nothing more) the count stops where its reports stand instead of running on
// at the rate. A stalled server may send no reports at all: once a question to it is overdue, the
// count is carried on for no more than 1.6 ms past the newest report, so a stall never puts it
// further ahead of the sound. Only then: while this program's own threads wait for the processor
// no answer is called late, and the sound goes on meanwhile.
// A server that answers late may have stood all that while, and the first reports after it may
// count frames it took but has not played: so after a late answer the count goes on at the rate
// from where it stood, until a report taken since counts, or as far as reports have lately run
// ahead of the sound short of the newest (PulseAudio's are the sound itself).
//
// Never more than was handed over (the sink cannot play what it has not been given), never less
// than reported before. Once the server is gone nothing more is heard, yet the program still
// needs a position that moves: from then on the count runs on from where the sound stopped.
//
// Thread-safe on its own lock, held for a few arithmetic steps when asked, and for one pass over
// the reports of the last second (at most a few hundred) when a report comes: the server's thread
// reports, the window's thread asks, and neither ever waits long for the other.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace backend {

class StreamClock {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // `frameBytes`: bytes of one frame of the stream.
  StreamClock(int rate, int frameBytes);

  // `frames` more frames were handed to the stream.
  void Written(std::uint64_t frames);
  // The server's timing as it stood at `at`: it had read `readIndex` bytes of the stream, of
  // which its sink still held `sinkUsec` microseconds; `playing`: it plays on from there (not
  // waiting for a first buffer, nor for frames after running out). `asked`: when we asked for it.
  void Timing(std::int64_t readIndex, std::uint64_t sinkUsec, bool playing, Time at, Time asked);
  // The server is gone at `at`: the count runs on from what was leaving the sink then.
  void Lost(Time at);
  // A question asked is not answered yet, and it is late: the server may have stalled. Holds
  // until the next report.
  void Overdue();
  // The frame leaving the sink at `now`.
  std::uint64_t Played(Time now);

 private:
  // A report as the frame that left the sink at the clock's epoch, had it played at the rate.
  double Phase(double frame, Time at) const;
  double EstimateAt(Time now) const;

  std::mutex mutex_;
  const double rate_;
  const double frameBytes_;
  std::uint64_t written_ = 0;
  bool known_ = false;  // a report has come
  Time epoch_{};
  bool running_ = false;
  double stoppedAt_ = 0;  // the frame the sink stopped at, while not running
  struct Report {
    Time at;
    double phase;
  };

  // Recomputes `phase_` from the reports that count.
  void Follow();

  // The reports that count, while running, within the window before the newest report, oldest
  // first.
  std::deque<Report> reports_;
  double phase_ = 0;  // the low end of `reports_`, which the count follows
  // The newest report, which counts once a later one has read more.
  bool pending_ = false;
  Report pendingReport_{};
  std::int64_t pendingRead_ = 0;
  Time newest_{};
  double newestPhase_ = 0;    // the newest report while running, which bounds the count from above
  bool provisional_ = false;  // the one report kept is the least the sound can be, not a report
  std::int64_t stoppedRead_ = 0;  // what the server had read when it last stood
  bool overdue_ = false;          // an answer is late
  // After a slow answer: the count goes on at the rate from where it stood then (`holdPhase_`),
  // until a report taken since (at or after `holdAt_`) counts.
  bool holding_ = false;
  Time holdAt_{};
  double holdPhase_ = 0;
  // How far each report of the last second ran ahead of the count's phase, as a falling
  // sequence whose front is the largest.
  struct Lead {
    Time at;
    double lead;
  };
  std::deque<Lead> leads_;
  std::optional<Time> leadsSince_;  // the first report of this run
  void NoteLead(Time at, double lead);
  bool LeadKnown() const;
  bool lost_ = false;
  double lostPhase_ = 0;
  std::uint64_t reported_ = 0;
};

}  // namespace backend
