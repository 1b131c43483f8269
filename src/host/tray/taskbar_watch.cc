#include "tray/taskbar_watch.h"

#include <gio/gio.h>

#include "browser/browser_host.h"
#include "tray/tray_icon.h"
#include "ui_app.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"
#include "vesk/core/tray/tray_data.h"

namespace vesk {
namespace {

tray::WatcherPresence& Presence() {
  static tray::WatcherPresence* presence = new tray::WatcherPresence;
  return *presence;
}

void OnWatcherAppeared(GDBusConnection*, const gchar*, const gchar* owner, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("taskbar watch: appeared", [&] {
    if (!Presence().OnAppeared()) return;
    VESK_LOG(INFO) << "The notification area appeared: " << owner;
    if (BrowserHost* host = UiApp::Get().main_window())
      host->OnTaskbarCreated();
    else
      VESK_LOG(INFO) << "Here is no browser to execute javascript function when task bar restart";
  });
}

void OnWatcherVanished(GDBusConnection*, const gchar*, gpointer) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("taskbar watch: vanished", [] {
    Presence().OnVanished();
    if (TrayIcon* icon = TrayIcon::Get()) icon->OnWatcherGone();
  });
}

}  // namespace

void StartTaskbarWatch() {
  VESK_REQUIRE_MAIN_THREAD();
  g_bus_watch_name(G_BUS_TYPE_SESSION, "org.kde.StatusNotifierWatcher", G_BUS_NAME_WATCHER_FLAGS_NONE,
                   OnWatcherAppeared, OnWatcherVanished, nullptr, nullptr);
}

}  // namespace vesk
