// Driving a real page from a benchmark: run the main loop until something
// holds, and evaluate script in the page. The loop blocks between events, so
// waiting adds no latency of its own to what is measured.
#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <string>

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

}  // namespace bench
