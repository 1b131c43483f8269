// pelicard-upload FILE...: hands files to the program the way the file
// manager's entry does. Used by the per-user menu entries and by scripts.
// Exit codes: 0 started, 1 the request could not be written, 2 usage,
// 3 the program could not be started (the request file stays).
#include <glib.h>

#include <string>
#include <vector>

#include "upload_entry.h"
#include "vesk/core/file_util.h"
#include "vesk/core/guarded.h"

namespace {

int Run(int argc, char** argv) {
  // Every argument is a file, so a file named "-x" needs no "./"; a leading
  // "--" is skipped for callers used to it.
  int first = 1;
  if (first < argc && g_strcmp0(argv[first], "--") == 0) ++first;
  if (first >= argc || (argc == 2 && (g_strcmp0(argv[1], "--help") == 0 || g_strcmp0(argv[1], "-h") == 0))) {
    g_printerr("usage: %s FILE...\n", vesk::shell_ext::kUploadCommandName);
    return 2;
  }
  // File managers run their entries in the folder they show and may pass
  // names relative to it.
  g_autofree gchar* cwd = g_get_current_dir();
  std::vector<std::string> paths;
  for (int i = first; i < argc; ++i) {
    g_autofree gchar* absolute = g_canonicalize_filename(argv[i], cwd);
    paths.emplace_back(absolute);
  }
  using Kind = vesk::shell_ext::UploadOutcome::Kind;
  const auto outcome =
      vesk::shell_ext::StartUpload(vesk::ProgramDirectory(), paths, vesk::shell_ext::ErrorDisplay::kSync);
  if (outcome.kind == Kind::kStarted) return 0;
  g_printerr("%s: %s\n", vesk::shell_ext::kUploadCommandName, outcome.error.c_str());
  return outcome.kind == Kind::kRequestFailed ? 1 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  return vesk::Guarded(
      "pelicard-upload", [argc, argv] { return Run(argc, argv); }, 1);
}
