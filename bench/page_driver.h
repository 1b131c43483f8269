// Driving a real page from a benchmark: run the main loop until something
// holds, and evaluate script in the page. The loop blocks between events, so
// waiting adds no latency of its own to what is measured.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "browser/browser_host.h"
#include "browser/page_bridge.h"
#include "channel/channel_handlers.h"
#include "channel/channel_server.h"
#include "channel/page_messages.h"
#include "engine.h"
#include "ui_app.h"

namespace bench {

inline bool SpinUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, TRUE);
  }
  return true;
}

// The script's value as text, or "error: <message>".
inline std::string Evaluate(WebKitWebView* view, const std::string& script, int timeout_ms = 600000) {
  struct Result {
    bool done = false;
    std::string text;
  } result;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* object, GAsyncResult* async, gpointer data) {
        auto* out = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), async, &error);
        if (value) {
          gchar* text = jsc_value_to_string(value);
          out->text = text ? text : "";
          g_free(text);
          g_object_unref(value);
        } else {
          out->text = std::string("error: ") + (error ? error->message : "?");
          g_clear_error(&error);
        }
        out->done = true;
      },
      &result);
  SpinUntil([&] { return result.done; }, timeout_ms);
  return result.text;
}

struct BenchPage {
  WebKitWebView* view = nullptr;
  GtkWindow* window = nullptr;
  std::string data_dir;
};

// Opens the display, the engine with the web extension from |webext_dir|,
// the page channel, and one shown window with an empty page whose script
// objects are bound. |view| is null (with a message) when any of that fails.
inline BenchPage OpenBenchPage(int* argc, char*** argv, const char* webext_dir) {
  BenchPage page;
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(argc, argv)) {
    std::fprintf(stderr, "no display\n");
    return page;
  }
  gchar* data_dir = g_dir_make_tmp("vesk-bench-XXXXXX", nullptr);
  page.data_dir = data_dir ? data_dir : "";
  g_free(data_dir);
  vesk::EngineSettings settings;
  settings.local_storage_path = page.data_dir;
  vesk::Engine::Get().Initialize(settings);
  vesk::Engine::Get().set_web_extension_directory(webext_dir);
  // The bench page is a data: document, which only an every-frame list
  // gives the script objects.
  vesk::UiApp::Get().set_plugin_origins({"*"});
  vesk::ChannelServer::Get().Start(vesk::ServeChannelRequest, vesk::PublishedStateAnswers());
  vesk::PageBridge::Set(std::make_unique<vesk::WebPageBridge>());
  vesk::BrowserHost* host = vesk::BrowserHost::CreateBrowserHost(
      "data:text/html,<title>bench</title><p>bench</p>", {0, 0, 400, 300}, true, false);
  WebKitWebView* view = host->web_view();
  page.window = host->window();
  SpinUntil([view] { return !webkit_web_view_is_loading(view); }, 30000);
  if (Evaluate(view, "typeof window.winhelper") != "object") {
    std::fprintf(stderr, "the web extension did not load from %s\n", webext_dir);
    return page;
  }
  page.view = view;
  return page;
}

inline void CloseBenchPage(const BenchPage& page) {
  if (page.window) gtk_widget_destroy(GTK_WIDGET(page.window));
  if (!page.data_dir.empty()) {
    const std::string command = "rm -rf '" + page.data_dir + "'";
    (void)std::system(command.c_str());
  }
}

}  // namespace bench
