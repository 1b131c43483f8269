// The development loop: with enable-dev-tools, a change to a file under a
// <host>-package-dir directory reloads the main window's page. Off without the
// switch; never used for packages, which change only through updates.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

#include "vesk/core/object_ref.h"

namespace vesk {

class DevReloadWatcher {
 public:
  // |reload| runs on the main loop, once per burst of changes.
  explicit DevReloadWatcher(std::function<void()> reload);
  ~DevReloadWatcher();
  DevReloadWatcher(const DevReloadWatcher&) = delete;
  DevReloadWatcher& operator=(const DevReloadWatcher&) = delete;

  // Watches every directory below each of |roots| (each root too); a missing
  // root is passed over. The number of watched directories is bounded.
  void Watch(const std::vector<std::string>& roots);
  size_t watched_directories() const { return monitors_.size(); }

  // The directories of the <host>-package-dir switches of this process.
  static std::vector<std::string> PageDirectoriesFromCommandLine();

 private:
  void WatchTree(const std::string& dir, int depth);
  void WatchDirectory(const std::string& dir);
  static void OnChanged(GFileMonitor* monitor, GFile* file, GFile* other, GFileMonitorEvent event,
                        gpointer self);
  static gboolean OnQuiet(gpointer self);

  std::function<void()> reload_;
  std::vector<ObjectRef<GFileMonitor>> monitors_;
  guint pending_ = 0;
};

}  // namespace vesk
