// A private temporary directory per test, removed afterwards.
#pragma once

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdlib>
#include <string>

#include "vesk/core/file_util.h"

namespace vesk::testing {

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

}  // namespace vesk::testing
