// One test program for both builds: ctest runs it once with the native
// binary and once with kelvo.exe under Wine.
#include <gtest/gtest.h>

#include "runner.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!e2e::ParseTarget(argc, argv)) return 2;
  if (!e2e::StartTarget()) return 2;
  int result = RUN_ALL_TESTS();
  e2e::StopTarget();
  return result;
}
