// The played-frame count of callback-driven audio devices, on a made-up clock: devices that ask
// for blocks too fast, that fill two blocks at once, that are slow, and that run dry.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/backend/PlayClock.h"

namespace {

using backend::PlayClock;
using std::chrono::microseconds;

constexpr int kRate = 44100;
constexpr std::uint64_t kBlock = 512;
const PlayClock::Time kT0{};

PlayClock::Time At(std::int64_t us) { return kT0 + microseconds(us); }

// Frames a speaker playing since `startUs` has played by `us`.
std::uint64_t RealTime(std::int64_t startUs, std::int64_t us) {
  return us <= startUs ? 0 : std::uint64_t(us - startUs) * kRate / 1000000;
}

TEST(PlayClock, NothingIsPlayedBeforeTheFirstBlock) {
  PlayClock c(kRate);
  EXPECT_EQ(c.Played(At(5000)), 0u);
  c.Handed(kBlock, At(10000));
  EXPECT_EQ(c.Played(At(10000)), 0u);
  EXPECT_EQ(c.Played(At(9000)), 0u);  // a reading from before: nothing
  EXPECT_EQ(c.Played(At(20000)), RealTime(10000, 20000));
}

// A driver that sleeps 11 whole milliseconds between blocks of 11.6 ms takes its frames about
// 5% faster than a speaker plays them; the count follows the speaker.
TEST(PlayClock, ADeviceAskingTooFastIsFollowedInRealTime) {
  PlayClock c(kRate);
  const std::int64_t start = 1000;
  std::uint64_t handed = 0, last = 0;
  for (std::int64_t t = start; t < start + 3000000; t += 11100) {
    c.Handed(kBlock, At(t));
    handed += kBlock;
    for (std::int64_t q : {t, t + 3000, t + 9000}) {
      const std::uint64_t p = c.Played(At(q));
      ASSERT_LE(p, RealTime(start, q)) << "at " << q;
      ASSERT_GE(p + 2, RealTime(start, q)) << "at " << q;
      ASSERT_LE(p, handed);
      ASSERT_GE(p, last);
      last = p;
    }
  }
}

// Buffers filled two blocks ahead: the second block at the start is not being played yet.
TEST(PlayClock, BlocksFilledAheadAreNotCountedAsPlayed) {
  PlayClock c(kRate);
  c.Handed(kBlock, At(0));
  c.Handed(kBlock, At(50));
  EXPECT_EQ(c.Played(At(50)), RealTime(0, 50));
  for (int i = 1; i < 100; ++i) {
    const std::int64_t t = i * 11610;  // a block has left: room for another
    c.Handed(kBlock, At(t));
    ASSERT_LE(c.Played(At(t)), RealTime(0, t));
    ASSERT_LE(c.Played(At(t + 5000)), RealTime(0, t + 5000));
  }
}

// A device slower than its rate: the count follows its callbacks, not the wall clock.
TEST(PlayClock, ASlowDeviceIsFollowedByItsBlocks) {
  PlayClock c(kRate);
  std::uint64_t handed = 0;
  for (int i = 0; i < 200; ++i) {
    const std::int64_t t = i * 12500;
    c.Handed(kBlock, At(t));
    handed += kBlock;
    ASSERT_EQ(c.Played(At(t)), handed - kBlock);
  }
  EXPECT_LT(c.Played(At(200 * 12500)), RealTime(0, 200 * 12500));
}

// When the blocks stop, the speaker stops at the last frame handed over; it starts again with
// the next block, from that frame, in real time.
TEST(PlayClock, ADeviceThatRanDryGoesOnFromWhereItStopped) {
  PlayClock c(kRate);
  for (int i = 0; i < 10; ++i) c.Handed(kBlock, At(i * 11610));
  const std::uint64_t handed = 10 * kBlock;
  EXPECT_EQ(c.Played(At(500000)), handed);
  EXPECT_EQ(c.Played(At(900000)), handed);
  c.Handed(kBlock, At(1000000));
  EXPECT_EQ(c.Played(At(1000000)), handed);
  EXPECT_EQ(c.Played(At(1005000)), handed + RealTime(1000000, 1005000));
  // Blocks now come early again; the count does not jump to make up the gap.
  for (int i = 1; i < 50; ++i) {
    const std::int64_t t = 1000000 + i * 11000;
    c.Handed(kBlock, At(t));
    ASSERT_LE(c.Played(At(t)), handed + RealTime(1000000, t));
  }
}

}  // namespace
