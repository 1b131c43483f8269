// A private temporary directory per test, removed afterwards.
#pragma once

#include <glib.h>
#include <glib/gstdio.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"

namespace vesk::testing {

// Polls |done| until it holds; false when |timeout| passed first. Tests wait
// for an event like this, never for a fixed time (docs/testing.md).
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class TempDir {
 public:
  TempDir() {
    gchar* path = g_dir_make_tmp("vesk-test-XXXXXX", nullptr);
    path_ = path ? path : "";
    g_free(path);
  }
  ~TempDir() {
    if (!path_.empty()) {
      const std::string command = "rm -rf '" + path_ + "'";
      (void)std::system(command.c_str());
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return JoinPath(path_, name); }

 private:
  std::string path_;
};

// Sends the log to a private file for the life of the object, so a test can
// look for the lines it expects.
class LogCapture {
 public:
  LogCapture() { logging::InitLogging(dir_.File("test.log")); }
  ~LogCapture() { logging::ShutdownLogging(); }
  std::string Text() const {
    std::string text;
    ReadFileToString(dir_.File("test.log"), &text, 4 << 20);
    return text;
  }

 private:
  TempDir dir_;
};

}  // namespace vesk::testing
