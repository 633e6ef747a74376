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

TEST(StreamClock, AReportIsWhatTheServerReadLessWhatItsSinkHolds) {
  StreamClock c(kRate, kFrameBytes);
  EXPECT_EQ(c.Played(At(0.5)), 0u);  // no report yet
  c.Written(100000);
  c.Timing(Bytes(44100), 10000, true, At(1.0));  // 10 ms = 441 frames still in the sink
  EXPECT_EQ(c.Played(At(1.0)), 0u);  // counts once a later report shows the server read on
  c.Timing(Bytes(44100 + 441), 10000, true, At(1.01));  // 441 frames on
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
  c.Timing(Bytes(0), 50000, false, At(0.0));
  EXPECT_EQ(c.Played(At(0.2)), 0u);
  c.Timing(Bytes(2205), 50000, true, At(0.3));  // started: 50 ms read, all still in the sink
  c.Timing(Bytes(2646), 50000, true, At(0.31));
  EXPECT_NEAR(c.Played(At(0.35)), 2205.0, 1.0);
  // Ran dry: it stands at the last frame it had until frames come again.
  c.Timing(Bytes(4410), 0, false, At(0.5));
  EXPECT_EQ(c.Played(At(0.5)), 4410u);
  EXPECT_EQ(c.Played(At(0.9)), 4410u);
  c.Written(4410);
  EXPECT_EQ(c.Played(At(1.0)), 4410u);
  c.Timing(Bytes(4410 + 441), 10000, true, At(1.0));
  // Nothing counts yet: it goes on from the least it can be, all read since it stood (441)
  // read just now.
  EXPECT_NEAR(c.Played(At(1.05)), 4410.0 - 441.0 + 2205.0, 1.0);
  c.Timing(Bytes(4410 + 882), 10000, true, At(1.01));
  EXPECT_EQ(c.Played(At(1.1)), 4410u + 4410u);  // all handed over by then
}

// A server that takes a whole quantum at the start of each of its cycles and reports what it has
// taken until the next (from the very start: the first reports are all taken within one cycle); its
// cycles run on its own clock, `ppm` off ours. Reports come every 1 to 2.5 ms, as the device asks,
// readings every 1 to 3 ms; the frame leaving the sink is known at every moment.
struct QuantumCase {
  int quantum;  // frames of the server's 48 kHz
  int ppm;
};

TEST(StreamClock, FollowsTheSoundWhenTheServerTakesWholeQuanta) {
  for (const QuantumCase& q : {QuantumCase{256, 0}, QuantumCase{1024, 0}, QuantumCase{2048, 0},
                               QuantumCase{1024, 300}, QuantumCase{2048, -300}}) {
    std::mt19937_64 random(static_cast<std::uint64_t>(q.quantum + q.ppm + 7));
    std::uniform_real_distribution<double> reportGap(0.001, 0.0025), readGap(0.001, 0.003);
    const double serverRate = kRate * (1 + q.ppm * 1e-6);
    const double taken = q.quantum * 44100.0 / 48000.0;  // of our frames per cycle
    const double cycle = taken / serverRate;
    const double sinkFrames = 32;  // what the service says its sink holds
    auto truth = [&](double t) { return t * serverRate - sinkFrames; };
    auto reportedRead = [&](double t) { return (std::floor(t / cycle) + 1) * taken; };

    StreamClock c(kRate, kFrameBytes);
    c.Written(1u << 30);
    double nextReport = 0.001, worstAhead = -1e9, worstBehind = 1e9, sumAbs = 0;
    double startAhead = -1e9, startBehind = 1e9;  // in the first second
    long readings = 0;
    std::uint64_t previous = 0;
    for (double t = 0.002; t < 60; t += readGap(random)) {
      while (nextReport <= t) {
        c.Timing(Bytes(static_cast<std::int64_t>(reportedRead(nextReport))),
                 static_cast<std::uint64_t>(sinkFrames * 1e6 / kRate), true, At(nextReport));
        nextReport += reportGap(random);
      }
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
// stops at the end of the quantum it has, while its reports, every 1 to 2 ms as the device asks
// for them, stand still. The count must stop with the sound, not run on at the rate.
TEST(StreamClock, StopsWithTheSoundWhenTheServerStalls) {
  for (const int quantum : {256, 1024, 2048}) {
    std::mt19937_64 random(static_cast<std::uint64_t>(quantum));
    std::uniform_real_distribution<double> reportGap(0.001, 0.002), readGap(0.0005, 0.0015);
    const double taken = quantum * 44100.0 / 48000.0;
    const double cycle = taken / kRate;
    const double stallFrom = std::ceil(3.0 / cycle) * cycle, stall = 0.25;  // 250 ms, no cycle
    // The server's time: it stands still through the stall.
    auto serverTime = [&](double t) {
      return t < stallFrom ? t : (t < stallFrom + stall ? stallFrom : t - stall);
    };
    auto truth = [&](double t) { return serverTime(t) * kRate; };
    auto reportedRead = [&](double t) {
      return (std::floor(serverTime(t) / cycle + (t < stallFrom ? 0 : -1e-9)) + 1) * taken;
    };

    StreamClock c(kRate, kFrameBytes);
    c.Written(1u << 30);
    double nextReport = 0.001, worstAhead = -1e9;
    for (double t = 0.002; t < stallFrom + stall + 0.1; t += readGap(random)) {
      while (nextReport <= t) {
        c.Timing(Bytes(static_cast<std::int64_t>(reportedRead(nextReport))), 0, true,
                 At(nextReport));
        nextReport += reportGap(random);
      }
      const double errorMs = (static_cast<double>(c.Played(At(t))) - truth(t)) * 1000.0 / kRate;
      if (t > 1.0) worstAhead = std::max(worstAhead, errorMs);
    }
    SCOPED_TRACE(testing::Message() << "quantum " << quantum << ": ahead " << worstAhead << " ms");
    EXPECT_LE(worstAhead, 2.0);
  }
}

// Now and then a cycle of the server starts 4 ms late while its sink plays on: the report taken
// just before it is that much behind the sound. The count must not be held back by it once the
// next cycle has come.
TEST(StreamClock, IsNotHeldBackByALateCycle) {
  for (const int quantum : {256, 1024, 2048}) {
    std::mt19937_64 random(static_cast<std::uint64_t>(quantum) + 1);
    std::uniform_real_distribution<double> reportGap(0.001, 0.0025), readGap(0.0005, 0.0015);
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
    double nextReport = 0.001, worstBehind = 1e9;
    for (double t = 0.002; t < 10; t += readGap(random)) {
      while (nextReport <= t) {
        c.Timing(Bytes(static_cast<std::int64_t>(reportedRead(nextReport))), 0, true,
                 At(nextReport));
        nextReport += reportGap(random);
      }
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

TEST(StreamClock, RunsOnFromTheLastSoundWhenTheServerIsLost) {
  StreamClock c(kRate, kFrameBytes);
  c.Written(8820);
  c.Timing(Bytes(3969), 50000, true, At(0.99));  // 1764 leaving the sink
  c.Timing(Bytes(4410), 50000, true, At(1.0));   // 2205
  c.Lost(At(1.01));                              // at 2646; what the sink held is never heard
  c.Timing(Bytes(8820), 0, true, At(1.02));      // a late report changes nothing any more
  c.Written(44100);
  EXPECT_NEAR(c.Played(At(1.01)), 2646.0, 1.0);
  EXPECT_NEAR(c.Played(At(2.01)), 2646.0 + 44100.0, 1.0);
}

}  // namespace
