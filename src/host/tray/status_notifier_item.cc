#include "tray/status_notifier_item.h"

#include <unistd.h>

#include <memory>

#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";

// No Menu property: hosts then send ContextMenu, and the page's own menu
// answers the right click.
constexpr char kIntrospection[] = R"xml(<node>
 <interface name="org.kde.StatusNotifierItem">
  <property name="Category" type="s" access="read"/>
  <property name="Id" type="s" access="read"/>
  <property name="Title" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="WindowId" type="i" access="read"/>
  <property name="IconName" type="s" access="read"/>
  <property name="IconPixmap" type="a(iiay)" access="read"/>
  <property name="IconThemePath" type="s" access="read"/>
  <property name="OverlayIconName" type="s" access="read"/>
  <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionIconName" type="s" access="read"/>
  <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
  <property name="AttentionMovieName" type="s" access="read"/>
  <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
  <property name="ItemIsMenu" type="b" access="read"/>
  <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
  <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
  <signal name="NewTitle"/>
  <signal name="NewIcon"/>
  <signal name="NewAttentionIcon"/>
  <signal name="NewOverlayIcon"/>
  <signal name="NewToolTip"/>
  <signal name="NewStatus"><arg name="status" type="s"/></signal>
 </interface>
</node>)xml";

GDBusInterfaceInfo* ItemInterfaceInfo() {
  // Parsed once; kept for the life of the process.
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return node ? g_dbus_node_info_lookup_interface(node, kItemInterface) : nullptr;
}

GVariant* Pixmaps(const StatusNotifierItem::Look& look) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  if (!look.argb.empty()) {
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, look.argb.data(), look.argb.size(), 1);
    g_variant_builder_add(&builder, "(ii@ay)", look.width, look.height, bytes);
  }
  return g_variant_builder_end(&builder);
}

GVariant* EmptyPixmaps() { return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0); }

std::string ItemBusName() { return "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1"; }

struct RegistrationCall {
  StatusNotifierItem* item;
  unsigned generation;
};

}  // namespace

StatusNotifierItem::StatusNotifierItem(ClickHandler on_click)
    : on_click_(std::move(on_click)), bus_name_(ItemBusName()) {}

void StatusNotifierItem::Show(Look look) {
  VESK_REQUIRE_MAIN_THREAD();
  look_ = std::move(look);
  if (owner_id_ == 0) {
    registration_ = Registration::kPending;
    owner_id_ = g_bus_own_name(G_BUS_TYPE_SESSION, bus_name_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                               OnBusAcquired, OnNameAcquired, OnNameLost, this, nullptr);
  } else if (name_owned_) {
    Register();
  }
}

bool StatusNotifierItem::Hide() {
  VESK_REQUIRE_MAIN_THREAD();
  const bool shown = owner_id_ != 0 && registration_ != Registration::kRefused;
  if (object_id_ && connection_) g_dbus_connection_unregister_object(connection_.get(), object_id_);
  object_id_ = 0;
  if (owner_id_) g_bus_unown_name(owner_id_);
  owner_id_ = 0;
  connection_.reset();
  name_owned_ = false;
  registration_ = Registration::kNone;
  ++generation_;
  return shown;
}

bool StatusNotifierItem::Update(Look look, bool icon_changed, bool tip_changed, std::string* error) {
  VESK_REQUIRE_MAIN_THREAD();
  look_ = std::move(look);
  if (registration_ == Registration::kRefused || registration_ == Registration::kNone) {
    *error = registration_ == Registration::kNone ? "the item is not on the bus" : refusal_;
    return false;
  }
  // Before the export the hosts have nothing to refresh: they read the
  // properties once the item registers.
  if (!object_id_) return true;
  if (icon_changed && !EmitSignal("NewIcon", nullptr, error)) return false;
  if (tip_changed && !EmitSignal("NewToolTip", nullptr, error)) return false;
  return true;
}

void StatusNotifierItem::OnWatcherGone() {
  if (registration_ != Registration::kAccepted && registration_ != Registration::kPending) return;
  ++generation_;
  registration_ = Registration::kRefused;
  refusal_ = std::string(kWatcherName) + " left the bus";
}

void StatusNotifierItem::Register() {
  if (!connection_) return;
  registration_ = Registration::kPending;
  // The call never starts a watcher by bus activation: no watcher running
  // is a desktop without a notification area.
  g_dbus_connection_call(connection_.get(), kWatcherName, kWatcherPath, kWatcherName,
                         "RegisterStatusNotifierItem", g_variant_new("(s)", bus_name_.c_str()), nullptr,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, OnRegistered,
                         new RegistrationCall{this, ++generation_});
}

