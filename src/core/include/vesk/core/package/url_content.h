// Resolution of vesk://<host>/<path> URLs to bytes: from the signed package
// <program dir>/package/<host>.qbun, or from the directory given by the
// switch <host>-package-dir.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

class CommandLine;

struct UrlParts {
  std::string scheme;
  std::string host;
  std::string path;  // from the first '/' after the host up to '?' or '#'
};

// Splits "scheme://host[:port]/path?query#fragment". False when there is no
// "scheme:" prefix.
bool SplitUrl(const std::string& url, UrlParts* parts);

// Body of a vesk:// URL; |bytes| is replaced only on success. Safe on any
// thread.
bool LoadUrlContent(const std::string& url, std::vector<uint8_t>* bytes);
// The same with an explicit program directory and command line.
bool LoadUrlContent(const std::string& url, const std::string& program_dir, const CommandLine& command_line,
                    std::vector<uint8_t>* bytes);

// Writes the body to <private dir><url path>.qbun.extracted, where the
// private dir is this user's directory inside the temporary directory
// (PrivateTempDirectory), and sets |path| to that file. False when the body
// cannot be loaded or written.
bool DumpUrlToTempFile(const std::string& url, std::string* path);
bool DumpUrlToTempFile(const std::string& url, const std::string& program_dir,
                       const CommandLine& command_line, const std::string& temp_dir, std::string* path);

}  // namespace vesk
