// The upload hand-off: a Base64 path of a JSON file {"data": [paths...]}
// written by the file-manager extension, and the list of files waiting for
// the page's next file chooser.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// Upload request files larger than this are refused.
inline constexpr size_t kMaxUploadRequestBytes = 16 * 1024 * 1024;
// A request is an object holding an array of strings; deeper nesting is refused.
inline constexpr int kMaxUploadRequestJsonDepth = 64;

// Process-wide list; UI main thread only.
class PendingUploadFiles {
 public:
  static PendingUploadFiles& Get();
  void Append(std::string path) { files_.push_back(std::move(path)); }
  // Hands out every entry and empties the list.
  std::vector<std::string> TakeAll();
  const std::vector<std::string>& files() const { return files_; }

 private:
  std::vector<std::string> files_;
};

// Parses the request file's contents; true when the root is an object with
// an array "data".
bool ParseUploadRequest(std::string_view contents, std::vector<std::string>* out);

// Decodes |value|, reads the JSON file it names and appends each element of
// "data" (strings; null as an empty string; other types skipped) to |out|.
// True when the file was read and held an array "data". The file stays.
bool LoadUploadRequest(std::string_view value, std::vector<std::string>* out);
// Same, appending to PendingUploadFiles.
bool LoadUploadRequest(std::string_view value);

}  // namespace vesk
