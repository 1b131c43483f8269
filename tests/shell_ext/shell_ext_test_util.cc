#include "shell_ext_test_util.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "vesk/core/file_util.h"
#include "vesk/core/registry.h"

namespace vesk::shell_ext_test {
namespace {

TestEnvironment g_environment;
int g_directory_count = 0;

constexpr char kNotifyInterface[] =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method></interface></node>";

}  // namespace

const TestEnvironment& Environment() { return g_environment; }

void SetUpEnvironment() {
  // Not g_dir_make_tmp: GLib would fix its temporary directory before TMPDIR
  // is ours.
  const char* base = g_getenv("TMPDIR");
  std::string root = std::string(base && *base ? base : "/tmp") + "/vesk-shell-ext-XXXXXX";
  g_environment.root = ::mkdtemp(root.data()) ? root : std::string();
  g_environment.tmp_dir = JoinPath(g_environment.root, "tmp");
  g_environment.config_dir = JoinPath(g_environment.root, "config");
  CreateDirectoryRecursive(g_environment.tmp_dir);
  CreateDirectoryRecursive(g_environment.config_dir);
  g_setenv("TMPDIR", g_environment.tmp_dir.c_str(), TRUE);
  g_setenv("XDG_CONFIG_HOME", g_environment.config_dir.c_str(), TRUE);
}

std::string MakeDirectory(const std::string& name) {
  const std::string dir = JoinPath(g_environment.root, name + "-" + std::to_string(++g_directory_count));
  CreateDirectoryRecursive(dir);
  return dir;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveRegistry() { g_unlink(RegistryStore::DefaultPath(RegistryStore::Scope::kCurrentUser).c_str()); }

StandInProgram::StandInProgram() : dir_(MakeDirectory("program")), argv_file_(JoinPath(dir_, "argv")) {
  EXPECT_EQ(::symlink(VESK_TEST_STAND_IN_LAUNCHER, JoinPath(dir_, "pelicard").c_str()), 0);
  g_setenv("VESK_TEST_ARGV_FILE", argv_file_.c_str(), TRUE);
}

std::vector<std::string> StandInProgram::WaitForCommandLine() const {
  if (!WaitUntil([this] { return PathExists(argv_file_); })) return {};
  std::string contents;
  ReadFileToString(argv_file_, &contents, 1 << 20);
  std::vector<std::string> argv;
  size_t start = 0;
  for (size_t end; (end = contents.find('\0', start)) != std::string::npos; start = end + 1)
    argv.push_back(contents.substr(start, end - start));
  return argv;
}

bool WaitUntil(const std::function<bool()>& done) {
  const gint64 deadline = g_get_monotonic_time() + 30 * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(10000);
  }
  return true;
}

NotificationService::NotificationService() {
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus_) {
    ADD_FAILURE() << "no session bus";
    return;
  }
  g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(kNotifyInterface, nullptr);
  static const GDBusInterfaceVTable vtable = {OnMethodCall, nullptr, nullptr, {}};
  object_id_ = g_dbus_connection_register_object(bus_, "/org/freedesktop/Notifications", node->interfaces[0],
                                                 &vtable, this, nullptr, nullptr);
  owner_id_ = g_bus_own_name_on_connection(
      bus_, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer self) {
        static_cast<NotificationService*>(self)->acquired_ = true;
      },
      nullptr, this, nullptr);
  EXPECT_TRUE(WaitUntil([this] { return acquired_; })) << "the notification name was never acquired";
}

NotificationService::~NotificationService() {
  if (owner_id_) g_bus_unown_name(owner_id_);
  if (object_id_) g_dbus_connection_unregister_object(bus_, object_id_);
  if (bus_) g_object_unref(bus_);
}

void NotificationService::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                       const gchar*, GVariant* parameters, GDBusMethodInvocation* invocation,
                                       gpointer self) {
  auto* service = static_cast<NotificationService*>(self);
  const gchar* summary = nullptr;
  const gchar* body = nullptr;
  g_variant_get_child(parameters, 3, "&s", &summary);
  g_variant_get_child(parameters, 4, "&s", &body);
  service->summaries_.push_back(summary);
  service->bodies_.push_back(body);
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 1u));
}

}  // namespace vesk::shell_ext_test
