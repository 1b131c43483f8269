// Helpers for tests that drive real GTK windows and WebKit views.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace vesk::testing {

// Runs the main context until |done| holds; false after |timeout_ms|. Tests
// wait for what they expect like this, never for a fixed time
// (docs/testing.md).
inline bool SpinUntil(const std::function<bool()>& done, int timeout_ms = 30000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

// A marker for checks that something did not happen: runs the main context
// until an idle callback queued now has run, so every idle callback queued
// before it (an answer a handler gives "later", say) has run too.
inline bool SpinPastQueuedIdles() {
  bool ran = false;
  g_idle_add(
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &ran);
  return SpinUntil([&] { return ran; });
}

// Handles everything the main context has pending now.
inline void DrainMainLoop() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Evaluates |script| in the view's main frame and returns its value as text.
inline std::optional<std::string> Evaluate(WebKitWebView* view, const std::string& script) {
  struct Result {
    bool done = false;
    std::optional<std::string> text;
  } result;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* object, GAsyncResult* async, gpointer data) {
        auto* out = static_cast<Result*>(data);
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), async, nullptr);
        if (value) {
          gchar* text = jsc_value_to_string(value);
          out->text = text ? text : "";
          g_free(text);
          g_object_unref(value);
        }
        out->done = true;
      },
      &result);
  SpinUntil([&] { return result.done; });
  return result.text;
}

inline bool WaitForLoad(WebKitWebView* view, int timeout_ms = 15000) {
  return SpinUntil([view] { return !webkit_web_view_is_loading(view) && webkit_web_view_get_uri(view); },
                   timeout_ms);
}

inline std::string DataUrl(const std::string& html) {
  gchar* escaped = g_uri_escape_string(html.c_str(), nullptr, TRUE);
  std::string url = std::string("data:text/html;charset=utf-8,") + escaped;
  g_free(escaped);
  return url;
}

inline Display* XDisplayOf(GtkWindow* window) {
  return GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
}

inline Window XWindowOf(GtkWindow* window) {
  return GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(window)));
}

// A 32-bit cardinal property of the window, as the X server holds it.
inline std::optional<unsigned long> CardinalProperty(GtkWindow* window, const char* name) {
  Display* display = XDisplayOf(window);
  XSync(display, False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, XWindowOf(window), XInternAtom(display, name, False), 0, 1, False,
                         XA_CARDINAL, &type, &format, &items, &after, &data) != Success ||
      !data || items == 0) {
    if (data) XFree(data);
    return std::nullopt;
  }
  const unsigned long value = *reinterpret_cast<unsigned long*>(data);
  XFree(data);
  return value;
}

// The geometry the X server reports for the window (root coordinates).
inline GdkRectangle ServerGeometry(GtkWindow* window) {
  Display* display = XDisplayOf(window);
  XSync(display, False);
  Window child = 0;
  int x = 0, y = 0;
  XWindowAttributes attributes{};
  XGetWindowAttributes(display, XWindowOf(window), &attributes);
  XTranslateCoordinates(display, XWindowOf(window), DefaultRootWindow(display), 0, 0, &x, &y, &child);
  return GdkRectangle{x, y, attributes.width, attributes.height};
}

}  // namespace vesk::testing
