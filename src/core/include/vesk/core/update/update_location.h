// Where updates live: the "update" directory below the program directory,
// and the names a page or a flag file may use inside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::update {

inline constexpr char kUpdateFlagName[] = "vesk_update_flag";
inline constexpr char kCompleteFlagName[] = "vesk_complete_flag";
inline constexpr char kQbunFlagName[] = "vesk_update_qbun_flag";

// The one place that decides where downloaded updates and flag files go.
// Empty when |program_dir| is empty (the program directory is unknown).
std::string UpdateDirectory(std::string_view program_dir);

// The path of |name| inside |update_dir|, or nothing (with the reason in
// |why|) when the name could lead anywhere else: an empty name, a NUL
// character, text that is not UTF-8, an absolute path, a ".." component, a
// component or whole path beyond the system's limits, a name that is the
// directory itself, or a symbolic link on the way (existing ones only) that
// resolves outside the directory or nowhere. Subdirectories inside the
// directory, and links that stay inside it, are fine. The file itself need
// not exist.
std::optional<std::string> ResolveUpdateEntry(const std::string& update_dir, std::string_view name,
                                              std::string* why = nullptr);

}  // namespace vesk::update
