// The process's tray icon: the state every page sees through
// app.getTrayIcon() (installed, icon URL, tool tip), the item on the bus and
// the balloons. Created by the first page that asks for it; its clicks go to
// that page's host window. UI main thread only; lives until the process
// ends.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>

#include "tray/status_notifier_item.h"
#include "vesk/core/channel/operations.h"

namespace vesk {

class TrayIcon {
 public:
  // The icon, or null before any page asked for it.
  static TrayIcon* Get();
  // The icon, made on first use for the host window of |page_id| (0: the
  // main window).
  static TrayIcon& GetOrCreate(guint64 page_id);

  bool installed() const { return installed_; }
  const std::string& icon() const { return icon_; }
  const std::string& tool_tip() const { return tool_tip_; }

  // installed_ follows the page's request whatever the desktop answers.
  void Install();
  void Uninstall();
  void SetIcon(const std::string& url);
  void SetToolTip(const std::string& text);
  // Shows a notification that replaces this icon's previous one.
  void PopBalloon(const channel::op::PopBalloon::Request& balloon);

  // The StatusNotifierWatcher left the bus.
  void OnWatcherGone() { item_.OnWatcherGone(); }

 private:
  explicit TrayIcon(guint64 page_id);

  // Builds what the item shows, loading the image from icon_ afresh.
  StatusNotifierItem::Look BuildLook() const;
  void Refresh(bool icon_changed, bool tip_changed);
  void OnClick(bool left);

  const guint64 page_id_;
  bool installed_ = false;
  std::string icon_;
  std::string tool_tip_;
  StatusNotifierItem item_;
  uint32_t last_balloon_id_ = 0;
};

}  // namespace vesk
