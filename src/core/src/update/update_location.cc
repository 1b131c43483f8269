#include "vesk/core/update/update_location.h"

#include <glib.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "vesk/core/file_util.h"

namespace vesk::update {
namespace {

bool Refuse(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

std::optional<std::string> Refused(std::string* why, const char* reason) {
  Refuse(why, reason);
  return std::nullopt;
}

// The components of a relative name, without "." and empty ones.
bool SplitName(std::string_view name, std::vector<std::string_view>* parts, std::string* why) {
  size_t start = 0;
  while (start <= name.size()) {
    const size_t slash = std::min(name.find('/', start), name.size());
    const std::string_view part = name.substr(start, slash - start);
    if (part == "..") return Refuse(why, "a \"..\" component");
    if (part.size() > NAME_MAX) return Refuse(why, "a component longer than the system allows");
    if (!part.empty() && part != ".") parts->push_back(part);
    start = slash + 1;
  }
  if (parts->empty()) return Refuse(why, "no file name");
  return true;
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

bool Inside(const std::string& path, const std::string& dir) {
  return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                         (dir == "/" || path[dir.size()] == '/'));
}

// Every existing symbolic link on the way must resolve inside |update_dir|.
// Links are resolved as they are now; the directory belongs to this user.
bool LinksStayInside(const std::string& update_dir, const std::vector<std::string_view>& parts,
                     std::string* why) {
  const std::string real_dir = RealPath(update_dir);
  if (real_dir.empty()) return true;  // no directory: nothing below it exists
  std::string prefix = update_dir;
  for (const std::string_view part : parts) {
    prefix = JoinPath(prefix, part);
    struct stat info {};
    if (::lstat(prefix.c_str(), &info) != 0) return true;  // the rest does not exist
    if (!S_ISLNK(info.st_mode)) continue;
    const std::string target = RealPath(prefix);
    if (target.empty()) return Refuse(why, "a symbolic link that leads nowhere");
    if (!Inside(target, real_dir)) return Refuse(why, "a symbolic link that leads outside");
  }
  return true;
}

}  // namespace

std::string UpdateDirectory(std::string_view program_dir) {
  return program_dir.empty() ? std::string() : JoinPath(program_dir, "update");
}

std::optional<std::string> ResolveUpdateEntry(const std::string& update_dir, std::string_view name,
                                              std::string* why) {
  if (update_dir.empty()) return Refused(why, "no update directory");
  if (name.empty()) return Refused(why, "an empty name");
  if (name.find('\0') != std::string_view::npos) return Refused(why, "a NUL character");
  if (!g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr))
    return Refused(why, "a name that is not UTF-8");
  if (name.front() == '/') return Refused(why, "an absolute path");
  std::vector<std::string_view> parts;
  if (!SplitName(name, &parts, why)) return std::nullopt;
  std::string path = update_dir;
  for (const std::string_view part : parts) path = JoinPath(path, part);
  if (path.size() >= PATH_MAX) return Refused(why, "a path longer than the system allows");
  if (!LinksStayInside(update_dir, parts, why)) return std::nullopt;
  return path;
}

}  // namespace vesk::update
