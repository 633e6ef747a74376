// The played-frame count of the audio device on a PulseAudio-protocol server, from made-up
// timing reports: how a report becomes a frame, a sink that waits for frames, a server that takes
// whole quanta (PipeWire) and one whose clock runs off ours, and a server that goes away.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>

#include "platform/backend/StreamClock.h"

namespace {

using backend::StreamClock;

constexpr int kRate = 44100;
constexpr int kFrameBytes = 4;

StreamClock::Time At(double seconds) {
  return StreamClock::Time{} + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(seconds));
}

std::int64_t Bytes(std::int64_t frames) { return frames * kFrameBytes; }

// A report taken at `at`, asked for at `asked`.
void Report(StreamClock& c, std::int64_t read, std::uint64_t sinkUsec, bool playing,
            StreamClock::Time at, StreamClock::Time asked) {
  c.Timing(read, sinkUsec, playing, at, asked);
}
// A report the server gave as soon as it was asked.
void Report(StreamClock& c, std::int64_t read, std::uint64_t sinkUsec, bool playing,
            StreamClock::Time at) {
  c.Timing(read, sinkUsec, playing, at, at);
}

TEST(StreamClock, AReportIsWhatTheServerReadLessWhatItsSinkHolds) {
  StreamClock c(kRate, kFrameBytes);
  EXPECT_EQ(c.Played(At(0.5)), 0u);  // no report yet
  c.Written(100000);
  Report(c, Bytes(44100), 10000, true, At(1.0));  // 10 ms = 441 frames still in the sink
  EXPECT_EQ(c.Played(At(1.0)), 0u);  // counts once a later report shows the server read on
  Report(c, Bytes(44100 + 441), 10000, true, At(1.01));  // 441 frames on
  EXPECT_EQ(c.Played(At(1.01)), 44100u - 441u + 441u);
  EXPECT_EQ(c.Played(At(1.5)), 44100u - 441u + 22050u);  // carried on at the rate
  EXPECT_EQ(c.Played(At(1.2)), 44100u - 441u + 22050u);  // an earlier reading: never backwards
  EXPECT_EQ(c.Played(At(9.0)), 100000u);                 // never past what was handed over
  c.Written(50000);
  EXPECT_EQ(c.Played(At(3.0)), 44100u - 441u + 2 * 44100u);
}

TEST(StreamClock, StandsStillWhileTheSinkWaitsForFrames) {
  StreamClock c(kRate, kFrameBytes);
  c.Written(4410);
  // Filling up before the start: the sink still plays out 50 ms of its own silence.
  Report(c, Bytes(0), 50000, false, At(0.0));
  EXPECT_EQ(c.Played(At(0.2)), 0u);
  Report(c, Bytes(2205), 50000, true, At(0.3));  // started: 50 ms read, all still in the sink
  Report(c, Bytes(2646), 50000, true, At(0.31));
  EXPECT_NEAR(c.Played(At(0.35)), 2205.0, 1.0);
  // Ran dry: it stands at the last frame it had until frames come again.
  Report(c, Bytes(4410), 0, false, At(0.5));
  EXPECT_EQ(c.Played(At(0.5)), 4410u);
  EXPECT_EQ(c.Played(At(0.9)), 4410u);
  c.Written(4410);
  EXPECT_EQ(c.Played(At(1.0)), 4410u);
  Report(c, Bytes(4410 + 441), 10000, true, At(1.0));
  // Nothing counts yet: it goes on from the least it can be, all read since it stood (441)
  // read just now.
  EXPECT_NEAR(c.Played(At(1.05)), 4410.0 - 441.0 + 2205.0, 1.0);
  Report(c, Bytes(4410 + 882), 10000, true, At(1.01));
  EXPECT_EQ(c.Played(At(1.1)), 4410u + 4410u);  // all handed over by then
}

