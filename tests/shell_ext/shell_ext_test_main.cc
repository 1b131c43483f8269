// The upload-entry tests run inside a private session bus
// (dbus-run-session) with their own temporary and configuration directories.
#include <gtest/gtest.h>

#include <filesystem>

#include "shell_ext_test_util.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vesk::shell_ext_test::SetUpEnvironment();
  const int result = RUN_ALL_TESTS();
  std::filesystem::remove_all(vesk::shell_ext_test::Environment().root);
  return result;
}
