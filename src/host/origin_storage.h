// Reads values of another origin's local storage. The engine has no API for
// that, so it asks itself: a hidden web view of the program's web context
// (never in a window) loads an empty document whose base URI is the origin,
// so the document has that origin, and reads localStorage there. The
// document carries no script of the origin and markup scripts are off; the
// view lives in a web process of its own, so a page that waits for the
// answer never blocks the read. Requests are served one after another by
// one view kept for reuse. UI main thread only.
#pragma once

#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "vesk/core/object_ref.h"

namespace vesk {

class OriginStorage {
 public:
  using Done = std::function<void(std::optional<std::string>)>;

  static OriginStorage& Get();

  // |done| gets the stored string, or nothing for a missing key or an
  // origin that cannot be loaded.
  void Read(const std::string& origin, const std::string& key, Done done);
  // Drops the hidden view (at shutdown, before the context goes).
  void Shutdown();

 private:
  struct Pending {
    std::string origin;
    std::string key;
    Done done;
  };
  OriginStorage() = default;

  WebKitWebView* View();
  void StartNext();
  void Finish(std::optional<std::string> value);
  void ReadKey();

  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error,
                               gpointer self);
  static gboolean OnTimeout(gpointer self);

  ObjectRef<WebKitWebView> view_;
  std::deque<Pending> queue_;
  bool busy_ = false;
  bool load_failed_ = false;
  unsigned serial_ = 0;  // tells the current read's callbacks from stale ones
  guint timeout_ = 0;
};

}  // namespace vesk