// The device's questions, as it asks them: one at a time; it looks 0.5 ms after asking, and
// every 0.5 ms after that, whether the answer has come, calls it late if not, and asks again 0.1
// to 0.5 ms after finding it answered. Each answer is up to 0.3 ms on its way to us.
class Questions {
 public:
  explicit Questions(std::uint64_t seed) : random_(seed) { delay_ = onTheWay_(random_); }
  // Hands `c` every answer and every late answer up to `t`. `answeredAt(q)`: when the server
  // answers the question asked at `q`; `report(at)`: its report then.
  template <typename AnsweredAt, typename ReportAt>
  void Until(double t, StreamClock& c, AnsweredAt answeredAt, ReportAt report) {
    for (;;) {
      const double at = answeredAt(asked_), arrives = at + delay_;
      if (std::min(arrives, check_) > t) return;
      if (check_ < arrives) {
        c.Overdue();
        check_ += kLook;
        continue;
      }
      report(at, asked_);
      while (check_ < arrives) check_ += kLook;
      asked_ = check_ + pause_(random_);
      check_ = asked_ + kLook;
      delay_ = onTheWay_(random_);
    }
  }

 private:
  static constexpr double kLook = 0.0005;
  std::mt19937_64 random_;
  std::uniform_real_distribution<double> pause_{0.0001, 0.0005}, onTheWay_{0.0, 0.0003};
  double asked_ = 0.001, check_ = 0.001 + kLook, delay_ = 0;
};

// A server that takes a whole quantum at the start of each of its cycles and reports what it has
// taken until the next (from the very start: the first reports are all taken within one cycle); its
// cycles run on its own clock, `ppm` off ours. Readings every 1 to 3 ms; the frame leaving the
// sink is known at every moment.
struct QuantumCase {
  int quantum;  // frames of the server's 48 kHz
  int ppm;
};

TEST(StreamClock, FollowsTheSoundWhenTheServerTakesWholeQuanta) {
  for (const QuantumCase& q : {QuantumCase{256, 0}, QuantumCase{1024, 0}, QuantumCase{2048, 0},
                               QuantumCase{1024, 300}, QuantumCase{2048, -300}}) {
    std::mt19937_64 random(static_cast<std::uint64_t>(q.quantum + q.ppm + 7));
    std::uniform_real_distribution<double> readGap(0.001, 0.003);
    const double serverRate = kRate * (1 + q.ppm * 1e-6);
    const double taken = q.quantum * 44100.0 / 48000.0;  // of our frames per cycle
    const double cycle = taken / serverRate;
    const double sinkFrames = 32;  // what the service says its sink holds
    auto truth = [&](double t) { return t * serverRate - sinkFrames; };
    auto reportedRead = [&](double t) { return (std::floor(t / cycle) + 1) * taken; };

    StreamClock c(kRate, kFrameBytes);
    c.Written(1u << 30);
    Questions questions(random());
    double worstAhead = -1e9, worstBehind = 1e9, sumAbs = 0;
    double startAhead = -1e9, startBehind = 1e9;  // in the first second
    long readings = 0;
    std::uint64_t previous = 0;
    for (double t = 0.002; t < 60; t += readGap(random)) {
      questions.Until(
          t, c, [](double asked) { return asked + 0.00005; },
          [&](double at, double asked) {
            Report(c, Bytes(static_cast<std::int64_t>(reportedRead(at))),
                   static_cast<std::uint64_t>(sinkFrames * 1e6 / kRate), true, At(at), At(asked));
          });
      const std::uint64_t p = c.Played(At(t));
      ASSERT_GE(p, previous);
      previous = p;
      const double errorMs = (static_cast<double>(p) - truth(t)) * 1000.0 / kRate;
      if (t < 1.0) {  // the window is not yet full
        startAhead = std::max(startAhead, errorMs);
        if (t > 0.01) startBehind = std::min(startBehind, errorMs);
        continue;
      }
      worstAhead = std::max(worstAhead, errorMs);
      worstBehind = std::min(worstBehind, errorMs);
      sumAbs += std::abs(errorMs);
      ++readings;
    }
    SCOPED_TRACE(testing::Message()
                 << "quantum " << q.quantum << ", " << q.ppm << " ppm: ahead " << worstAhead
                 << " ms, behind " << worstBehind << " ms, at the start ahead " << startAhead
                 << " ms, behind " << startBehind << " ms");
    EXPECT_LE(startAhead, 8.0);    // at most a report's interval
    EXPECT_GE(startBehind, -2.0);  // the first report came a millisecond after the start
    EXPECT_LE(worstAhead, 3.0);
    EXPECT_GE(worstBehind, -1.0);
    EXPECT_LE(sumAbs / static_cast<double>(readings), 0.6);
  }
}

