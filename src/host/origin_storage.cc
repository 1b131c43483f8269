#include "origin_storage.h"

#include <utility>

#include "engine.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/thread_check.h"

extern "C" GResource* vesk_scripts_get_resource(void);

namespace vesk {
namespace {

// A read that takes longer has lost its web process; the page gets
// undefined well before its own wait for the host ends.
constexpr guint kReadTimeoutMs = 8000;

std::string ReadScript() {
  static const std::string script = [] {
    g_autoptr(GBytes) bytes =
        g_resource_lookup_data(vesk_scripts_get_resource(), "/vesk/scripts/read_local_storage.js",
                               G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    gsize size = 0;
    const auto* data = bytes ? static_cast<const char*>(g_bytes_get_data(bytes, &size)) : nullptr;
    return data ? std::string(data, size) : std::string();
  }();
  return script;
}

// An origin the hidden document can take: an absolute URI with a host.
bool IsUsableOrigin(const std::string& origin) {
  g_autoptr(GUri) uri = g_uri_parse(origin.c_str(), G_URI_FLAGS_NONE, nullptr);
  return uri && g_uri_get_host(uri) && *g_uri_get_host(uri);
}

}  // namespace

OriginStorage& OriginStorage::Get() {
  static OriginStorage* storage = new OriginStorage;
  return *storage;
}

void OriginStorage::Read(const std::string& origin, const std::string& key, Done done) {
  VESK_REQUIRE_MAIN_THREAD();
  queue_.push_back({origin, key, std::move(done)});
  StartNext();
}

void OriginStorage::Shutdown() {
  VESK_REQUIRE_MAIN_THREAD();
  while (busy_ || !queue_.empty()) Finish(std::nullopt);
  if (view_.get()) g_signal_handlers_disconnect_by_data(view_.get(), this);
  view_.reset();
}

WebKitWebView* OriginStorage::View() {
  if (view_.get()) return view_.get();
  g_autoptr(WebKitSettings) settings = webkit_settings_new();
  // Scripts in markup never run; only the host's own read does.
  webkit_settings_set_enable_javascript_markup(settings, FALSE);
  webkit_settings_set_auto_load_images(settings, FALSE);
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", Engine::Get().context(),
                                            "settings", settings, nullptr));
  view_ = ObjectRef<WebKitWebView>(WEBKIT_WEB_VIEW(g_object_ref_sink(view)));
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view, "load-failed", G_CALLBACK(OnLoadFailed), this);
  return view;
}

void OriginStorage::StartNext() {
  if (busy_ || queue_.empty()) return;
  busy_ = true;
  load_failed_ = false;
  ++serial_;
  const Pending& next = queue_.front();
  if (!IsUsableOrigin(next.origin)) return Finish(std::nullopt);
  timeout_ = g_timeout_add(kReadTimeoutMs, OnTimeout, this);
  webkit_web_view_load_html(View(), "<html></html>", next.origin.c_str());
}

void OriginStorage::ReadKey() {
  GVariantDict arguments;
  g_variant_dict_init(&arguments, nullptr);
  g_variant_dict_insert(&arguments, "key", "s", queue_.front().key.c_str());
  const std::string script = ReadScript();
  webkit_web_view_call_async_javascript_function(
      view_.get(), script.c_str(), static_cast<gssize>(script.size()), g_variant_dict_end(&arguments),
      nullptr, nullptr, nullptr,
      [](GObject* view, GAsyncResult* result, gpointer serial) {
        VESK_REQUIRE_MAIN_THREAD();
        Guarded("local storage read", [&] {
          g_autoptr(GError) error = nullptr;
          g_autoptr(JSCValue) value =
              webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), result, &error);
          OriginStorage& self = Get();
          if (!self.busy_ || self.serial_ != GPOINTER_TO_UINT(serial)) return;  // timed out meanwhile
          if (error) VESK_LOG(WARNING) << "Reading another origin's local storage failed: " << error->message;
          if (value && jsc_value_is_string(value)) {
            g_autofree char* text = jsc_value_to_string(value);
            self.Finish(std::string(text));
          } else {
            self.Finish(std::nullopt);
          }
        });
      },
      GUINT_TO_POINTER(serial_));
}

void OriginStorage::Finish(std::optional<std::string> value) {
  if (timeout_) g_source_remove(timeout_);
  timeout_ = 0;
  busy_ = false;
  if (queue_.empty()) return;
  Done done = std::move(queue_.front().done);
  queue_.pop_front();
  done(std::move(value));
  StartNext();
}

void OriginStorage::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("hidden view load-changed", [&] {
    auto* storage = static_cast<OriginStorage*>(self);
    if (event != WEBKIT_LOAD_FINISHED || !storage->busy_) return;
    if (storage->load_failed_)
      storage->Finish(std::nullopt);
    else
      storage->ReadKey();
  });
}

gboolean OriginStorage::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                     gpointer self) {
  VESK_LOG(WARNING) << "Hidden storage view could not load " << (uri ? uri : "") << ": "
                    << (error ? error->message : "");
  static_cast<OriginStorage*>(self)->load_failed_ = true;
  return TRUE;
}

gboolean OriginStorage::OnTimeout(gpointer self) {
  Guarded("hidden view timeout", [&] {
    auto* storage = static_cast<OriginStorage*>(self);
    storage->timeout_ = 0;
    VESK_LOG(WARNING) << "Reading another origin's local storage timed out";
    // A view whose web process hangs is not used again.
    g_signal_handlers_disconnect_by_data(storage->view_.get(), storage);
    storage->view_.reset();
    storage->Finish(std::nullopt);
  });
  return G_SOURCE_REMOVE;
}

}  // namespace vesk
