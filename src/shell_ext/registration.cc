#include "registration.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "program_record.h"
#include "upload_entry.h"
#include "vesk/core/file_util.h"

namespace vesk::shell_ext {
namespace {

constexpr char kIconThemeApps[] = "icons/hicolor/scalable/apps";
constexpr char kEntryFileName[] = "pelicard-upload";

std::string UploadCommandPath(const std::string& program_dir) {
  return JoinPath(program_dir, kUploadCommandName);
}

PlannedFile IconLink(const std::string& program_dir, const std::string& data_dir) {
  return {PlannedFile::Kind::kLink,
          JoinPath(JoinPath(data_dir, kIconThemeApps), std::string(kIconName) + ".svg"),
          JoinPath(program_dir, kIconRelativePath)};
}

std::string NautilusScript(const std::string& program_dir) {
  g_autofree gchar* quoted = g_shell_quote(UploadCommandPath(program_dir).c_str());
  return std::string("#!/bin/sh\n# The pelicard upload entry, written by ") + kRegisterCommandName +
         ".\nexec " + quoted + " \"$@\"\n";
}

std::string KeyFileText(GKeyFile* file) {
  gsize length = 0;
  g_autofree gchar* data = g_key_file_to_data(file, &length, nullptr);
  return std::string(data, length);
}

std::string NemoAction(const std::string& program_dir) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  constexpr char kGroup[] = "Nemo Action";
  g_key_file_set_string(file, kGroup, "Name", kMenuLabel);
  g_key_file_set_string(file, kGroup, "Comment", kMenuTip);
  // Nemo splits Exec as a shell would (no shell runs it).
  g_autofree gchar* quoted = g_shell_quote(UploadCommandPath(program_dir).c_str());
  g_key_file_set_string(file, kGroup, "Exec", (std::string(quoted) + " %F").c_str());
  g_key_file_set_string(file, kGroup, "Icon-Name", kIconName);
  g_key_file_set_string(file, kGroup, "Selection", "notnone");
  g_key_file_set_string(file, kGroup, "Extensions", "nodirs;");
  return KeyFileText(file);
}

std::string DolphinServiceMenu(const std::string& program_dir) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  constexpr char kEntry[] = "Desktop Entry";
  constexpr char kAction[] = "Desktop Action pelicardUpload";
  g_key_file_set_string(file, kEntry, "Type", "Service");
  g_key_file_set_string(file, kEntry, "MimeType", "all/allfiles;");
  g_key_file_set_string(file, kEntry, "X-KDE-ServiceTypes", "KonqPopupMenu/Plugin");
  g_key_file_set_string(file, kEntry, "Actions", "pelicardUpload;");
  g_key_file_set_string(file, kAction, "Name", kMenuLabel);
  g_key_file_set_string(file, kAction, "Icon", kIconName);
  g_key_file_set_string(file, kAction, "Exec",
                        (QuoteDesktopExecArgument(UploadCommandPath(program_dir)) + " %F").c_str());
  return KeyFileText(file);
}

bool WriteLink(const PlannedFile& file, std::string* error) {
  // A fresh link under a private name, renamed over the old one: the path
  // is never missing and never half made.
  const std::string temporary = file.path + ".new-" + std::to_string(getpid());
  ::unlink(temporary.c_str());
  if (::symlink(file.contents.c_str(), temporary.c_str()) != 0 ||
      ::rename(temporary.c_str(), file.path.c_str()) != 0) {
    *error = "cannot link " + file.path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool WriteFile(const PlannedFile& file, std::string* error) {
  g_autoptr(GError) failure = nullptr;
  if (g_file_set_contents_full(file.path.c_str(), file.contents.data(),
                               static_cast<gssize>(file.contents.size()), G_FILE_SET_CONTENTS_CONSISTENT,
                               static_cast<int>(file.mode), &failure))
    return true;
  *error = failure->message;
  return false;
}

}  // namespace

std::string QuoteDesktopExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

std::vector<PlannedFile> PlanMachineRegistration(const std::string& program_dir, const std::string& destdir) {
  const std::string extension_dir = destdir + VESK_NAUTILUS_EXTENSION_DIR;
  return {
      {PlannedFile::Kind::kLink, JoinPath(extension_dir, kModuleFileName),
       JoinPath(program_dir, kModuleFileName)},
      {PlannedFile::Kind::kFile, JoinPath(extension_dir, kProgramRecordFileName),
       ProgramRecordText(program_dir)},
      IconLink(program_dir, destdir + VESK_SYSTEM_DATA_DIR),
  };
}

std::vector<PlannedFile> PlanUserRegistration(const std::string& program_dir, const std::string& data_dir) {
  return {
      {PlannedFile::Kind::kFile, JoinPath(JoinPath(data_dir, "nautilus/scripts"), kMenuLabel),
       NautilusScript(program_dir), 0755},
      {PlannedFile::Kind::kFile,
       JoinPath(JoinPath(data_dir, "nemo/actions"), std::string(kEntryFileName) + ".nemo_action"),
       NemoAction(program_dir)},
      // Dolphin runs service menus only when they are executable.
      {PlannedFile::Kind::kFile,
       JoinPath(JoinPath(data_dir, "kio/servicemenus"), std::string(kEntryFileName) + ".desktop"),
       DolphinServiceMenu(program_dir), 0755},
      IconLink(program_dir, data_dir),
  };
}

bool InstallFiles(const std::vector<PlannedFile>& plan, std::vector<std::string>* report,
                  std::string* error) {
  for (const PlannedFile& file : plan) {
    bool written = CreateDirectoryRecursive(DirName(file.path));
    if (!written)
      *error = "cannot create " + DirName(file.path);
    else
      written = file.kind == PlannedFile::Kind::kLink ? WriteLink(file, error) : WriteFile(file, error);
    if (!written) {
      std::string ignored;
      UninstallFiles(plan, report, &ignored);
      return false;
    }
    report->push_back("installed " + file.path);
  }
  return true;
}

bool UninstallFiles(const std::vector<PlannedFile>& plan, std::vector<std::string>* report,
                    std::string* error) {
  bool all_removed = true;
  for (const PlannedFile& file : plan) {
    struct stat info {};
    if (::lstat(file.path.c_str(), &info) != 0) continue;
    if (::unlink(file.path.c_str()) != 0) {
      *error = "cannot remove " + file.path + ": " + std::strerror(errno);
      all_removed = false;
      continue;
    }
    report->push_back("removed " + file.path);
  }
  return all_removed;
}

}  // namespace vesk::shell_ext
