// The audio-server suite's program. Run with --play it is the player under test instead (see
// Player.h), so the player is the same build as the suite.
#include <gtest/gtest.h>

#include "audioserver/Player.h"

int main(int argc, char** argv) {
  int status = 0;
  if (audioserver::RunPlayerIfAsked(argc, argv, status)) return status;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
