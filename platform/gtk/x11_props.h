#pragma once
// Reading X window properties (callers trap X errors: a window may go at any time).

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <optional>
#include <vector>

namespace platform::gtk {

inline Atom x11_atom(Display* dpy, const char* name) {
  return gdk_x11_get_xatom_by_name_for_display(gdk_x11_lookup_xdisplay(dpy), name);
}

// A property of 32-bit items (CARDINAL, WINDOW, ATOM); none when it is not set.
inline std::optional<std::vector<unsigned long>> x11_prop_items(Display* dpy, Window w, const char* name, Atom type) {
  Atom actual = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  const int rc = XGetWindowProperty(dpy, w, x11_atom(dpy, name), 0, 1 << 20, False, type, &actual, &format, &n,
                                    &after, &data);
  std::optional<std::vector<unsigned long>> out;
  if (rc == Success && actual == type && format == 32 && data) {
    // Xlib hands 32-bit items over as longs.
    const unsigned long* v = reinterpret_cast<const unsigned long*>(data);
    out.emplace(v, v + n);
  }
  if (data) XFree(data);
  return out;
}

}  // namespace platform::gtk
