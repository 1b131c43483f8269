// Writing the upload hand-off file that LoadUploadRequest reads: what the
// file-manager entry and the pelicard-upload command leave for the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// File names are "Pel" + six random characters + ".tmp".
inline constexpr char kUploadRequestFilePrefix[] = "Pel";
inline constexpr char kUploadRequestFileSuffix[] = ".tmp";

// The file's bytes: compact JSON {"command":<command>,"data":[paths...]}
// (keys in ASCII order), a line feed and a NUL.
std::string UploadRequestText(const std::vector<std::string>& paths, std::string_view command);

// Creates a fresh request file in |directory| (exclusively, mode 0600) and
// writes the text into it. Fails, leaving no file behind, when there is no
// path, a path is not UTF-8 (JSON could not carry it unchanged), or the file
// cannot be created or written; |error| then says why. Returns the path.
std::optional<std::string> WriteUploadRequestFile(const std::string& directory,
                                                  const std::vector<std::string>& paths,
                                                  std::string_view command, std::string* error);

}  // namespace vesk
