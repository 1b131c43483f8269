// The framework's exported entry points and the start-up record the launcher
// fills. This header is all a launcher needs.
#pragma once

#include <cstdint>

extern "C" {

// Every pointer must stay valid until VeskRun returns (app_names is kept).
// Paths are in the file system's encoding (UTF-8 on every supported system).
struct VeskInitParams {
  uint32_t size;                   // sizeof(VeskInitParams); written, not read
  const char* user_agent;          // null: the engine's default
  const char* cache_path;          // null: the engine's default
  const char* local_storage_path;  // null: the engine's default
  const char* log_dir;             // null: empty directory text
  const char* start_url;           // required
  const char* const* app_names;    // hosts of vesk:// and package base names
  int32_t app_name_count;
};

__attribute__((visibility("default"))) bool VeskInitialize(const VeskInitParams* params);
__attribute__((visibility("default"))) bool VeskInstallCrossOriginWhiteList(const char* const* source_origins,
                                                                            int source_count,
                                                                            const char* const* target_origins,
                                                                            int target_count);
__attribute__((visibility("default"))) bool VeskRun();

}  // extern "C"

// C++ linkage on purpose: callers bind it by its decorated name.
__attribute__((visibility("default"))) bool VeskInstallPluginOriginWhiteList(char* const* origins, int count);
