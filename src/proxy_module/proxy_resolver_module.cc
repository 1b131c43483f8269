// A GIO proxy-resolver module, loaded into the engine's network process
// (GIO_EXTRA_MODULES) and chosen as its resolver (GIO_USE_PROXY_RESOLVER).
// GIO asks it once per new connection, with the connection's origin
// "scheme://host:port". It asks the UI process over the socket named in the
// environment, with the token it found there; the UI process answers with
// the proxy the page set or sends it to the system settings, which it asks
// through the resolver GIO would have chosen without us (the desktop's
// settings, the proxy environment variables, PAC). GLib only.
#include <errno.h>
#include <gio/gio.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "vesk/core/proxy/resolver_wire.h"

namespace {

namespace wire = vesk::proxy_wire;

// Saved by the UI process when the user had chosen a resolver of their own.
constexpr char kSavedChoiceVariable[] = "VESK_SAVED_GIO_USE_PROXY_RESOLVER";
// Generous: the UI process answers from a thread of its own, so only a
// stopped or gone process reaches it.
constexpr int kAnswerTimeoutMs = 10000;
constexpr size_t kMaxIdleConnections = 8;

// Connections to the UI process that are not in use; one per resolving
// thread at a time.
std::mutex idle_mutex;
std::vector<int> idle_connections;

int Connect() {
  const char* path = g_getenv(wire::kSocketVariable);
  if (!path || !*path) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return -1;
  std::strcpy(address.sun_path, path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int TakeConnection() {
  {
    std::lock_guard lock(idle_mutex);
    if (!idle_connections.empty()) {
      const int fd = idle_connections.back();
      idle_connections.pop_back();
      return fd;
    }
  }
  return Connect();
}

void GiveBack(int fd) {
  std::lock_guard lock(idle_mutex);
  if (idle_connections.size() < kMaxIdleConnections) {
    idle_connections.push_back(fd);
    return;
  }
  ::close(fd);
}

bool SendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

// One answer line without its line feed; false on timeout, error or a line
// that is too long. The UI process answers one line per request and sends
// nothing else, so whatever arrives belongs to this answer.
bool ReadLine(int fd, std::string* line) {
  line->clear();
  char buffer[512];
  while (line->size() < wire::kMaxLineBytes) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, kAnswerTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    line->append(buffer, static_cast<size_t>(got));
    const size_t end = line->find('\n');
    if (end != std::string::npos) {
      if (end + 1 != line->size()) return false;  // more than one answer: out of step
      line->resize(end);
      return true;
    }
  }
  return false;
}

// The UI process's answer to |request|, or empty when it could not be asked.
std::string Ask(const std::string& request) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    // An idle connection the UI process closed fails at once; a fresh one
    // is tried once more.
    const int fd = TakeConnection();
    if (fd < 0) return std::string();
    std::string answer;
    if (SendAll(fd, request) && ReadLine(fd, &answer)) {
      GiveBack(fd);
      return answer;
    }
    ::close(fd);
  }
  return std::string();
}

const char* Token() {
  const char* token = g_getenv(wire::kTokenVariable);
  return token ? token : "";
}

// The resolver GIO would have chosen without us: the user's own choice
// when they made one, else the supported one of highest priority.
GProxyResolver* SystemResolver() {
  static GProxyResolver* resolver = [] {
    GIOExtensionPoint* point = g_io_extension_point_lookup(G_PROXY_RESOLVER_EXTENSION_POINT_NAME);
    const char* chosen = g_getenv(kSavedChoiceVariable);
    GProxyResolver* found = nullptr;
    for (int pass = chosen && *chosen ? 0 : 1; pass < 2 && !found; ++pass) {
      for (GList* item = g_io_extension_point_get_extensions(point); item && !found; item = item->next) {
        GIOExtension* extension = static_cast<GIOExtension*>(item->data);
        const char* name = g_io_extension_get_name(extension);
        if (g_strcmp0(name, wire::kResolverName) == 0) continue;
        if (pass == 0 && g_strcmp0(name, chosen) != 0) continue;
        g_autoptr(GObject) made = G_OBJECT(g_object_new(g_io_extension_get_type(extension), nullptr));
        if (g_proxy_resolver_is_supported(G_PROXY_RESOLVER(made)))
          found = G_PROXY_RESOLVER(g_steal_pointer(&made));
      }
    }
    return found;
  }();
  return resolver;
}

gchar** DirectOnly() {
  gchar** result = g_new0(gchar*, 2);
  result[0] = g_strdup("direct://");
  return result;
}

