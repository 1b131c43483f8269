#include "vesk/core/autostart.h"

#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "vesk/core/file_util.h"

namespace vesk {
namespace {

constexpr char kGroup[] = "Desktop Entry";
constexpr char kCommandLineKey[] = "X-Vesk-CommandLine";

std::string EncodeName(const std::string& name) {
  std::string encoded;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool unsafe = c == '/' || c == '%' || c < 0x20 || c == 0x7F || (i == 0 && c == '.');
    if (unsafe) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    } else {
      encoded += static_cast<char>(c);
    }
  }
  return encoded.empty() ? std::string("%00") : encoded;
}

}  // namespace

std::string AutostartEntryPath(const std::string& value_name) {
  return JoinPath(JoinPath(g_get_user_config_dir(), "autostart"), EncodeName(value_name) + ".desktop");
}

std::string QuoteExecArgument(const std::string& argument) {
  // Inside double quotes, ", `, $ and \ are escaped with a backslash; a
  // literal % is written %% because Exec gives % a meaning of its own.
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

bool WriteAutostartEntry(const std::string& value_name, const std::string& command_line,
                         const std::vector<std::string>& arguments) {
  const std::string path = AutostartEntryPath(value_name);
  if (!CreateDirectoryRecursive(DirName(path))) return false;
  std::string exec;
  for (const std::string& argument : arguments) {
    if (!exec.empty()) exec += ' ';
    exec += QuoteExecArgument(argument);
  }
  g_autoptr(GKeyFile) file = g_key_file_new();
  g_key_file_set_string(file, kGroup, "Type", "Application");
  g_key_file_set_string(file, kGroup, "Name", value_name.c_str());
  g_key_file_set_string(file, kGroup, "Exec", exec.c_str());
  g_key_file_set_string(file, kGroup, "X-GNOME-Autostart-enabled", "true");
  g_key_file_set_string(file, kGroup, kCommandLineKey, command_line.c_str());
  gsize length = 0;
  g_autofree gchar* data = g_key_file_to_data(file, &length, nullptr);
  // Written to a temporary file and renamed: never half an entry.
  const bool ok = data && g_file_set_contents(path.c_str(), data, static_cast<gssize>(length), nullptr);
  return ok;
}

bool DeleteAutostartEntry(const std::string& value_name) {
  return ::unlink(AutostartEntryPath(value_name).c_str()) == 0;
}

bool HasAutostartEntry(const std::string& value_name) { return PathExists(AutostartEntryPath(value_name)); }

std::optional<std::string> ReadAutostartCommandLine(const std::string& value_name) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  if (!g_key_file_load_from_file(file, AutostartEntryPath(value_name).c_str(), G_KEY_FILE_NONE, nullptr))
    return std::nullopt;
  g_autofree gchar* value = g_key_file_get_string(file, kGroup, kCommandLineKey, nullptr);
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace vesk
