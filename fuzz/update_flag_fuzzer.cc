// Update flag contents and page-supplied update package names: whatever the
// bytes, every path that comes out lies inside the update directory, and
// nothing is ever written or removed (the flag reader only reads).
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "vesk/core/file_util.h"
#include "vesk/core/update/update_flags.h"
#include "vesk/core/update/update_location.h"

namespace {

// A program directory with an update directory holding a file, a
// subdirectory and links that lead in and out. Made once per process.
const std::string& ProgramDir() {
  static const std::string dir = [] {
    gchar* made = g_dir_make_tmp("vesk-fuzz-update-XXXXXX", nullptr);
    std::string path = made ? made : "/tmp";
    g_free(made);
    const std::string update = vesk::update::UpdateDirectory(path);
    vesk::CreateDirectoryRecursive(vesk::JoinPath(update, "sub"));
    vesk::WriteStringToFile(vesk::JoinPath(update, "a.qbun"), "a");
    vesk::WriteStringToFile(vesk::JoinPath(update, "sub/b.qbun"), "b");
    vesk::WriteStringToFile(vesk::JoinPath(path, "outside"), "o");
    (void)::symlink("../outside", vesk::JoinPath(update, "out").c_str());
    (void)::symlink("sub", vesk::JoinPath(update, "in").c_str());
    return path;
  }();
  return dir;
}

bool Inside(const std::string& path, const std::string& dir) {
  return path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string program_dir = ProgramDir();
  const std::string update = vesk::update::UpdateDirectory(program_dir);
  const std::string input(reinterpret_cast<const char*>(data), size);

  const auto resolved = vesk::update::ResolveUpdateEntry(update, input);
  if (resolved && (!Inside(*resolved, update) || resolved->find("/../") != std::string::npos)) std::abort();

  const std::string flag = vesk::JoinPath(update, "fuzz_flag");
  vesk::WriteStringToFile(flag, input);
  std::vector<std::string> paths;
  vesk::update::ReadValidPathFromFlagFile(program_dir, flag, &paths);
  for (const std::string& path : paths) {
    if (!Inside(path, update)) std::abort();
    char* real = ::realpath(path.c_str(), nullptr);
    char* real_update = ::realpath(update.c_str(), nullptr);
    const bool stays = real && real_update && Inside(real, real_update);
    std::free(real);
    std::free(real_update);
    if (!stays) std::abort();
  }
  return 0;
}
