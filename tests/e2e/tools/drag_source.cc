// A drag source for the end-to-end drop tests: a window whose whole area starts
// a drag (left button) offering the given URIs as text/uri-list, or with --text
// only plain text. Prints "ready" once its window is on screen and "end" when a
// drag ends.
// usage: drag_source TITLE X Y WIDTH HEIGHT [--text TEXT | URI...]

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_uris;
std::string g_text;
bool g_text_only = false;

void say(const char* line) {
  std::puts(line);
  std::fflush(stdout);
}

void on_get(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint info, guint, gpointer) {
  if (info == 1) {
    std::vector<gchar*> uris;
    for (auto& u : g_uris) uris.push_back(const_cast<gchar*>(u.c_str()));
    uris.push_back(nullptr);
    gtk_selection_data_set_uris(data, uris.data());
  } else {
    gtk_selection_data_set_text(data, g_text.c_str(), -1);
  }
}

gboolean on_mapped(GtkWidget*, GdkEvent*, gpointer) {
  say("ready");
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 6) return 2;
  for (int i = 6; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--text") && i + 1 < argc) {
      g_text_only = true;
      g_text = argv[++i];
    } else {
      g_uris.push_back(argv[i]);
    }
  }
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(win), argv[1]);
  gtk_window_move(GTK_WINDOW(win), std::atoi(argv[2]), std::atoi(argv[3]));
  gtk_window_set_default_size(GTK_WINDOW(win), std::atoi(argv[4]), std::atoi(argv[5]));
  GtkWidget* box = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(win), box);
  GtkTargetEntry uri_target{const_cast<gchar*>("text/uri-list"), 0, 1};
  GtkTargetEntry text_target{const_cast<gchar*>("text/plain"), 0, 2};
  gtk_drag_source_set(box, GDK_BUTTON1_MASK, g_text_only ? &text_target : &uri_target, 1, GDK_ACTION_COPY);
  g_signal_connect(box, "drag-data-get", G_CALLBACK(on_get), nullptr);
  g_signal_connect(box, "drag-end", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, gpointer) { say("end"); }), nullptr);
  g_signal_connect(win, "map-event", G_CALLBACK(on_mapped), nullptr);
  g_signal_connect(win, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(win);
  gtk_main();
  return 0;
}