gchar** Lookup(const gchar* uri, GCancellable* cancellable) {
  const std::string answer = Ask(wire::LookupLine(Token(), uri));
  constexpr std::string_view kProxy = "proxy ";
  if (answer.rfind(kProxy.data(), 0) == 0 && answer.size() > kProxy.size()) {
    gchar** result = g_new0(gchar*, 2);
    result[0] = g_strdup(answer.c_str() + kProxy.size());
    return result;
  }
  if (answer.empty()) g_warning("vesk proxy resolver: no answer from the application; system settings used");
  GProxyResolver* system = SystemResolver();
  if (!system) return DirectOnly();
  g_autoptr(GError) error = nullptr;
  gchar** proxies = g_proxy_resolver_lookup(system, uri, cancellable, &error);
  if (proxies) return proxies;
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return DirectOnly();
  // The engine decides alone (directly); the UI process logs the failure.
  Ask(wire::FailureLine(Token(), error ? error->code : -1, error ? error->message : "unknown error"));
  return DirectOnly();
}

}  // namespace

extern "C" {

typedef struct {
  GObject parent_instance;
} VeskProxyResolver;
typedef struct {
  GObjectClass parent_class;
} VeskProxyResolverClass;

static void vesk_proxy_resolver_iface_init(GProxyResolverInterface* iface);
static GType vesk_proxy_resolver_get_type(void);

G_DEFINE_DYNAMIC_TYPE_EXTENDED(VeskProxyResolver, vesk_proxy_resolver, G_TYPE_OBJECT, 0,
                               G_IMPLEMENT_INTERFACE_DYNAMIC(G_TYPE_PROXY_RESOLVER,
                                                             vesk_proxy_resolver_iface_init))

static void vesk_proxy_resolver_init(VeskProxyResolver*) {}
static void vesk_proxy_resolver_class_init(VeskProxyResolverClass*) {}
static void vesk_proxy_resolver_class_finalize(VeskProxyResolverClass*) {}

// Without the application's socket (a process that inherited the module by
// mistake) GIO takes the next resolver.
static gboolean vesk_proxy_resolver_is_supported(GProxyResolver*) {
  const char* path = g_getenv(wire::kSocketVariable);
  return path && *path && *Token();
}

static gchar** vesk_proxy_resolver_lookup(GProxyResolver*, const gchar* uri, GCancellable* cancellable,
                                          GError** error) {
  if (g_cancellable_set_error_if_cancelled(cancellable, error)) return nullptr;
  try {
    return Lookup(uri, cancellable);
  } catch (...) {
    return DirectOnly();
  }
}

static void LookupInThread(GTask* task, gpointer source, gpointer data, GCancellable* cancellable) {
  GError* error = nullptr;
  gchar** proxies = vesk_proxy_resolver_lookup(G_PROXY_RESOLVER(source), static_cast<const gchar*>(data),
                                               cancellable, &error);
  if (proxies)
    g_task_return_pointer(task, proxies, reinterpret_cast<GDestroyNotify>(g_strfreev));
  else
    g_task_return_error(task, error);
}

static void vesk_proxy_resolver_lookup_async(GProxyResolver* resolver, const gchar* uri,
                                             GCancellable* cancellable, GAsyncReadyCallback callback,
                                             gpointer user_data) {
  g_autoptr(GTask) task = g_task_new(resolver, cancellable, callback, user_data);
  g_task_set_source_tag(task, reinterpret_cast<gpointer>(vesk_proxy_resolver_lookup_async));
  g_task_set_task_data(task, g_strdup(uri), g_free);
  g_task_run_in_thread(task, LookupInThread);
}

static gchar** vesk_proxy_resolver_lookup_finish(GProxyResolver*, GAsyncResult* result, GError** error) {
  return static_cast<gchar**>(g_task_propagate_pointer(G_TASK(result), error));
}

static void vesk_proxy_resolver_iface_init(GProxyResolverInterface* iface) {
  iface->is_supported = vesk_proxy_resolver_is_supported;
  iface->lookup = vesk_proxy_resolver_lookup;
  iface->lookup_async = vesk_proxy_resolver_lookup_async;
  iface->lookup_finish = vesk_proxy_resolver_lookup_finish;
}

G_MODULE_EXPORT void g_io_module_load(GIOModule* module) {
  vesk_proxy_resolver_register_type(G_TYPE_MODULE(module));
  // Only chosen by name: below GIO's own fallback otherwise.
  g_io_extension_point_implement(G_PROXY_RESOLVER_EXTENSION_POINT_NAME, vesk_proxy_resolver_get_type(),
                                 wire::kResolverName, -1000);
  // Our statics (the connections) must outlive every use.
  g_type_module_use(G_TYPE_MODULE(module));
}

G_MODULE_EXPORT void g_io_module_unload(GIOModule*) {}

G_MODULE_EXPORT char** g_io_module_query(void) {
  char** points = g_new0(char*, 2);
  points[0] = g_strdup(G_PROXY_RESOLVER_EXTENSION_POINT_NAME);
  return points;
}

}  // extern "C"
