// Unit tests run with debug checks on, whatever the build type: the checks
// only log, and several tests look for their lines.
#include <gtest/gtest.h>

#include "vesk/core/logging.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vesk::logging::SetDchecksEnabled(true);
  return RUN_ALL_TESTS();
}
