/* The floor for start-up: the least a WebKitGTK program does to show one
 * page from a custom scheme. It serves vesk://vesk/<path> from the directory
 * named by argv[1] (the same files the signed sample package holds), prints
 * "LOADED <monotonic ms>" when the main frame has finished loading, and
 * quits. */
#include <gtk/gtk.h>
#include <time.h>
#include <webkit2/webkit2.h>

static const gchar* site_dir;

static const char* mime_type(const char* path) {
  if (g_str_has_suffix(path, ".css")) return "text/css";
  if (g_str_has_suffix(path, ".js")) return "application/javascript";
  if (g_str_has_suffix(path, ".png")) return "image/png";
  if (g_str_has_suffix(path, ".svg")) return "image/svg+xml";
  return "text/html";
}

static void serve(WebKitURISchemeRequest* request, gpointer unused) {
  (void)unused;
  gchar* file = g_build_filename(site_dir, webkit_uri_scheme_request_get_path(request), NULL);
  gchar* bytes = NULL;
  gsize size = 0;
  if (!g_file_get_contents(file, &bytes, &size, NULL)) {
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not found");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
  } else {
    GInputStream* stream = g_memory_input_stream_new_from_data(bytes, (gssize)size, g_free);
    webkit_uri_scheme_request_finish(request, stream, (gint64)size, mime_type(file));
    g_object_unref(stream);
  }
  g_free(file);
}

static void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer unused) {
  (void)view;
  (void)unused;
  if (event != WEBKIT_LOAD_FINISHED) return;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  printf("LOADED %lld\n", (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
  fflush(stdout);
  gtk_main_quit();
}

int main(int argc, char** argv) {
  if (argc < 2 || !g_file_test(argv[1], G_FILE_TEST_IS_DIR)) {
    fprintf(stderr, "usage: minimal_webkit SITE_DIR\n");
    return 2;
  }
  site_dir = argv[1];
  gtk_init(&argc, &argv);
  WebKitWebContext* context = webkit_web_context_get_default();
  webkit_web_context_register_uri_scheme(context, "vesk", serve, NULL, NULL);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 960, 640);
  GtkWidget* view = webkit_web_view_new();
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), NULL);
  gtk_container_add(GTK_CONTAINER(window), view);
  /* Shown like the application's window, which its page shows while it loads. */
  gtk_widget_show_all(window);
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  printf("LOADING %lld\n", (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), "vesk://vesk/res/app_init.html");
  gtk_main();
  return 0;
}
