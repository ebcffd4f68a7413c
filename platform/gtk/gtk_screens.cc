// Screens on X11: GDK monitors, ordered primary first, named by RandR output id.

#include "platform/gtk/gtk_screens.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

GdkRectangle reference_geometry() {
  GdkRectangle r{0, 0, 0, 0};
  std::vector<GdkMonitor*> ms = ordered_monitors();
  if (!ms.empty()) gdk_monitor_get_geometry(ms[0], &r);
  return r;
}

}  // namespace

std::vector<GdkMonitor*> ordered_monitors() {
  std::vector<GdkMonitor*> order;
  GdkDisplay* d = gdk_display_get_default();
  if (!d) return order;
  GdkMonitor* primary = gdk_display_get_primary_monitor(d);
  if (primary) order.push_back(primary);
  for (int i = 0, n = gdk_display_get_n_monitors(d); i < n; ++i) {
    GdkMonitor* m = gdk_display_get_monitor(d, i);
    if (m && m != primary) order.push_back(m);
  }
  return order;
}

std::uint32_t display_id_for_monitor(GdkMonitor* monitor) {
  if (!monitor) return 0;
  GdkDisplay* d = gdk_monitor_get_display(monitor);
  int index = 0;
  for (int i = 0, n = gdk_display_get_n_monitors(d); i < n; ++i)
    if (gdk_display_get_monitor(d, i) == monitor) index = i;
  if (GDK_IS_X11_MONITOR(monitor)) {
    // The RandR output id: stable while the monitor is attached.
    XID output = gdk_x11_monitor_get_output(monitor);
    if (output) return static_cast<std::uint32_t>(output);
  }
  return static_cast<std::uint32_t>(index + 1);
}

Rect root_to_host(int x, int y, int w, int h) {
  GdkRectangle ref = reference_geometry();
  return {double(x - ref.x), double(ref.y + ref.height - (y + h)), double(w), double(h)};
}

void host_top_left_to_root(const Rect& r, int& x, int& y) {
  GdkRectangle ref = reference_geometry();
  // Positions beyond 16 bits cannot reach the X server (nor an int, from far enough).
  auto px = [](double v) { return int(std::lround(std::isfinite(v) ? std::clamp(v, -32768.0, 32767.0) : 0.0)); };
  x = px(r.x + ref.x);
  y = px(ref.y + ref.height - (r.y + r.h));
}

GtkScreens::GtkScreens() {
  // One signal for monitors added, removed, moved or resized.
  if (GdkScreen* screen = gdk_screen_get_default())
    monitors_changed_ = SignalConnection(screen, "monitors-changed", G_CALLBACK(+[](GtkScreens* s) { s->changed(); }),
                                         this, nullptr, G_CONNECT_SWAPPED);
}

std::vector<ScreenInfo> GtkScreens::list() {
  std::vector<ScreenInfo> out;
  for (GdkMonitor* m : ordered_monitors()) {
    GdkRectangle g, wa;
    gdk_monitor_get_geometry(m, &g);
    gdk_monitor_get_workarea(m, &wa);
    ScreenInfo s;
    s.display_id = display_id_for_monitor(m);
    s.frame = root_to_host(g.x, g.y, g.width, g.height);
    s.visible_frame = root_to_host(wa.x, wa.y, wa.width, wa.height);
    s.scale = gdk_monitor_get_scale_factor(m);
    out.push_back(s);
  }
  return out;
}

Screens& GtkPlatform::screens() {
  if (!screens_) screens_ = std::make_unique<GtkScreens>();
  return *screens_;
}

}  // namespace platform::gtk
