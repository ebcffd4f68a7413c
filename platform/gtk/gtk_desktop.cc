// Windows, web views and screens on GTK 3, WebKitGTK 4.1 and X11.

#include <clocale>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <map>

#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

// ---- screens ---------------------------------------------------------------

class GtkScreens : public Screens {
 public:
  GtkScreens() {
    GdkDisplay* d = gdk_display_get_default();
    if (!d) return;
    g_signal_connect_swapped(d, "monitor-added", G_CALLBACK(+[](GtkScreens* s) { s->changed(); }), this);
    g_signal_connect_swapped(d, "monitor-removed", G_CALLBACK(+[](GtkScreens* s) { s->changed(); }), this);
  }
  std::vector<ScreenInfo> list() override;
  void set_change_callback(std::function<void()> cb) override { cb_ = std::move(cb); }
  void changed() {
    if (cb_) cb_();
  }

 private:
  std::function<void()> cb_;
};

std::vector<ScreenInfo> GtkScreens::list() {
  std::vector<ScreenInfo> out;
  GdkDisplay* d = gdk_display_get_default();
  if (!d) return out;
  int n = gdk_display_get_n_monitors(d);
  GdkMonitor* primary = gdk_display_get_primary_monitor(d);
  std::vector<GdkMonitor*> order;
  if (primary) order.push_back(primary);
  for (int i = 0; i < n; ++i) {
    GdkMonitor* m = gdk_display_get_monitor(d, i);
    if (m != primary) order.push_back(m);
  }
  if (order.empty()) return out;
  GdkRectangle ref;
  gdk_monitor_get_geometry(order[0], &ref);
  const double ref_bottom = ref.y + ref.height;
  GdkScreen* screen = gdk_display_get_default_screen(d);
  for (GdkMonitor* m : order) {
    GdkRectangle g, wa;
    gdk_monitor_get_geometry(m, &g);
    gdk_monitor_get_workarea(m, &wa);
    ScreenInfo s;
    int index = 0;
    for (int i = 0; i < n; ++i)
      if (gdk_display_get_monitor(d, i) == m) index = i;
    // The RandR output id: stable while the monitor is attached.
    s.display_id = GDK_IS_X11_SCREEN(screen)
                       ? static_cast<std::uint32_t>(gdk_x11_screen_get_monitor_output(screen, index))
                       : static_cast<std::uint32_t>(index + 1);
    s.frame = {double(g.x - ref.x), ref_bottom - (g.y + g.height), double(g.width), double(g.height)};
    s.visible_frame = {double(wa.x - ref.x), ref_bottom - (wa.y + wa.height), double(wa.width),
                       double(wa.height)};
    s.scale = gdk_monitor_get_scale_factor(m);
    out.push_back(s);
  }
  return out;
}

// ---- windows ---------------------------------------------------------------

