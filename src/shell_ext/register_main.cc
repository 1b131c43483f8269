// pelicard_shell_ext_register --install|--uninstall [--user] [--destdir=DIR]
// Registers the upload entry of the program this command belongs to (its
// own directory) with the file managers; see registration.h.
#include <glib.h>

#include <cstring>
#include <string>
#include <vector>

#include "registration.h"
#include "upload_entry.h"
#include "vesk/core/file_util.h"
#include "vesk/core/guarded.h"

namespace {

struct Options {
  bool install = false;
  bool uninstall = false;
  bool per_user = false;
  std::string destdir;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--install")
      options->install = true;
    else if (arg == "--uninstall")
      options->uninstall = true;
    else if (arg == "--user")
      options->per_user = true;
    else if (arg.rfind("--destdir=", 0) == 0 && g_path_is_absolute(arg.c_str() + 10))
      options->destdir = arg.substr(10);
    else
      return false;
  }
  while (options->destdir.size() > 1 && options->destdir.back() == '/') options->destdir.pop_back();
  return options->install != options->uninstall && !(options->per_user && !options->destdir.empty());
}

int Run(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    g_printerr("usage: %s --install|--uninstall [--user | --destdir=DIR]\n",
               vesk::shell_ext::kRegisterCommandName);
    return 2;
  }
  // The entries name the program where it will run: inside a staged tree
  // (--destdir) that is this directory without the staging prefix.
  const std::string here = vesk::ProgramDirectory();
  std::string program_dir = here;
  if (!options.destdir.empty() && here.rfind(options.destdir + "/", 0) == 0)
    program_dir = here.substr(options.destdir.size());

  const auto plan = options.per_user
                        ? vesk::shell_ext::PlanUserRegistration(program_dir, g_get_user_data_dir())
                        : vesk::shell_ext::PlanMachineRegistration(program_dir, options.destdir);
  const char* needed =
      options.per_user ? vesk::shell_ext::kUploadCommandName : vesk::shell_ext::kModuleFileName;
  if (options.install && !vesk::PathExists(vesk::JoinPath(here, needed))) {
    g_printerr("%s: %s is missing beside this command\n", vesk::shell_ext::kRegisterCommandName, needed);
    return 1;
  }
  std::vector<std::string> report;
  std::string error;
  const bool ok = options.install ? vesk::shell_ext::InstallFiles(plan, &report, &error)
                                  : vesk::shell_ext::UninstallFiles(plan, &report, &error);
  for (const std::string& line : report) g_print("%s\n", line.c_str());
  if (ok) return 0;
  g_printerr("%s: %s\n", vesk::shell_ext::kRegisterCommandName, error.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  return vesk::Guarded(
      "pelicard_shell_ext_register", [argc, argv] { return Run(argc, argv); }, 1);
}
