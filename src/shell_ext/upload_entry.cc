#include "upload_entry.h"

#include <gio/gio.h>

#include <algorithm>

#include "vesk/app_identity.h"
#include "vesk/core/base64.h"
#include "vesk/core/file_util.h"
#include "vesk/core/registry.h"
#include "vesk/core/upload_request_writer.h"

namespace vesk::shell_ext {
namespace {

constexpr int kNotifyTimeoutMs = 5000;

GVariant* NotifyArguments() {
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  // The failed start carries no message of its own: the summary is all.
  return g_variant_new("(susssasa{sv}i)", "pelicard", 0u, "dialog-error", "Error", "", &actions, &hints, -1);
}

}  // namespace

std::string ContextMenuKey() { return std::string(identity::kRegistryPath) + "\\ContextMenu"; }

std::string ContextMenuParamKey() { return std::string(identity::kRegistryPath) + "\\ContextMenuParam"; }

bool UploadEntryHidden() {
  const RegistryStore registry(RegistryStore::Scope::kCurrentUser);
  const auto disabled = registry.ReadDword(ContextMenuKey(), "Disabled");
  return disabled && *disabled != 0;
}

std::vector<std::string> ContextMenuParamWords() {
  const RegistryStore registry(RegistryStore::Scope::kCurrentUser);
  const auto text = registry.ReadString(ContextMenuParamKey(), "");
  return text ? SplitContextMenuParam(*text) : std::vector<std::string>();
}

std::vector<std::string> SplitContextMenuParam(std::string_view text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) ||
      g_utf8_strlen(text.data(), static_cast<gssize>(text.size())) >
          static_cast<glong>(kMaxContextMenuParamChars))
    return {};
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find_first_of(" \t", start), text.size());
    if (end > start) words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

std::vector<std::string> LauncherArgv(const std::string& program_dir, const std::string& request_path,
                                      const std::vector<std::string>& extra_words) {
  std::vector<std::string> argv{JoinPath(program_dir, identity::kAppName),
                                "--upload-extension=" + Base64Encode(request_path)};
  argv.insert(argv.end(), extra_words.begin(), extra_words.end());
  return argv;
}

bool ShowStartError(ErrorDisplay display) {
  g_autoptr(GError) error = nullptr;
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    g_printerr("pelicard: no session bus for the error notification: %s\n", error->message);
    return false;
  }
  if (display == ErrorDisplay::kAsync) {
    // No reply wanted: the file manager's main loop is never held up.
    g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", "Notify", NotifyArguments(), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, kNotifyTimeoutMs, nullptr, nullptr, nullptr);
    return true;
  }
  g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
      "Notify", NotifyArguments(), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kNotifyTimeoutMs, nullptr,
      &error);
  if (!reply) g_printerr("pelicard: the error notification failed: %s\n", error->message);
  return reply != nullptr;
}

UploadOutcome StartUpload(const std::string& program_dir, const std::vector<std::string>& paths,
                          ErrorDisplay display) {
  UploadOutcome outcome;
  const auto request = WriteUploadRequestFile(g_get_tmp_dir(), paths, "", &outcome.error);
  if (!request) return outcome;
  outcome.request_path = *request;

  if (program_dir.empty()) {
    outcome.error = "the program directory is not known";
  } else {
    const std::vector<std::string> argv = LauncherArgv(program_dir, *request, ContextMenuParamWords());
    std::vector<char*> raw;
    for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
    raw.push_back(nullptr);
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib starts the program through an
    // intermediate child it reaps itself: the launcher is detached and no
    // zombie is left in the caller, yet a failed exec is still reported.
    // The program keeps its own log, and must not hold the caller's output
    // open (a script reading pelicard-upload's output would never see its end).
    const auto flags =
        GSpawnFlags(G_SPAWN_STDIN_FROM_DEV_NULL | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
    g_autoptr(GError) error = nullptr;
    if (g_spawn_async(nullptr, raw.data(), nullptr, flags, nullptr, nullptr, nullptr, &error)) {
      outcome.kind = UploadOutcome::Kind::kStarted;
      return outcome;
    }
    outcome.error = error->message;
  }
  outcome.kind = UploadOutcome::Kind::kStartFailed;
  ShowStartError(display);
  return outcome;
}

}  // namespace vesk::shell_ext
