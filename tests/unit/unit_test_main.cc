// Unit tests run with debug checks on, whatever the build type: the checks
// only log, and several tests look for their lines.
#include <gtest/gtest.h>

#include "vesk/core/logging.h"

namespace vesk::testing {
// Whether debug checks were on before main turned them on for the tests.
bool g_dchecks_on_at_start = false;
}  // namespace vesk::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vesk::testing::g_dchecks_on_at_start = vesk::logging::DchecksEnabled();
  vesk::logging::SetDchecksEnabled(true);
  return RUN_ALL_TESTS();
}