class GtkNativeWindow : public NativeWindow {
 public:
  explicit GtkNativeWindow(const WindowParams& p) {
    win_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(win_);
    gtk_window_set_title(win_, p.title.c_str());
    gtk_window_set_default_size(win_, int(p.width), int(p.height));
    if (p.panel) {
      gtk_window_set_type_hint(win_, GDK_WINDOW_TYPE_HINT_UTILITY);
      gtk_window_set_focus_on_map(win_, FALSE);
    }
    g_signal_connect(win_, "delete-event", G_CALLBACK(&GtkNativeWindow::on_delete), this);
    g_signal_connect(win_, "destroy", G_CALLBACK(&GtkNativeWindow::on_destroy), this);
    g_signal_connect(win_, "configure-event", G_CALLBACK(&GtkNativeWindow::on_configure), this);
    g_signal_connect(win_, "window-state-event", G_CALLBACK(&GtkNativeWindow::on_state), this);
  }
  ~GtkNativeWindow() override {
    if (win_) {
      g_signal_handlers_disconnect_by_data(win_, this);
      if (!destroyed_) gtk_widget_destroy(GTK_WIDGET(win_));
      g_object_unref(win_);
    }
  }
  void set_events(WindowEvents e) override { events_ = std::move(e); }
  void set_title(const std::string& t) override { gtk_window_set_title(win_, t.c_str()); }
  std::string title() const override {
    const char* t = gtk_window_get_title(win_);
    return t ? t : "";
  }
  void set_content_size(double w, double h) override { gtk_window_resize(win_, int(w), int(h)); }
  Rect frame() const override {
    int x, y, w, h;
    gtk_window_get_position(win_, &x, &y);
    gtk_window_get_size(win_, &w, &h);
    return to_host(x, y, w, h);
  }
  void set_frame(const Rect& f) override {
    int x, y;
    from_host(f, x, y);
    gtk_window_move(win_, x, y);
    gtk_window_resize(win_, int(f.w), int(f.h));
  }
  void show() override { gtk_widget_show_all(GTK_WIDGET(win_)); }
  void hide() override { gtk_widget_hide(GTK_WIDGET(win_)); }
  bool visible() const override { return gtk_widget_get_visible(GTK_WIDGET(win_)); }
  void set_content(WebView* view) override {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(win_));
    if (child) gtk_container_remove(GTK_CONTAINER(win_), child);
    if (view) gtk_container_add(GTK_CONTAINER(win_), GTK_WIDGET(view->native_handle()));
  }
  void close() override {
    if (!destroyed_) gtk_widget_destroy(GTK_WIDGET(win_));
  }
  void* native_handle() override { return win_; }

 private:
  // Root coordinates (y down) to the host's (y up from the first screen's bottom).
  static Rect to_host(int x, int y, int w, int h) {
    GdkRectangle ref = reference();
    return {double(x - ref.x), double(ref.y + ref.height - (y + h)), double(w), double(h)};
  }
  static void from_host(const Rect& f, int& x, int& y) {
    GdkRectangle ref = reference();
    x = int(f.x) + ref.x;
    y = int(ref.y + ref.height - (f.y + f.h));
  }
  static GdkRectangle reference() {
    GdkRectangle r{0, 0, 0, 0};
    GdkDisplay* d = gdk_display_get_default();
    GdkMonitor* m = d ? gdk_display_get_primary_monitor(d) : nullptr;
    if (!m && d && gdk_display_get_n_monitors(d) > 0) m = gdk_display_get_monitor(d, 0);
    if (m) gdk_monitor_get_geometry(m, &r);
    return r;
  }
  static gboolean on_delete(GtkWidget*, GdkEvent*, GtkNativeWindow* self) {
    if (self->events_.on_close_request) {
      self->events_.on_close_request();
      return TRUE;  // the host decides
    }
    return FALSE;
  }
  static void on_destroy(GtkWidget*, GtkNativeWindow* self) {
    self->destroyed_ = true;
    if (self->events_.on_destroyed) self->events_.on_destroyed();
  }
  static gboolean on_configure(GtkWidget*, GdkEvent*, GtkNativeWindow* self) {
    if (self->events_.on_frame_changed) self->events_.on_frame_changed();
    return FALSE;
  }
  static gboolean on_state(GtkWidget*, GdkEvent*, GtkNativeWindow* self) {
    if (self->events_.on_state_changed) self->events_.on_state_changed();
    return FALSE;
  }

  GtkWindow* win_ = nullptr;
  bool destroyed_ = false;
  WindowEvents events_;
};

// ---- platform --------------------------------------------------------------

GtkPlatform::GtkPlatform() = default;
GtkPlatform::~GtkPlatform() = default;

bool GtkPlatform::init_display() {
  gdk_set_allowed_backends("x11");
  bool ok = gtk_init_check(nullptr, nullptr);
  // Numbers on the wire and in JSON are always read and written the C way.
  setlocale(LC_NUMERIC, "C");
  return ok;
}

Screens& GtkPlatform::screens() {
  if (!screens_) screens_ = std::make_unique<GtkScreens>();
  return *screens_;
}

std::unique_ptr<SerialQueue> GtkPlatform::make_serial_queue(const std::string& name) {
  return std::make_unique<GlibSerialQueue>(name.c_str());
}

std::unique_ptr<NativeWindow> GtkPlatform::make_window(const WindowParams& params) {
  return std::make_unique<GtkNativeWindow>(params);
}



}  // namespace platform::gtk
