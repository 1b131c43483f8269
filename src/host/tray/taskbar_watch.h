// The desktop's notification area coming and going: the
// StatusNotifierWatcher's bus name. A watcher that appears after the start
// (a panel that restarted, or started after us) is the taskbar being
// created: the main window's page hears of it through app.onTaskbarRestart
// and installs its icon again; the host never re-adds it by itself.
#pragma once

namespace vesk {

// Starts watching; UI main thread, once.
void StartTaskbarWatch();

}  // namespace vesk
