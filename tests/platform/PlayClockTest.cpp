// The played-frame count of callback-driven audio devices, on a made-up clock: what the device
// still holds is never counted as played, a driver asking for several blocks at once is followed
// at once, a device that ran dry is followed by its samples, late wake-ups do not hold the count
// back, and more blocks taken at once than a device holds later never put it ahead.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/backend/PlayClock.h"

namespace {

using backend::PlayClock;
using std::chrono::microseconds;

constexpr int kRate = 44100;
constexpr std::uint64_t kBlock = 441;  // 10 ms, so that times and frames are both round
const PlayClock::Time kT0{};

PlayClock::Time At(std::int64_t us) { return kT0 + microseconds(us); }

TEST(PlayClock, NothingIsPlayedBeforeTheDeviceHasPlayedOutWhatItHolds) {
  PlayClock c(kRate, 3 * kBlock);
  EXPECT_EQ(c.Played(At(5000)), 0u);
  // The device starts with its queue full of silence: three callbacks, ten milliseconds apart,
  // before the first block handed over reaches the speaker.
  c.Handed(kBlock, At(0));
  EXPECT_EQ(c.Played(At(9000)), 0u);
  c.Handed(kBlock, At(10000));
  c.Handed(kBlock, At(20000));
  EXPECT_EQ(c.Played(At(20000)), 0u);
  EXPECT_EQ(c.Played(At(25000)), kBlock / 2);
  for (int i = 3; i < 100; ++i) {
    c.Handed(kBlock, At(i * 10000));
    ASSERT_EQ(c.Played(At(i * 10000)), (i - 2) * kBlock);
    ASSERT_EQ(c.Played(At(i * 10000 + 5000)), (i - 2) * kBlock + kBlock / 2);
  }
  EXPECT_EQ(c.Played(At(500)), 97 * kBlock + kBlock / 2);  // a reading from before: never backwards
}

// When the callbacks stop, the count stops at the last frame handed over, where the device
// itself must; with the next block it goes on from there.
TEST(PlayClock, ADeviceThatRanDryGoesOnFromWhereItStopped) {
  PlayClock c(kRate, 2 * kBlock);
  for (int i = 0; i < 10; ++i) c.Handed(kBlock, At(i * 10000));
  EXPECT_EQ(c.Played(At(500000)), 10 * kBlock);
  c.Handed(kBlock, At(600000));
  EXPECT_EQ(c.Played(At(600000)), 10 * kBlock);
  // It had nothing left, so it asks for the block that fills it at once; it plays again from
  // the first of them.
  c.Handed(kBlock, At(600000));
  EXPECT_EQ(c.Played(At(605000)), 10 * kBlock + kBlock / 2);
  for (int i = 1; i < 50; ++i) {
    c.Handed(kBlock, At(600000 + i * 10000));
    ASSERT_EQ(c.Played(At(600000 + i * 10000)), (10 + i) * kBlock);
  }
}

// A driver that takes two blocks every other period: the second of them is what the device was
// waiting for, the first is not late.
TEST(PlayClock, BlocksAskedForTogetherAreFollowedAtOnce) {
  PlayClock c(kRate, 4 * kBlock);
  for (int i = 0; i < 4; ++i) c.Handed(kBlock, At(i * 10000));
  for (int pair = 2; pair < 100; ++pair) {
    const std::int64_t t = pair * 20000;
    c.Handed(kBlock, At(t));
    c.Handed(kBlock, At(t + 50));
    const std::uint64_t expected = (2 * pair - 2) * kBlock;
    ASSERT_NEAR(static_cast<double>(c.Played(At(t + 50))), expected, 3.0);
    ASSERT_NEAR(static_cast<double>(c.Played(At(t + 15000))), expected + 1.5 * kBlock, 3.0);
  }
}

// Wake-ups on time and two milliseconds late by turns: the late ones are no reason to hold the
// count back, the count keeps to those on time.
TEST(PlayClock, LateWakeUpsDoNotHoldTheCountBack) {
  PlayClock c(kRate, 2 * kBlock);
  for (int i = 0; i < 400; ++i) {
    const std::int64_t late = i % 2 ? 2000 : 0;
    const std::int64_t t = i * 10000 + late;
    c.Handed(kBlock, At(t));
    if (i > 100) {
      const double truth = static_cast<double>((i - 1) * kBlock) + late * 0.0441;
      ASSERT_NEAR(static_cast<double>(c.Played(At(t))), truth, 0.3 * 44.1) << i;
    }
  }
}

// A device that starts empty and takes eight blocks at once, then asks again only when it has
// room for one besides the one it still holds: it plays from the first block on, and the count is never ahead (by
// more than the tenth of a percent a device may run fast).
TEST(PlayClock, ABurstAtTheStartNeverPutsTheCountAhead) {
  PlayClock c(kRate, 2 * kBlock);
  for (int i = 0; i < 8; ++i) c.Handed(kBlock, At(i * 20));
  for (std::int64_t t = 200; t < 70000; t += 1000) {
    ASSERT_LE(static_cast<double>(c.Played(At(t))), t * 0.0441 * 1.001 + 1.0) << t;
  }
  for (int i = 0; i < 20; ++i) {
    const std::int64_t t = 70000 + i * 10000;  // frame (7 + i) blocks is leaving the device
    c.Handed(kBlock, At(t));
    ASSERT_LE(static_cast<double>(c.Played(At(t + 5000))), (7.5 + i) * kBlock + 4.0) << i;
    if (i > 0) {
      ASSERT_NEAR(static_cast<double>(c.Played(At(t + 5000))), (7.5 + i) * kBlock, 2.0);
    }
  }
}

// A device that ran dry and fills up again with more blocks than it holds later: it plays again
// from the first of them, and the count is never ahead of that.
TEST(PlayClock, ARefillOfMoreThanItHoldsNeverPutsTheCountAhead) {
  PlayClock c(kRate, 2 * kBlock);
  for (int i = 0; i < 10; ++i) c.Handed(kBlock, At(i * 10000));
  EXPECT_EQ(c.Played(At(200000)), 10 * kBlock);  // dry since 110 ms
  for (int i = 0; i < 6; ++i) c.Handed(kBlock, At(300000 + i * 20));
  for (std::int64_t t = 300200; t < 340000; t += 1000) {
    ASSERT_LE(static_cast<double>(c.Played(At(t))),
              10 * kBlock + (t - 300000) * 0.0441 * 1.001 + 1.0)
        << t;
  }
}

}  // namespace
