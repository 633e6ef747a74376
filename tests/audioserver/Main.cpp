// The audio-server suite's program. Run with --play it is the player under test instead (see
// Player.h), so the player is the same build as the suite.
#include <gtest/gtest.h>

#include <string>

#include "audioserver/Player.h"

namespace {

// Cases on a server that passed; the reference's own tests need none and do not count.
int ServerCasesPassed(const ::testing::UnitTest& run) {
  int passed = 0;
  for (int i = 0; i < run.total_test_suite_count(); ++i) {
    const auto& suite = *run.GetTestSuite(i);
    if (std::string(suite.name()) == "Alignment") continue;
    passed += suite.successful_test_count();
  }
  return passed;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (audioserver::RunPlayerIfAsked(argc, argv, status)) return status;
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  // Nothing failed, and no case could run on a server: ctest counts that as skipped.
  const auto& run = *::testing::UnitTest::GetInstance();
  if (result == 0 && run.skipped_test_count() > 0 && ServerCasesPassed(run) == 0) return 77;
  return result;
}
