// Update flag files in the update directory: written while a page runs,
// read at the next start. Content: UTF-8 names separated by '|', each
// naming a file inside the update directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk::update {

// Writes |content| to <update directory>/<flag_name>, creating the update
// directory when needed and replacing an existing flag. On failure the flag
// file is removed. A link in the flag's place is never written through.
bool WriteUpdateFlagFile(const std::string& program_dir, const std::string& flag_name,
                         std::string_view content);
// The installer to start at the next start; |installer_name| is written as
// it is.
bool SetUpdateFlag(const std::string& program_dir, std::string_view installer_name);
// The packages to install at the next start: every name gets ".qbun" unless
// it ends with it already (in any case), joined with '|' in list order.
bool SetQbunUpdateFlag(const std::string& program_dir, const std::vector<std::string>& names);
std::string JoinQbunNames(const std::vector<std::string>& names);

// Reads a flag and appends the path of every entry, in order, stopping at
// the first entry that names no regular file inside the update directory
// (that one is logged and makes the result false).
bool ReadValidPathFromFlagFile(const std::string& program_dir, const std::string& flag_path,
                               std::vector<std::string>* paths);
// True only when the flag yields exactly one path.
bool ReadOnePathFromFlagFile(const std::string& program_dir, const std::string& flag_path, std::string* path);

// Log text with control characters written as \xNN, so outside text cannot
// forge log lines.
std::string LogSafe(std::string_view text);

}  // namespace vesk::update
