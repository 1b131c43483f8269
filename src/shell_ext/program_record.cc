#include "program_record.h"

#include <dlfcn.h>
#include <glib.h>

#include "vesk/core/file_util.h"

namespace vesk::shell_ext {
namespace {

constexpr char kGroup[] = "Program";
constexpr char kDirectoryKey[] = "Directory";
constexpr size_t kMaxRecordBytes = 64 * 1024;

void AddressInThisModule() {}

}  // namespace

std::optional<std::string> ReadProgramRecord(const std::string& record_path) {
  std::string contents;
  if (!ReadFileToString(record_path, &contents, kMaxRecordBytes)) return std::nullopt;
  return ParseProgramRecord(contents);
}

std::optional<std::string> ParseProgramRecord(std::string_view contents) {
  if (contents.size() > kMaxRecordBytes) return std::nullopt;
  g_autoptr(GKeyFile) file = g_key_file_new();
  if (!g_key_file_load_from_data(file, contents.data(), contents.size(), G_KEY_FILE_NONE, nullptr))
    return std::nullopt;
  g_autofree gchar* directory = g_key_file_get_string(file, kGroup, kDirectoryKey, nullptr);
  if (!directory || !g_path_is_absolute(directory)) return std::nullopt;
  return std::string(directory);
}

std::string ProgramRecordText(const std::string& program_dir) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  g_key_file_set_comment(file, nullptr, nullptr,
                         " Where the upload entry finds pelicard; written by pelicard_shell_ext_register.",
                         nullptr);
  g_key_file_set_string(file, kGroup, kDirectoryKey, program_dir.c_str());
  gsize length = 0;
  g_autofree gchar* data = g_key_file_to_data(file, &length, nullptr);
  return std::string(data, length);
}

std::string ProgramRecordPathBesideThisModule() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&AddressInThisModule), &info) || !info.dli_fname ||
      !g_path_is_absolute(info.dli_fname))
    return std::string();
  return JoinPath(DirName(info.dli_fname), kProgramRecordFileName);
}

}  // namespace vesk::shell_ext