// A server that takes whole quanta stalls for a while: its next cycle comes late, so the sound
// stops at the end of the quantum it has. The server either goes on answering, and its reports
// stand still; or answers nothing until it goes on (a stalled PulseAudio asks its stalled sink).
// Either way the count must stop with the sound, at most 2 ms ahead of it, not run on at the
// rate, and not jump ahead when the server goes on.
TEST(StreamClock, StopsWithTheSoundWhenTheServerStalls) {
  for (const bool answers : {true, false}) {
    for (const int quantum : {256, 1024, 2048}) {
      std::mt19937_64 random(static_cast<std::uint64_t>(quantum) + (answers ? 0 : 1));
      std::uniform_real_distribution<double> readGap(0.0001, 0.0005);
      const double taken = quantum * 44100.0 / 48000.0;
      const double cycle = taken / kRate;
      const double stallFrom = std::ceil(3.0 / cycle) * cycle, stall = 0.25;  // 250 ms, no cycle
      const double stallEnd = stallFrom + stall;
      // The server's time: it stands still through the stall.
      auto serverTime = [&](double t) {
        return t < stallFrom ? t : (t < stallEnd ? stallFrom : t - stall);
      };
      auto truth = [&](double t) { return serverTime(t) * kRate; };
      auto reportedRead = [&](double t) {
        return (std::floor(serverTime(t) / cycle + (t < stallFrom ? 0 : -1e-9)) + 1) * taken;
      };
      // A silent server answers the question it was asked during the stall some way into its
      // first cycle after, when its report counts a quantum it has not yet played.
      auto answeredAt = [&](double q) {
        return answers || q < stallFrom || q >= stallEnd ? q + 0.00005 : stallEnd + 0.4 * cycle;
      };

      StreamClock c(kRate, kFrameBytes);
      c.Written(1u << 30);
      Questions questions(random());
      double worstAhead = -1e9;
      for (double t = 0.002; t < stallEnd + 0.1; t += readGap(random)) {
        questions.Until(t, c, answeredAt, [&](double at, double asked) {
          Report(c, Bytes(static_cast<std::int64_t>(reportedRead(at))), 0, true, At(at), At(asked));
        });
        const double errorMs = (static_cast<double>(c.Played(At(t))) - truth(t)) * 1000.0 / kRate;
        if (t > 1.0) worstAhead = std::max(worstAhead, errorMs);
      }
      SCOPED_TRACE(testing::Message()
                   << "quantum " << quantum << (answers ? ", answering" : ", silent") << ": ahead "
                   << worstAhead << " ms");
      EXPECT_LE(worstAhead, 2.0);
    }
  }
}

// Now and then a cycle of the server starts 4 ms late while its sink plays on: the report taken
// just before it is that much behind the sound. The count must not be held back by it once the
// next cycle has come.
TEST(StreamClock, IsNotHeldBackByALateCycle) {
  for (const int quantum : {256, 1024, 2048}) {
    std::mt19937_64 random(static_cast<std::uint64_t>(quantum) + 1);
    std::uniform_real_distribution<double> readGap(0.0005, 0.0015);
    const double taken = quantum * 44100.0 / 48000.0;
    const double cycle = taken / kRate, late = 0.004;
    auto truth = [&](double t) { return t * kRate; };
    // Every 25th cycle starts late.
    auto reportedRead = [&](double t) {
      const double n = std::floor(t / cycle);
      const bool lateNow = static_cast<long>(n) % 25 == 0 && t - n * cycle < late;
      return (n + (lateNow ? 0 : 1)) * taken;
    };

    StreamClock c(kRate, kFrameBytes);
    c.Written(1u << 30);
    Questions questions(random());
    double worstBehind = 1e9;
    for (double t = 0.002; t < 10; t += readGap(random)) {
      questions.Until(
          t, c, [](double asked) { return asked + 0.00005; },
          [&](double at, double asked) {
            Report(c, Bytes(static_cast<std::int64_t>(reportedRead(at))), 0, true, At(at),
                   At(asked));
          });
      const double errorMs = (static_cast<double>(c.Played(At(t))) - truth(t)) * 1000.0 / kRate;
      // While a cycle is late the count stands, as it must when a stall begins, and it goes on
      // once the next cycle's report has come (at most a report's interval after it began).
      const double lateStart = std::floor(t / cycle / 25) * 25 * cycle;
      if (t > 1.0 && t - lateStart > 2 * cycle + late + 0.0025)
        worstBehind = std::min(worstBehind, errorMs);
    }
    SCOPED_TRACE(testing::Message()
                 << "quantum " << quantum << ": behind " << worstBehind << " ms");
    EXPECT_GE(worstBehind, -1.0);
  }
}

