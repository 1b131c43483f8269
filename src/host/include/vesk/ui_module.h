/* The boundary between libframework.so and the user-interface module it
 * loads once it knows it is the running instance. Keeping GTK and WebKit in
 * that module means a second start never loads them: it hands its request
 * over and ends. Plain C so the two sides agree on nothing but this. */
#pragma once

#include <stdint.h>

#define VESK_UI_MODULE_VERSION 3
#define VESK_UI_MODULE_FILE "libvesk_ui.so"
#define VESK_UI_MODULE_ENTRY "VeskUiModuleGet"

extern "C" {

struct VeskUiSettings {
  uint32_t size;
  const char* cache_path;         /* empty: the engine's default */
  const char* user_agent;         /* empty: the engine's default */
  const char* local_storage_path; /* empty: the engine's default */
};

struct VeskUiCrossOriginEntry {
  const char* source_origin;
  const char* target_protocol;
  const char* target_domain;
  int allow_target_subdomains;
};

/* Every function catches what it throws. */
struct VeskUiModule {
  uint32_t version;
  /* The display, the IO worker, the engine's settings, the page channel and
   * the instance-message listener. False when the display cannot be used. */
  bool (*initialize)(const VeskUiSettings* settings);
  bool (*register_scheme_host)(const char* scheme, const char* host);
  /* False when a package is missing or damaged (the user has been told). */
  bool (*check_packages)(const char* const* names, int count);
  void (*set_cross_origin_entries)(const VeskUiCrossOriginEntry* entries, int count);
  /* Shows the application and returns when it has ended. */
  bool (*run)(const char* start_url);
  /* Ends what initialize started, without any window (an installer runs). */
  void (*shut_down)(void);
  /* The plugin allow-list, normalized ("*" for every frame); before run. */
  void (*set_plugin_origins)(const char* const* origins, int count);
};

typedef const VeskUiModule* (*VeskUiModuleGetFunction)(void);

}  // extern "C"
