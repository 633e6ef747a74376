#include <gtest/gtest.h>

// Every test program runs on the headless backend unless a test installs another.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
