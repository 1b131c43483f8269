// A small registry of our own: key paths, value names and value types as on
// the original platform, kept in an INI-style file per scope.
//   current user: $XDG_CONFIG_HOME/<product>/registry.ini
//   (<product> is the application's configuration name, see app_identity.h)
//   machine-wide: <first of $XDG_CONFIG_DIRS, /etc/xdg>/<product>/registry.ini
//                 (read-only to us)
// Groups are key paths ("Software\Kestrow\NewPelicard\ContextMenu"), keys are
// value names, and each value is stored as "sz:<text>" or "dword:<number>".
// A key's default (unnamed) value is the name "" here and "@" in the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesk {

class RegistryStore {
 public:
  enum class Scope { kCurrentUser, kMachine };

  // |file_path| overrides the location (tests).
  explicit RegistryStore(Scope scope, std::string file_path = std::string());

  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const;
  std::optional<uint32_t> ReadDword(std::string_view key, std::string_view name) const;
  bool WriteString(std::string_view key, std::string_view name, std::string_view value);
  bool WriteDword(std::string_view key, std::string_view name, uint32_t value);
  bool DeleteValue(std::string_view key, std::string_view name);

  const std::string& file_path() const { return file_path_; }
  static std::string DefaultPath(Scope scope);

 private:
  std::optional<std::string> ReadRaw(std::string_view key, std::string_view name) const;
  bool WriteRaw(std::string_view key, std::string_view name, const std::string& raw);

  Scope scope_;
  std::string file_path_;
};

}  // namespace vesk
