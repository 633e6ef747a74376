// Both stages played by the scripted player at its best, deciding on every frame as it is shown,
// and by a hero left alone. The best player clears both, whichever of the second boss's blocks
// is real; the idle hero runs out of gauge in both.
#include <string>

#include "e2e/StageTrial.h"

namespace e2e {
namespace {

TEST(ScriptedPlayer, ClearsTheFirstStage) {
  const PlayResult r = PlayTrial({1, 0});
  Report("stage 1, frame-perfect", r);
  EXPECT_TRUE(r.cleared);
  EXPECT_GT(r.bursts, 20);
}

// Which block is the real one is drawn at random when the stage starts. Only one of the blocks
// refills the gauge and all three drain it, so a stage that kept them out of reach for long
// lost the hero whichever it was.
TEST(ScriptedPlayer, ClearsTheSecondStageWhicheverBlockIsReal) {
  for (int real = 1; real <= 3; ++real) {
    SCOPED_TRACE(real);
    const PlayResult r = PlayTrial({2, real});
    Report("stage 2, frame-perfect, real block " + std::to_string(real), r, true);
    EXPECT_TRUE(r.cleared) << r.survivedMs;
  }
}

TEST(ScriptedPlayer, AHeroLeftAloneLosesBothStages) {
  for (int stage = 1; stage <= 2; ++stage) {
    SCOPED_TRACE(stage);
    const PlayResult r = PlayTrial({stage, stage == 2 ? 1 : 0, 0, true});
    Report("stage " + std::to_string(stage) + ", idle", r);
    EXPECT_FALSE(r.cleared);
    EXPECT_EQ(GameMode, 4);  // the continue screen
  }
}

}  // namespace
}  // namespace e2e
