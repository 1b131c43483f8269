#include "vesk/core/upload_request_writer.h"

#include <fcntl.h>
#include <glib.h>
#include <json/json.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vesk/core/file_util.h"

namespace vesk {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

std::string UploadRequestText(const std::vector<std::string>& paths, std::string_view command) {
  Json::Value root(Json::objectValue);
  root["command"] = std::string(command);
  Json::Value& data = root["data"] = Json::Value(Json::arrayValue);
  for (const std::string& path : paths) data.append(path);
  // FastWriter: compact, keys sorted, one line feed at the end; the NUL
  // terminates the text for readers that expect a C string.
  Json::FastWriter writer;
  std::string text = writer.write(root);
  text.push_back('\0');
  return text;
}

std::optional<std::string> WriteUploadRequestFile(const std::string& directory,
                                                  const std::vector<std::string>& paths,
                                                  std::string_view command, std::string* error) {
  if (paths.empty()) {
    *error = "no file to upload";
    return std::nullopt;
  }
  for (const std::string& path : paths) {
    if (!g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr)) {
      g_autofree gchar* shown = g_strescape(path.c_str(), nullptr);
      *error = std::string("file name is not UTF-8: ") + shown;
      return std::nullopt;
    }
  }
  const std::string text = UploadRequestText(paths, command);
  std::string name =
      JoinPath(directory, std::string(kUploadRequestFilePrefix) + "XXXXXX" + kUploadRequestFileSuffix);
  // g_mkstemp_full replaces the last "XXXXXX" and creates the file with
  // O_CREAT | O_EXCL, so an existing file (or a planted link) is never used.
  const int fd = g_mkstemp_full(name.data(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create a request file in " + directory + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const bool written = WriteAll(fd, text);
  const int write_errno = errno;
  if (::close(fd) != 0 || !written) {
    ::unlink(name.c_str());
    *error = "cannot write " + name + ": " + std::strerror(written ? errno : write_errno);
    return std::nullopt;
  }
  return name;
}

}  // namespace vesk
