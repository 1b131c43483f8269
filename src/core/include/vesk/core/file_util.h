#pragma once

#include <string>
#include <string_view>

namespace vesk {

// Reads a whole regular file. Fails when it cannot be read or is larger than
// |max_bytes|.
bool ReadFileToString(const std::string& path, std::string* contents, size_t max_bytes);
bool WriteStringToFile(const std::string& path, std::string_view contents);
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Full path of the running executable (/proc/self/exe).
std::string ExecutablePath();
// The executable's directory, without a trailing slash.
std::string ProgramDirectory();
std::string DirName(std::string_view path);
std::string JoinPath(std::string_view dir, std::string_view name);

// Creates |dir| and every missing ancestor, outermost first. When a level
// cannot be created it logs "I try my best to create directory <dir>, but I
// failed." with the system error and fails.
bool CreateDirectoryRecursive(const std::string& dir);

}  // namespace vesk
