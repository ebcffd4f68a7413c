// A drop target for the end-to-end tests: a window that takes file drops. It prints
// lines on stdout: "ready" once its window is on screen, "over" when a drag that
// offers files first moves over it, and for each drop one line of JSON,
// {"uris":[...]}, with the URI list it got.
// usage: drop_target TITLE X Y WIDTH HEIGHT

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void say(const char* line) {
  std::puts(line);
  std::fflush(stdout);
}

gboolean on_motion(GtkWidget* w, GdkDragContext* ctx, int, int, guint time, gpointer) {
  if (gtk_drag_dest_find_target(w, ctx, nullptr) == GDK_NONE) {
    gdk_drag_status(ctx, GdkDragAction(0), time);
    return FALSE;
  }
  gdk_drag_status(ctx, GDK_ACTION_COPY, time);
  if (!g_object_get_data(G_OBJECT(ctx), "over")) {
    g_object_set_data(G_OBJECT(ctx), "over", ctx);
    say("over");
  }
  return TRUE;
}

void on_received(GtkWidget*, GdkDragContext*, int, int, GtkSelectionData* data, guint, guint, gpointer) {
  gchar** uris = gtk_selection_data_get_uris(data);
  std::string line = "{\"uris\":[";
  for (gchar** u = uris; u && *u; ++u) {
    if (u != uris) line += ',';
    // URIs escape quotes and backslashes themselves.
    line += '"';
    line += *u;
    line += '"';
  }
  line += "]}\n";
  g_strfreev(uris);
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  gdk_set_allowed_backends("x11");
  gtk_init(&argc, &argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: drop_target TITLE X Y WIDTH HEIGHT\n");
    return 64;
  }
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(win), argv[1]);
  gtk_window_move(GTK_WINDOW(win), std::atoi(argv[2]), std::atoi(argv[3]));
  gtk_window_set_default_size(GTK_WINDOW(win), std::atoi(argv[4]), std::atoi(argv[5]));
  // Motions are answered here, so the test learns when a drag has reached the window.
  gtk_drag_dest_set(win, GTK_DEST_DEFAULT_DROP, nullptr, 0, GDK_ACTION_COPY);
  gtk_drag_dest_add_uri_targets(win);
  g_signal_connect(win, "drag-motion", G_CALLBACK(on_motion), nullptr);
  g_signal_connect(win, "drag-data-received", G_CALLBACK(on_received), nullptr);
  g_signal_connect(win, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_signal_connect(win, "map-event", G_CALLBACK((+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                     say("ready");
                     return FALSE;
                   })),
                   nullptr);
  gtk_widget_show_all(win);
  gtk_main();
  return 0;
}
