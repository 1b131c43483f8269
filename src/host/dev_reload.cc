#include "dev_reload.h"

#include <filesystem>

#include "vesk/core/command_line.h"
#include "vesk/core/file_util.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

constexpr char kPackageDirSuffix[] = "-package-dir";
// An editor writes a file in several steps (temporary file, rename, attribute
// change): one reload after the burst, not one per step.
constexpr guint kQuietMilliseconds = 150;
// A page tree is small; a root pointed at a home directory by mistake must
// not exhaust the user's inotify watches.
constexpr size_t kMaxWatchedDirectories = 512;
constexpr int kMaxDepth = 16;

}  // namespace

DevReloadWatcher::DevReloadWatcher(std::function<void()> reload) : reload_(std::move(reload)) {}

DevReloadWatcher::~DevReloadWatcher() {
  if (pending_) g_source_remove(pending_);
  for (const auto& monitor : monitors_) {
    g_signal_handlers_disconnect_by_data(monitor.get(), this);
    g_file_monitor_cancel(monitor.get());
  }
}

std::vector<std::string> DevReloadWatcher::PageDirectoriesFromCommandLine() {
  std::vector<std::string> dirs;
  for (const auto& [name, value] : CommandLine::ForCurrentProcess().switches()) {
    if (name.size() > sizeof(kPackageDirSuffix) - 1 && name.ends_with(kPackageDirSuffix) && !value.empty())
      dirs.push_back(value);
  }
  return dirs;
}

void DevReloadWatcher::Watch(const std::vector<std::string>& roots) {
  for (const std::string& root : roots) {
    if (IsDirectory(root)) WatchTree(root, 0);
  }
  VESK_LOG(INFO) << "Development reload: watching " << monitors_.size() << " directories";
}

void DevReloadWatcher::WatchTree(const std::string& dir, int depth) {
  if (monitors_.size() >= kMaxWatchedDirectories) {
    VESK_LOG(WARNING) << "Development reload: more than " << kMaxWatchedDirectories
                      << " directories; not watching " << dir;
    return;
  }
  WatchDirectory(dir);
  if (depth >= kMaxDepth) return;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    // Links are not followed: a loop would never end.
    if (entry.is_directory(ec) && !entry.is_symlink(ec) && !entry.path().filename().string().starts_with("."))
      WatchTree(entry.path().string(), depth + 1);
  }
}

void DevReloadWatcher::WatchDirectory(const std::string& dir) {
  g_autoptr(GFile) file = g_file_new_for_path(dir.c_str());
  g_autoptr(GError) error = nullptr;
  ObjectRef<GFileMonitor> monitor(
      g_file_monitor_directory(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, &error));
  if (!monitor) {
    VESK_LOG(WARNING) << "Development reload: cannot watch " << dir << ": "
                      << (error ? error->message : "unknown error");
    return;
  }
  g_signal_connect(monitor.get(), "changed", G_CALLBACK(OnChanged), this);
  monitors_.push_back(std::move(monitor));
}

void DevReloadWatcher::OnChanged(GFileMonitor*, GFile* file, GFile*, GFileMonitorEvent event, gpointer self) {
  Guarded("DevReloadWatcher::OnChanged", [&] {
    auto* watcher = static_cast<DevReloadWatcher*>(self);
    if (event == G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED || event == G_FILE_MONITOR_EVENT_PRE_UNMOUNT ||
        event == G_FILE_MONITOR_EVENT_UNMOUNTED)
      return;
    g_autofree gchar* base = file ? g_file_get_basename(file) : nullptr;
    // Editors' swap and backup files are no change to the page.
    if (base && (base[0] == '.' || g_str_has_suffix(base, "~"))) return;
    g_autofree gchar* path = file ? g_file_get_path(file) : nullptr;
    if (event == G_FILE_MONITOR_EVENT_CREATED && path && IsDirectory(path)) watcher->WatchTree(path, 1);
    if (watcher->pending_) g_source_remove(watcher->pending_);
    watcher->pending_ = g_timeout_add(kQuietMilliseconds, OnQuiet, watcher);
  });
}

gboolean DevReloadWatcher::OnQuiet(gpointer self) {
  Guarded("DevReloadWatcher::OnQuiet", [&] {
    auto* watcher = static_cast<DevReloadWatcher*>(self);
    watcher->pending_ = 0;
    VESK_LOG(INFO) << "Development reload: a page file changed; reloading";
    if (watcher->reload_) watcher->reload_();
  });
  return G_SOURCE_REMOVE;
}

}  // namespace vesk
