// The program-directory record. Nautilus loads modules only from its own
// extension directory, so the module cannot find the launcher beside itself;
// registration leaves this small key file next to the module instead:
//
//   <extension dir>/pelicard_shell_ext.ini
//   [Program]
//   Directory=/opt/pelicard
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::shell_ext {

inline constexpr char kProgramRecordFileName[] = "pelicard_shell_ext.ini";

// The recorded directory: an absolute path, or nothing when the record is
// missing, unreadable or malformed.
std::optional<std::string> ReadProgramRecord(const std::string& record_path);
std::optional<std::string> ParseProgramRecord(std::string_view contents);
// The record's text for |program_dir|.
std::string ProgramRecordText(const std::string& program_dir);

// The record beside the module that holds this code (the path it was loaded
// under, so a module linked into the extension directory reads the record
// there, not in the directory the link points to).
std::string ProgramRecordPathBesideThisModule();

}  // namespace vesk::shell_ext
