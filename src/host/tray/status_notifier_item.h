// The tray icon as the desktop sees it: a StatusNotifierItem exported on the
// session bus under a bus name of its own and registered with the
// StatusNotifierWatcher. Everything runs on the UI main thread and nothing
// waits for the bus: the name, the export and the registration complete in
// callbacks.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

#include "vesk/core/object_ref.h"

namespace vesk {

class StatusNotifierItem {
 public:
  // What the item shows: the tip, cut to its field, and the image as
  // network-order ARGB32 (empty: no image).
  struct Look {
    std::string tool_tip;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> argb;
  };
  // Left click (Activate) or right click (ContextMenu, SecondaryActivate).
  using ClickHandler = std::function<void(bool left)>;

  explicit StatusNotifierItem(ClickHandler on_click);
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  // Takes the bus name, exports the item and registers it with the watcher
  // (again, when it is already exported). The registration's answer
  // arrives later; a refusal is a debug check, as the page is not told.
  void Show(Look look);
  // Unexports the item and releases the name, so watchers drop it. False
  // when there was no item the desktop showed.
  bool Hide();
  // Changes what the item shows and tells the hosts. False, with the reason,
  // when the desktop does not show the item (no watcher, or it refused).
  bool Update(Look look, bool icon_changed, bool tip_changed, std::string* error);
  // The watcher left the bus: whatever it had registered is gone with it.
  void OnWatcherGone();

  const std::string& bus_name() const { return bus_name_; }

 private:
  enum class Registration { kNone, kPending, kAccepted, kRefused };

  void Register();
  void Refuse(const std::string& reason);
  bool EmitSignal(const char* name, GVariant* parameters, std::string* error);
  GVariant* Property(const char* name) const;

  static void OnBusAcquired(GDBusConnection* connection, const gchar* name, gpointer self);
  static void OnNameAcquired(GDBusConnection* connection, const gchar* name, gpointer self);
  static void OnNameLost(GDBusConnection* connection, const gchar* name, gpointer self);
  static void OnRegistered(GObject* source, GAsyncResult* result, gpointer data);
  static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar* name, GError**, gpointer self);

  const ClickHandler on_click_;
  const std::string bus_name_;
  Look look_;
  guint owner_id_ = 0;
  ObjectRef<GDBusConnection> connection_;
  guint object_id_ = 0;
  bool name_owned_ = false;
  Registration registration_ = Registration::kNone;
  std::string refusal_;
  // Tells apart the answers of earlier registrations.
  unsigned generation_ = 0;
};

}  // namespace vesk
