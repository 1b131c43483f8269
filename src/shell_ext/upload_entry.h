// The upload entry shared by the file-manager module and the pelicard-upload
// command: its texts, whether the page hid it, and the one path from a list
// of selected files to a started launcher.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::shell_ext {

inline constexpr char kMenuLabel[] = "上传文件到邮箱网盘";
inline constexpr char kMenuTip[] = "上传文件到凯斯卓邮箱网盘";
// A themed icon name; registration links our artwork into the hicolor theme.
inline constexpr char kIconName[] = "pelicard-upload";

// The keys "ContextMenu" and "ContextMenuParam" under the application's
// registry path (vesk/app_identity.h).
std::string ContextMenuKey();
std::string ContextMenuParamKey();
// Longer extra command-line texts are ignored.
inline constexpr size_t kMaxContextMenuParamChars = 255;

// Names in the program directory; the launcher is the application's
// executable (vesk/app_identity.h).
inline constexpr char kUploadCommandName[] = "pelicard-upload";
inline constexpr char kModuleFileName[] = "pelicard_shell_ext.so";
inline constexpr char kRegisterCommandName[] = "pelicard_shell_ext_register";
inline constexpr char kIconRelativePath[] = "icons/pelicard-upload.svg";

// True when the current user's "Disabled" value under ContextMenu is a
// non-zero number. Read anew on every call, so a change applies to the next
// menu; a missing value or one of another type counts as 0.
bool UploadEntryHidden();

// The current user's ContextMenuParam text split into words at spaces and
// tabs, nothing else (no quotes, no expansion: no shell sees it). Empty when
// the value is missing, not a string, not UTF-8 or longer than the limit.
std::vector<std::string> ContextMenuParamWords();
std::vector<std::string> SplitContextMenuParam(std::string_view text);

// <program_dir>/pelicard --upload-extension=<Base64 of request_path> words...
std::vector<std::string> LauncherArgv(const std::string& program_dir, const std::string& request_path,
                                      const std::vector<std::string>& extra_words);

// How a failed start is shown: the module must not block the file manager,
// the command must not end before the notification left.
enum class ErrorDisplay { kAsync, kSync };

struct UploadOutcome {
  enum class Kind { kStarted, kRequestFailed, kStartFailed };
  Kind kind = Kind::kRequestFailed;
  std::string request_path;  // set once the request file was written
  std::string error;         // why it failed, for logs and standard error
};

// Writes the request file for |paths| into the user's temporary directory
// and starts the launcher in |program_dir| with it, detached. A request that
// cannot be written leaves no file and is not shown to the user. A launcher
// that cannot be started (|program_dir| empty included) keeps the request
// file and shows the error notification.
UploadOutcome StartUpload(const std::string& program_dir, const std::vector<std::string>& paths,
                          ErrorDisplay display);

// The user-visible error of a failed start: a desktop notification with the
// summary "Error" (org.freedesktop.Notifications). False when no
// notification service took it.
bool ShowStartError(ErrorDisplay display);

}  // namespace vesk::shell_ext
