#include "vesk/core/registry.h"

#include <glib.h>

#include <cstdlib>
#include <memory>

#include "vesk/app_identity.h"
#include "vesk/core/file_util.h"

namespace vesk {
namespace {

constexpr size_t kMaxRegistryFileBytes = 4 * 1024 * 1024;

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

KeyFilePtr LoadKeyFile(const std::string& path) {
  KeyFilePtr file(g_key_file_new());
  std::string contents;
  if (ReadFileToString(path, &contents, kMaxRegistryFileBytes))
    g_key_file_load_from_data(file.get(), contents.data(), contents.size(), G_KEY_FILE_KEEP_COMMENTS,
                              nullptr);
  return file;
}

// Key file group and key names cannot hold '[', ']', '=' or line breaks;
// such names are simply not storable.
bool StorableName(std::string_view text) {
  return !text.empty() && text.find_first_of("[]=\n\r") == std::string_view::npos;
}

// A key's default (unnamed) value is stored under "@", as registry export
// files write it.
std::string StoredValueName(std::string_view name) { return name.empty() ? "@" : std::string(name); }

bool StorableValueName(std::string_view name) { return StorableName(StoredValueName(name)); }

}  // namespace

RegistryStore::RegistryStore(Scope scope, std::string file_path)
    : scope_(scope), file_path_(file_path.empty() ? DefaultPath(scope) : std::move(file_path)) {}

std::string RegistryStore::DefaultPath(Scope scope) {
  if (scope == Scope::kMachine) {
    // The first of $XDG_CONFIG_DIRS, /etc/xdg when unset.
    const gchar* const* dirs = g_get_system_config_dirs();
    const std::string base = dirs && dirs[0] ? dirs[0] : "/etc/xdg";
    return JoinPath(JoinPath(base, identity::kConfigName), "registry.ini");
  }
  return JoinPath(JoinPath(g_get_user_config_dir(), identity::kConfigName), "registry.ini");
}

std::optional<std::string> RegistryStore::ReadRaw(std::string_view key, std::string_view name) const {
  if (!StorableName(key) || !StorableValueName(name)) return std::nullopt;
  KeyFilePtr file = LoadKeyFile(file_path_);
  g_autofree gchar* value =
      g_key_file_get_string(file.get(), std::string(key).c_str(), StoredValueName(name).c_str(), nullptr);
  if (!value) return std::nullopt;
  return std::string(value);
}

bool RegistryStore::WriteRaw(std::string_view key, std::string_view name, const std::string& raw) {
  if (scope_ == Scope::kMachine || !StorableName(key) || !StorableValueName(name)) return false;
  if (!CreateDirectoryRecursive(DirName(file_path_))) return false;
  KeyFilePtr file = LoadKeyFile(file_path_);
  g_key_file_set_string(file.get(), std::string(key).c_str(), StoredValueName(name).c_str(), raw.c_str());
  gsize length = 0;
  g_autofree gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
  // Written to a temporary file and renamed, so a crash never leaves half a file.
  const bool ok = data && g_file_set_contents(file_path_.c_str(), data, static_cast<gssize>(length), nullptr);
  return ok;
}

std::optional<std::string> RegistryStore::ReadString(std::string_view key, std::string_view name) const {
  const auto raw = ReadRaw(key, name);
  if (!raw || raw->rfind("sz:", 0) != 0) return std::nullopt;
  return raw->substr(3);
}

std::optional<uint32_t> RegistryStore::ReadDword(std::string_view key, std::string_view name) const {
  const auto raw = ReadRaw(key, name);
  if (!raw || raw->rfind("dword:", 0) != 0) return std::nullopt;
  const std::string digits = raw->substr(6);
  char* end = nullptr;
  const unsigned long long value = std::strtoull(digits.c_str(), &end, 10);
  if (digits.empty() || *end != '\0' || value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool RegistryStore::WriteString(std::string_view key, std::string_view name, std::string_view value) {
  return WriteRaw(key, name, "sz:" + std::string(value));
}

bool RegistryStore::WriteDword(std::string_view key, std::string_view name, uint32_t value) {
  return WriteRaw(key, name, "dword:" + std::to_string(value));
}

bool RegistryStore::DeleteValue(std::string_view key, std::string_view name) {
  if (scope_ == Scope::kMachine || !StorableName(key) || !StorableValueName(name)) return false;
  KeyFilePtr file = LoadKeyFile(file_path_);
  if (!g_key_file_remove_key(file.get(), std::string(key).c_str(), StoredValueName(name).c_str(), nullptr))
    return false;
  gsize length = 0;
  g_autofree gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
  const bool ok = data && g_file_set_contents(file_path_.c_str(), data, static_cast<gssize>(length), nullptr);
  return ok;
}

}  // namespace vesk
