/* The floor for start-up: the least a WebKitGTK program does to show one
 * page from a custom scheme. It serves the file named by argv[1] for every
 * vesk:// request, prints "LOADED <monotonic ms>" when the main frame has
 * finished loading, and quits. */
#include <gtk/gtk.h>
#include <time.h>
#include <webkit2/webkit2.h>

static gchar* page_bytes;
static gsize page_size;

static void serve(WebKitURISchemeRequest* request, gpointer unused) {
  (void)unused;
  GInputStream* stream = g_memory_input_stream_new_from_data(page_bytes, (gssize)page_size, NULL);
  webkit_uri_scheme_request_finish(request, stream, (gint64)page_size, "text/html");
  g_object_unref(stream);
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
  if (argc < 2 || !g_file_get_contents(argv[1], &page_bytes, &page_size, NULL)) {
    fprintf(stderr, "usage: minimal_webkit PAGE.html\n");
    return 2;
  }
  gtk_init(&argc, &argv);
  WebKitWebContext* context = webkit_web_context_get_default();
  webkit_web_context_register_uri_scheme(context, "vesk", serve, NULL, NULL);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 960, 640);
  GtkWidget* view = webkit_web_view_new();
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), NULL);
  gtk_container_add(GTK_CONTAINER(window), view);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), "vesk://vesk/res/app_init.html");
  gtk_main();
  return 0;
}
