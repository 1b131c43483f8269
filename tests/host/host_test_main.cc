// Runs host tests with GTK initialised on the display the runner provides,
// debug checks on, and a web context whose data lives in a temporary
// directory of its own.
#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>

#include "engine.h"
#include "vesk/core/logging.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "host tests need a display\n");
    return 1;
  }
  vesk::logging::SetDchecksEnabled(true);
  gchar* data_dir = g_dir_make_tmp("vesk-host-test-XXXXXX", nullptr);
  vesk::EngineSettings settings;
  settings.local_storage_path = std::string(data_dir) + "/data";
  settings.cache_path = std::string(data_dir) + "/cache";
  vesk::Engine::Get().Initialize(settings);
  const int result = RUN_ALL_TESTS();
  const std::string command = std::string("rm -rf '") + data_dir + "'";
  (void)std::system(command.c_str());
  g_free(data_dir);
  return result;
}
