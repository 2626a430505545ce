// The baseline for window_bench: a GTK window of the tool's size holding only a WebKit view,
// with none of the tool's code. Return loads the address given as the first argument.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace {
const char* address = "about:blank";

gboolean on_key(GtkWidget*, GdkEventKey* event, gpointer view) {
  if (event->keyval == GDK_KEY_Return) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), address);
    return TRUE;
  }
  if (event->keyval == GDK_KEY_Escape) {
    gtk_main_quit();
    return TRUE;
  }
  return FALSE;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) address = argv[1];
  gtk_init(nullptr, nullptr);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "bare");
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, 661, 531);
  gtk_container_add(GTK_CONTAINER(window), fixed);
  GtkWidget* view = webkit_web_view_new();
  gtk_widget_set_size_request(view, 640, 448);
  gtk_fixed_put(GTK_FIXED(fixed), view, 8, 8);
  g_signal_connect(window, "key-press-event", G_CALLBACK(on_key), view);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
