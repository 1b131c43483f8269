#include "tray/balloon.h"

#include <gio/gio.h>

#include <memory>

#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

constexpr char kNotificationsName[] = "org.freedesktop.Notifications";
constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";

struct PendingBalloon {
  Balloon balloon;
  std::function<void(uint32_t)> on_shown;
};

void LogFailure(const GError* error) {
  VESK_LOG(WARNING) << "PopBallon Failed: " << (error ? error->message : "no answer");
}

GVariant* NotifyParameters(const Balloon& balloon) {
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  if (!balloon.has_sound)
    g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
  if (!balloon.image_path.empty()) {
    g_autofree gchar* uri = g_filename_to_uri(balloon.image_path.c_str(), nullptr, nullptr);
    if (uri) g_variant_builder_add(&hints, "{sv}", "image-path", g_variant_new_string(uri));
  }
  const char* app_name = g_get_application_name();
  return g_variant_new("(susssas@a{sv}i)", app_name ? app_name : "", balloon.replaces_id, "",
                       balloon.title.c_str(), balloon.text.c_str(), nullptr, g_variant_builder_end(&hints),
                       balloon.timeout_ms);
}

void OnNotified(GObject* source, GAsyncResult* result, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  std::unique_ptr<PendingBalloon> pending(static_cast<PendingBalloon*>(data));
  Guarded("ShowBalloon reply", [&] {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) return LogFailure(error);
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    pending->on_shown(id);
  });
}

void OnBus(GObject*, GAsyncResult* result, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  std::unique_ptr<PendingBalloon> pending(static_cast<PendingBalloon*>(data));
  Guarded("ShowBalloon bus", [&] {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GDBusConnection) bus = g_bus_get_finish(result, &error);
    if (!bus) return LogFailure(error);
    // Bus activation allowed: some desktops start their notification
    // server on the first notification.
    GVariant* parameters = NotifyParameters(pending->balloon);
    g_dbus_connection_call(bus, kNotificationsName, kNotificationsPath, kNotificationsName, "Notify",
                           parameters, G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, OnNotified,
                           pending.release());
  });
}

}  // namespace

void ShowBalloon(const Balloon& balloon, std::function<void(uint32_t id)> on_shown) {
  VESK_REQUIRE_MAIN_THREAD();
  g_bus_get(G_BUS_TYPE_SESSION, nullptr, OnBus, new PendingBalloon{balloon, std::move(on_shown)});
}

}  // namespace vesk
