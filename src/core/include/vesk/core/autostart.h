// The per-user "Run" key, backed by XDG autostart entries so the desktop
// session really starts the program: one file
// $XDG_CONFIG_HOME/autostart/<value name>.desktop per value, whose Exec line
// runs the stored command line. The command line itself is kept verbatim in
// the entry too, so reading the value gives back exactly what was written.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vesk {

// The file of a value name. Characters that cannot be part of a file name
// safely ("/", leading ".", control characters, "%") are percent-encoded,
// so no name can reach outside the autostart directory.
std::string AutostartEntryPath(const std::string& value_name);

// Quotes one argument for a desktop entry's Exec key.
std::string QuoteExecArgument(const std::string& argument);

// |arguments| is the command line split into arguments (program first);
// |command_line| is the text stored as the value.
bool WriteAutostartEntry(const std::string& value_name, const std::string& command_line,
                         const std::vector<std::string>& arguments);
bool DeleteAutostartEntry(const std::string& value_name);
bool HasAutostartEntry(const std::string& value_name);
std::optional<std::string> ReadAutostartCommandLine(const std::string& value_name);

}  // namespace vesk
