// Both stages played by the scripted player in its human-like style: it sees each frame 200 ms
// late, decides at most every 200 ms and slips by up to two frames. A person must be able to
// clear both stages: over ten seeds (of the player's slips and of the game's dice) it clears
// each stage, and the second whichever of its blocks is real, at least eight times.
#include <cstdio>
#include <string>

#include "e2e/StageTrial.h"

namespace e2e {
namespace {

constexpr int kSeeds = 10;
constexpr int kWinsNeeded = 8;

int Wins(int stage, int real) {
  int wins = 0;
  for (int k = 0; k < kSeeds; ++k) {
    const PlayResult r = PlayTrial({stage, real, k, false, PlayerStyle::HumanLike(1000u + k)});
    Report("stage " + std::to_string(stage) +
               (real > 0 ? ", real block " + std::to_string(real) : "") + ", human-like seed " +
               std::to_string(k),
           r);
    wins += r.cleared;
  }
  std::printf("[ playtest ] stage %d%s: human-like player cleared %d of %d\n", stage,
              real > 0 ? (", real block " + std::to_string(real)).c_str() : "", wins, kSeeds);
  return wins;
}

TEST(HumanLikePlayer, ClearsTheFirstStage) { EXPECT_GE(Wins(1, 0), kWinsNeeded); }

class HumanLikeSecondStage : public testing::TestWithParam<int> {};

TEST_P(HumanLikeSecondStage, ClearsItWithThisBlockReal) {
  EXPECT_GE(Wins(2, GetParam()), kWinsNeeded);
}

INSTANTIATE_TEST_SUITE_P(RealBlock, HumanLikeSecondStage, testing::Values(1, 2, 3));

}  // namespace
}  // namespace e2e
