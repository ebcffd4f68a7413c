#pragma once
// Monitors on X11 and the conversion between root coordinates (y down from the
// root's top-left) and the host's (points, y up from the first screen's bottom).

#include <gdk/gdk.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/screens.h"

namespace platform::gtk {

// The monitors in the host's order: the primary first, then the others.
std::vector<GdkMonitor*> ordered_monitors();
// The RandR output id of a monitor: the one display-id scheme of the host.
std::uint32_t display_id_for_monitor(GdkMonitor* monitor);

// A root rectangle (top-left corner and size) in host coordinates and back.
Rect root_to_host(int x, int y, int w, int h);
// The root position of a host rectangle's top-left corner.
void host_top_left_to_root(const Rect& r, int& x, int& y);

class GtkScreens : public Screens {
 public:
  GtkScreens();
  std::vector<ScreenInfo> list() override;
  void set_change_callback(std::function<void()> cb) override { cb_ = std::move(cb); }
  void changed() {
    if (cb_) cb_();
  }

 private:
  std::function<void()> cb_;
  SignalConnection monitors_changed_;
};

}  // namespace platform::gtk
