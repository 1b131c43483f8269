// The one place where differences between WebKitGTK API versions are hidden.
#pragma once

#include <webkit2/webkit2.h>

namespace vesk::compat {

inline void SetSandboxEnabled(WebKitWebContext* context, bool enabled) {
#if WEBKIT_CHECK_VERSION(2, 26, 0)
  webkit_web_context_set_sandbox_enabled(context, enabled);
#else
  (void)context;
  (void)enabled;
#endif
}

inline WebKitWebsiteDataManager* NewDataManager(const char* base_data_dir, const char* base_cache_dir) {
  return webkit_website_data_manager_new("base-data-directory", base_data_dir, "base-cache-directory",
                                         base_cache_dir, nullptr);
}

}  // namespace vesk::compat
