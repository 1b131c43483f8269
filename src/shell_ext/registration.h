// Registering the upload entry with the file managers, and removing it.
//
// Per machine: Nautilus loads modules only from its extension directory, so
// a symbolic link to our module goes there, with the program-directory
// record beside it, and a link to our icon into the hicolor theme.
// Per user (Nautilus cannot load a module per user): entries that call
// pelicard-upload, each in its file manager's per-user directory: a Nautilus
// script, a Nemo action, a Dolphin service menu, plus the icon link.
//
// Both are idempotent: installing writes each file anew (atomically),
// uninstalling removes exactly our files and leaves directories.
#pragma once

#include <string>
#include <vector>

namespace vesk::shell_ext {

struct PlannedFile {
  enum class Kind { kLink, kFile };
  Kind kind;
  std::string path;      // where it lands
  std::string contents;  // the link's target, or the file's bytes
  unsigned mode = 0644;  // files only
};

// |program_dir| is where the program will run from; |destdir| (may be
// empty) is prefixed to every path written, as for a staged installation.
std::vector<PlannedFile> PlanMachineRegistration(const std::string& program_dir, const std::string& destdir);
// |data_dir| is the user's data directory ($XDG_DATA_HOME, ~/.local/share).
std::vector<PlannedFile> PlanUserRegistration(const std::string& program_dir, const std::string& data_dir);

// Each step is reported to |report| ("installed <path>", "removed <path>").
// A failed install removes what it had written and says why in |error|.
bool InstallFiles(const std::vector<PlannedFile>& plan, std::vector<std::string>* report, std::string* error);
bool UninstallFiles(const std::vector<PlannedFile>& plan, std::vector<std::string>* report,
                    std::string* error);

// Quoting for the command of a desktop entry's Exec key (before the key
// file's own escaping).
std::string QuoteDesktopExecArgument(const std::string& argument);

}  // namespace vesk::shell_ext