void StatusNotifierItem::Refuse(const std::string& reason) {
  registration_ = Registration::kRefused;
  refusal_ = reason;
  VESK_LOG(INFO) << "The tray icon was not added: " << reason;
  const bool success = false;
  VESK_DCHECK_TEXT(success, "success");
}

bool StatusNotifierItem::EmitSignal(const char* name, GVariant* parameters, std::string* error) {
  g_autoptr(GError) failure = nullptr;
  if (g_dbus_connection_emit_signal(connection_.get(), nullptr, kItemPath, kItemInterface, name, parameters,
                                    &failure))
    return true;
  *error = failure ? failure->message : "the signal could not be sent";
  return false;
}

GVariant* StatusNotifierItem::Property(const char* name) const {
  const std::string property(name);
  if (property == "Category") return g_variant_new_string("ApplicationStatus");
  if (property == "Id") return g_variant_new_string(g_get_prgname() ? g_get_prgname() : "pelicard");
  if (property == "Title")
    return g_variant_new_string(g_get_application_name() ? g_get_application_name() : "");
  if (property == "Status") return g_variant_new_string("Active");
  if (property == "WindowId") return g_variant_new_int32(0);
  if (property == "IconPixmap") return Pixmaps(look_);
  if (property == "ToolTip")
    return g_variant_new("(s@a(iiay)ss)", "", EmptyPixmaps(), look_.tool_tip.c_str(), "");
  if (property == "ItemIsMenu") return g_variant_new_boolean(FALSE);
  if (property == "OverlayIconPixmap" || property == "AttentionIconPixmap") return EmptyPixmaps();
  return g_variant_new_string("");  // the icon names, theme path and movie
}

void StatusNotifierItem::OnBusAcquired(GDBusConnection* connection, const gchar*, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("StatusNotifierItem::OnBusAcquired", [&] {
    auto* self = static_cast<StatusNotifierItem*>(data);
    self->connection_ = ObjectRef<GDBusConnection>::Share(connection);
    static const GDBusInterfaceVTable vtable = {OnMethodCall, OnGetProperty, nullptr, {}};
    g_autoptr(GError) error = nullptr;
    self->object_id_ = g_dbus_connection_register_object(connection, kItemPath, ItemInterfaceInfo(), &vtable,
                                                         self, nullptr, &error);
    if (!self->object_id_) self->Refuse(error ? error->message : "the item could not be exported");
  });
}

void StatusNotifierItem::OnNameAcquired(GDBusConnection*, const gchar*, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("StatusNotifierItem::OnNameAcquired", [&] {
    auto* self = static_cast<StatusNotifierItem*>(data);
    self->name_owned_ = true;
    if (self->object_id_) self->Register();
  });
}

void StatusNotifierItem::OnNameLost(GDBusConnection* connection, const gchar* name, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("StatusNotifierItem::OnNameLost", [&] {
    auto* self = static_cast<StatusNotifierItem*>(data);
    self->name_owned_ = false;
    self->Refuse(connection ? std::string("the bus name ") + name + " is taken" : "no session bus");
  });
}

void StatusNotifierItem::OnRegistered(GObject* source, GAsyncResult* result, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  std::unique_ptr<RegistrationCall> call(static_cast<RegistrationCall*>(data));
  Guarded("StatusNotifierItem::OnRegistered", [&] {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    StatusNotifierItem* self = call->item;
    if (call->generation != self->generation_) return;  // hidden or registered again meanwhile
    if (reply) {
      self->registration_ = Registration::kAccepted;
      VESK_LOG(INFO) << "The tray icon was added as " << self->bus_name_;
    } else {
      self->Refuse(error ? error->message : "no answer");
    }
  });
}

void StatusNotifierItem::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                      const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                                      gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  const std::string name(method);
  // Answered at once: the page's handler runs later, in the page.
  g_dbus_method_invocation_return_value(invocation, nullptr);
  Guarded("StatusNotifierItem::OnMethodCall", [&] {
    auto* self = static_cast<StatusNotifierItem*>(data);
    if (name == "Activate")
      self->on_click_(true);
    else if (name == "ContextMenu" || name == "SecondaryActivate")
      self->on_click_(false);
  });
}

GVariant* StatusNotifierItem::OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                            const gchar* name, GError**, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  return Guarded(
      "StatusNotifierItem::OnGetProperty",
      [&] { return static_cast<const StatusNotifierItem*>(data)->Property(name); },
      static_cast<GVariant*>(nullptr));
}

}  // namespace vesk