// A server whose reports are the sound itself (PulseAudio: what it read, less what its sink holds,
// on a sink that reads 10 ms at a time) is now and then 5 ms late to answer while its sink plays
// on. While the answer is late the count stands, for the server might have stalled; once the
// answer has come the count follows the sound again at once, not a read of the sink later.
TEST(StreamClock, FollowsTheSoundAtOnceAfterALateAnswerWhenReportsAreTheSound) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> readGap(0.0001, 0.0005);
  const double chunk = 0.010, late = 0.005;
  auto readAt = [&](double t) { return (std::floor(t / chunk) + 2) * chunk * kRate; };
  auto sinkUsecAt = [&](double t) { return (readAt(t) / kRate - t) * 1e6; };
  // Every half second a question waits 5 ms for its answer.
  auto answeredAt = [&](double q) { return q + (std::fmod(q, 0.5) < 0.001 ? late : 0.00005); };

  StreamClock c(kRate, kFrameBytes);
  c.Written(1u << 30);
  Questions questions(random());
  double worstBehindAfterAnswer = 0, answeredLateAt = -1;
  for (double t = 0.002; t < 5; t += readGap(random)) {
    questions.Until(t, c, answeredAt, [&](double at, double asked) {
      if (at - asked > 0.001) answeredLateAt = at;
      Report(c, Bytes(static_cast<std::int64_t>(readAt(at))),
             static_cast<std::uint64_t>(sinkUsecAt(at)), true, At(at), At(asked));
    });
    const double errorMs = (static_cast<double>(c.Played(At(t))) - t * kRate) * 1000.0 / kRate;
    if (answeredLateAt > 0 && t > answeredLateAt + 0.0003 && t < answeredLateAt + 0.02)
      worstBehindAfterAnswer = std::min(worstBehindAfterAnswer, errorMs);
  }
  SCOPED_TRACE(testing::Message() << "behind after a late answer " << worstBehindAfterAnswer
                                  << " ms");
  ASSERT_GT(answeredLateAt, 4.0);  // late answers did come
  EXPECT_GE(worstBehindAfterAnswer, -0.5);
}

// When this program's own threads wait for the processor, no question is asked and none is late,
// while the sink plays on: the count goes on with the sound, however long since the last report.
TEST(StreamClock, GoesOnWithTheSoundWhileOurOwnThreadsAreHeldUp) {
  StreamClock c(kRate, kFrameBytes);
  c.Written(1u << 30);
  for (double at = 0.0; at <= 0.1; at += 0.0005)
    Report(c, Bytes(static_cast<std::int64_t>(at * kRate)), 0, true, At(at));
  // Held up for 20 ms: the window's thread reads before the server's thread has run.
  EXPECT_NEAR(static_cast<double>(c.Played(At(0.12))), 0.12 * kRate, 2.0);
  // A question was asked before and is late by now: the count stands 1.6 ms past the report.
  c.Overdue();
  EXPECT_NEAR(static_cast<double>(c.Played(At(0.14))), 0.12 * kRate, 2.0);
  Report(c, Bytes(static_cast<std::int64_t>(0.14 * kRate)), 0, true, At(0.14));
  EXPECT_NEAR(static_cast<double>(c.Played(At(0.1405))), 0.1405 * kRate, 2.0);
}

TEST(StreamClock, RunsOnFromTheLastSoundWhenTheServerIsLost) {
  StreamClock c(kRate, kFrameBytes);
  c.Written(8820);
  Report(c, Bytes(3969), 50000, true, At(0.99));  // 1764 leaving the sink
  Report(c, Bytes(4410), 50000, true, At(1.0));   // 2205
  c.Lost(At(1.0015));                             // at 2271; what the sink held is never heard
  Report(c, Bytes(8820), 0, true, At(1.02));      // a late report changes nothing any more
  c.Written(44100);
  EXPECT_NEAR(c.Played(At(1.01)), 2646.0, 1.0);
  EXPECT_NEAR(c.Played(At(2.01)), 2646.0 + 44100.0, 1.0);
}

}  // namespace
