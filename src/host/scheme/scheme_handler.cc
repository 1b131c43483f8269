#include "scheme/scheme_handler.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "io_thread.h"
#include "scheme/scheme_registry.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/object_ref.h"
#include "vesk/core/package/mime_types.h"
#include "vesk/core/package/url_content.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

constexpr char kScheme[] = "vesk";

std::atomic<bool> g_stopped{false};

// One request between the engine's callback and its answer. Created and
// destroyed on the main thread; the IO worker only fills |bytes| and |loaded|.
struct PendingLoad {
  ObjectRef<WebKitURISchemeRequest> request;
  GWeakRef view;  // the asking view; gone = cancelled
  bool had_view = false;
  std::string url;
  std::vector<uint8_t> bytes;
  bool loaded = false;
};

void DestroyPendingLoad(PendingLoad* load) {
  g_weak_ref_clear(&load->view);
  delete load;
}

void FinishWithStatus(WebKitURISchemeRequest* request, int status, const char* mime_type, GBytes* body) {
  g_autoptr(GInputStream) stream =
      body ? g_memory_input_stream_new_from_bytes(body) : g_memory_input_stream_new();
  const gint64 length = body ? static_cast<gint64>(g_bytes_get_size(body)) : 0;
  g_autoptr(WebKitURISchemeResponse) response = webkit_uri_scheme_response_new(stream, length);
  webkit_uri_scheme_response_set_status(response, status, nullptr);
  if (mime_type) {
    webkit_uri_scheme_response_set_content_type(response, mime_type);
    // Pages read the type through the response's headers (fetch, XHR); the
    // engine does not derive a header from the content type by itself.
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_replace(headers, "Content-Type", mime_type);
    webkit_uri_scheme_response_set_http_headers(response, headers);  // takes ownership
  }
  webkit_uri_scheme_request_finish_with_response(request, response);
}

void FreeVector(gpointer data) { delete static_cast<std::vector<uint8_t>*>(data); }

void Answer(PendingLoad* load) {
  if (!load->loaded) {
    FinishWithStatus(load->request.get(), 404, nullptr, nullptr);
    return;
  }
  UrlParts parts;
  SplitUrl(load->url, &parts);
  const char* mime_type = MimeTypeForExtension(ExtensionOfPath(parts.path));
  // The body moves into the stream without a copy.
  auto* body = new std::vector<uint8_t>(std::move(load->bytes));
  g_autoptr(GBytes) bytes = g_bytes_new_with_free_func(body->data(), body->size(), &FreeVector, body);
  FinishWithStatus(load->request.get(), 200, mime_type, bytes);
}

gboolean FinishOnMainThread(gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  auto* load = static_cast<PendingLoad*>(data);
  const std::string where = "Answering " + load->url;
  Guarded(where.c_str(), [load] {
    g_autoptr(GObject) view = static_cast<GObject*>(g_weak_ref_get(&load->view));
    // A request whose view is gone was cancelled by the engine; after
    // shutdown nothing is answered any more.
    if ((view || !load->had_view) && !g_stopped.load()) Answer(load);
  });
  DestroyPendingLoad(load);
  return G_SOURCE_REMOVE;
}

void LoadOnIoThread(PendingLoad* load) {
  load->loaded = Guarded(
      "Loading a vesk request",
      [load] { return !g_stopped.load() && LoadUrlContent(load->url, &load->bytes); }, false);
  g_idle_add_full(G_PRIORITY_DEFAULT, &FinishOnMainThread, load, nullptr);
}

}  // namespace

void HandleSchemeRequest(WebKitURISchemeRequest* request, gpointer /*user_data*/) {
  VESK_REQUIRE_MAIN_THREAD();
  Guarded("vesk request", [request] {
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    const std::string url = uri ? uri : "";
    UrlParts parts;
    if (g_stopped.load() || !SplitUrl(url, &parts) || !IsSchemeHostRegistered(kScheme, parts.host)) {
      VESK_VLOG(1) << "No vesk host for " << url;
      FinishWithStatus(request, 404, nullptr, nullptr);
      return;
    }
    auto* load = new PendingLoad;
    load->request = ObjectRef<WebKitURISchemeRequest>::Share(request);
    WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
    load->had_view = view != nullptr;
    g_weak_ref_init(&load->view, view);
    load->url = url;
    if (!IoThread().PostTask([load] { LoadOnIoThread(load); })) {
      FinishWithStatus(request, 404, nullptr, nullptr);
      DestroyPendingLoad(load);
    }
  });
}

void StopSchemeHandler() { g_stopped.store(true); }

}  // namespace vesk
