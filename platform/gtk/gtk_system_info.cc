// System information from the X server and GDK: other clients' windows from the
// window manager's lists (_NET_CLIENT_LIST, _NET_CLIENT_LIST_STACKING,
// _NET_ACTIVE_WINDOW), input idle time from the screen-saver extension, the
// selected text from the PRIMARY selection, the pointer from GDK and the screens'
// names from their EDID. Every X request is trapped: other clients' windows can
// go away at any moment.

#include "platform/gtk/gtk_system_info.h"
#include "platform/gtk/x11_props.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/scrnsaver.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <type_traits>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_screens.h"

namespace platform::gtk {

namespace {

// ---- X11 access ---------------------------------------------------------------

GdkDisplay* gdk_x11() {
  GdkDisplay* d = gdk_display_get_default();
  return d && GDK_IS_X11_DISPLAY(d) ? d : nullptr;
}

// Runs fn with the X display and root window inside an error trap; fallback
// without an X display.
template <class F, class R = std::invoke_result_t<F, Display*, Window>>
R with_x(F fn, R fallback = R()) {
  GdkDisplay* d = gdk_x11();
  if (!d) return fallback;
  Display* dpy = GDK_DISPLAY_XDISPLAY(d);
  gdk_x11_display_error_trap_push(d);
  R r = fn(dpy, DefaultRootWindow(dpy));
  gdk_x11_display_error_trap_pop_ignored(d);
  return r;
}

Atom atom(Display* dpy, const char* name) { return x11_atom(dpy, name); }

std::optional<std::vector<unsigned long>> prop_items(Display* dpy, Window w, const char* name, Atom type) {
  return x11_prop_items(dpy, w, name, type);
}

std::optional<std::string> prop_text(Display* dpy, Window w, const char* name, const char* type = "UTF8_STRING") {
  Atom actual = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  const int rc = XGetWindowProperty(dpy, w, atom(dpy, name), 0, 1 << 16, False, atom(dpy, type), &actual, &format,
                                    &n, &after, &data);
  std::optional<std::string> out;
  if (rc == Success && actual == atom(dpy, type) && format == 8 && data) out.emplace(reinterpret_cast<char*>(data), n);
  if (data) XFree(data);
  return out;
}

// The title a window manager shows: _NET_WM_NAME, else WM_NAME in the text's own encoding.
std::string window_title(Display* dpy, Window w) {
  if (auto t = prop_text(dpy, w, "_NET_WM_NAME")) return *t;
  std::string out;
  XTextProperty tp{};
  if (XGetWMName(dpy, w, &tp) && tp.value) {
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(dpy, &tp, &list, &count) >= Success && list && count > 0) out = list[0];
    if (list) XFreeStringList(list);
    XFree(tp.value);
  }
  return out;
}

long window_pid(Display* dpy, Window w) {
  auto v = prop_items(dpy, w, "_NET_WM_PID", XA_CARDINAL);
  return v && !v->empty() ? long((*v)[0]) : 0;
}

std::vector<std::string> atom_names(Display* dpy, Window w, const char* name) {
  std::vector<std::string> out;
  if (auto v = prop_items(dpy, w, name, XA_ATOM))
    for (unsigned long a : *v) {
      const char* n = gdk_x11_get_xatom_name_for_display(gdk_x11_lookup_xdisplay(dpy), Atom(a));
      out.push_back(n ? n : "");
    }
  return out;
}

bool has(const std::vector<std::string>& v, const char* s) { return std::find(v.begin(), v.end(), s) != v.end(); }

std::string process_name(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

AppIdentity identity(Display* dpy, Window w) {
  AppIdentity app;
  app.pid = window_pid(dpy, w);
  XClassHint hint{};
  if (XGetClassHint(dpy, w, &hint)) {
    if (hint.res_class && *hint.res_class) app.name = hint.res_class;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
  }
  if (!app.name && app.pid > 0)
    if (std::string n = process_name(app.pid); !n.empty()) app.name = n;
  app.bundle_id = prop_text(dpy, w, "_GTK_APPLICATION_ID");
  if (!app.bundle_id) app.bundle_id = prop_text(dpy, w, "_KDE_NET_WM_DESKTOP_FILE");
  return app;
}

// Root pixels to GDK's points (GDK 3 uses one scale for every monitor on X11).
int root_scale() {
  GdkWindow* root = gdk_get_default_root_window();
  return root ? std::max(1, gdk_window_get_scale_factor(root)) : 1;
}

// A rectangle in root pixels (top-left corner, y down) in host coordinates.
Rect root_pixels_to_host(int x, int y, int w, int h) {
  const double k = root_scale();
  const Rect origin = root_to_host(0, 0, 0, 0);  // the first screen's offsets
  return {x / k + origin.x, origin.y - (y + h) / k, w / k, h / k};
}

// The outer frame of a client window: the client grown by the window manager's
// frame extents.
std::optional<Rect> outer_frame(Display* dpy, Window w) {
  Window root = 0, child = 0;
  int x = 0, y = 0, rx = 0, ry = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  if (!XGetGeometry(dpy, w, &root, &x, &y, &width, &height, &border, &depth)) return std::nullopt;
  if (!XTranslateCoordinates(dpy, w, root, 0, 0, &rx, &ry, &child)) return std::nullopt;
  long l = 0, r = 0, t = 0, b = 0;
  if (auto e = prop_items(dpy, w, "_NET_FRAME_EXTENTS", XA_CARDINAL); e && e->size() == 4) {
    l = long((*e)[0]);
    r = long((*e)[1]);
    t = long((*e)[2]);
    b = long((*e)[3]);
  }
  return root_pixels_to_host(int(rx - l), int(ry - t), int(width + l + r), int(height + t + b));
}

// Windows that show in a task bar: normal windows and dialogs without the skip hint.
bool in_task_bar(const std::vector<std::string>& types, const std::vector<std::string>& states) {
  const bool normal = types.empty() || has(types, "_NET_WM_WINDOW_TYPE_NORMAL") || has(types, "_NET_WM_WINDOW_TYPE_DIALOG");
  return normal && !has(states, "_NET_WM_STATE_SKIP_TASKBAR");
}

// ---- screens ----------------------------------------------------------------

ScreenDetails read_screen_details(std::uint32_t display_id) {
  ScreenDetails out;
  GdkMonitor* monitor = nullptr;
  for (GdkMonitor* m : ordered_monitors())
    if (display_id_for_monitor(m) == display_id) monitor = m;
  if (!monitor) return out;
  // GDK names an X11 monitor after its RandR output (the connector: eDP-1, HDMI-2, ...).
  const char* connector = gdk_monitor_get_model(monitor);
  const std::string port = connector ? connector : "";
  for (const char* builtin : {"eDP", "LVDS", "DSI"})
    if (port.rfind(builtin, 0) == 0) out.internal = true;
  out.name = port;
  if (!GDK_IS_X11_MONITOR(monitor)) return out;
  const XID output = gdk_x11_monitor_get_output(monitor);
  with_x(
      [&](Display* dpy, Window) {
        Atom type = None;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        if (XRRGetOutputProperty(dpy, output, atom(dpy, "EDID"), 0, 64, False, False, AnyPropertyType, &type, &format,
                                 &n, &after, &data) == Success &&
            data && format == 8 && n >= 128) {
          if (std::string name = edid_monitor_name(data, n); !name.empty()) out.name = name;
          out.uid = edid_uid(data, n);
        }
        if (data) XFree(data);
        return 0;
      },
      0);
  return out;
}

// ---- the desktop's system information ----------------------------------------

class GtkSystemInfo : public SystemInfo {
 public:
  void power_source(std::function<void(std::optional<PowerSource>)> done) override {
    upower_power_source(std::move(done));
  }
  void wifi(std::function<void(std::optional<WifiLink>)> done) override { network_manager_wifi(std::move(done)); }

  void selected_text(std::function<void(std::optional<std::string>)> done) override {
    if (!gdk_x11()) return done(std::nullopt);
    using Done = std::function<void(std::optional<std::string>)>;
    // GTK calls back once, whatever the owner does (at worst after its own time-out).
    gtk_clipboard_request_text(
        gtk_clipboard_get(GDK_SELECTION_PRIMARY),
        +[](GtkClipboard*, const gchar* text, gpointer data) {
          std::unique_ptr<Done> d(static_cast<Done*>(data));
          (*d)(text ? std::optional<std::string>(text) : std::nullopt);
        },
        new Done(std::move(done)));
  }

  std::optional<double> idle_seconds() override {
    return with_x(
        [](Display* dpy, Window root) -> std::optional<double> {
          int event = 0, error = 0;
          if (!XScreenSaverQueryExtension(dpy, &event, &error)) return std::nullopt;
          XScreenSaverInfo* info = XScreenSaverAllocInfo();
          std::optional<double> s;
          if (info && XScreenSaverQueryInfo(dpy, root, info)) s = info->idle / 1000.0;
          if (info) XFree(info);
          return s;
        },
        std::optional<double>());
  }

  std::optional<AppIdentity> frontmost_app() override {
    return with_x(
        [](Display* dpy, Window root) -> std::optional<AppIdentity> {
          auto active = prop_items(dpy, root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
          if (!active || active->empty() || (*active)[0] == 0) return std::nullopt;
          return identity(dpy, Window((*active)[0]));
        },
        std::optional<AppIdentity>());
  }

  std::optional<std::vector<RunningApp>> running_apps() override {
    return with_x(
        [](Display* dpy, Window root) -> std::optional<std::vector<RunningApp>> {
          auto clients = prop_items(dpy, root, "_NET_CLIENT_LIST", XA_WINDOW);
          if (!clients) return std::nullopt;  // no window manager keeps a list
          std::vector<RunningApp> apps;
          std::map<std::string, size_t> index;  // the application's key -> its place in apps
          for (unsigned long c : *clients) {
            const Window w = Window(c);
            const long pid = window_pid(dpy, w);
            // Windows of one process are one application; a window without a process
            // belongs with its group leader's.
            std::string key = "pid:" + std::to_string(pid);
            if (pid <= 0) {
              auto leader = prop_items(dpy, w, "WM_CLIENT_LEADER", XA_WINDOW);
              key = "leader:" + std::to_string(leader && !leader->empty() ? (*leader)[0] : c);
            }
            auto [it, fresh] = index.emplace(key, apps.size());
            if (fresh) apps.push_back({identity(dpy, w), false, {}});
            RunningApp& app = apps[it->second];
            if (in_task_bar(atom_names(dpy, w, "_NET_WM_WINDOW_TYPE"), atom_names(dpy, w, "_NET_WM_STATE")))
              app.regular = true;
            app.windows.push_back({outer_frame(dpy, w), window_title(dpy, w)});
          }
          return apps;
        },
        std::optional<std::vector<RunningApp>>());
  }

  std::optional<std::vector<OnscreenWindow>> onscreen_windows() override {
    return with_x(
        [](Display* dpy, Window root) -> std::optional<std::vector<OnscreenWindow>> {
          auto stack = prop_items(dpy, root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
          if (!stack) return std::nullopt;
          std::vector<OnscreenWindow> out;
          for (auto it = stack->rbegin(); it != stack->rend(); ++it) {  // bottom-to-top list, front first
            const Window w = Window(*it);
            XWindowAttributes attrs{};
            if (!XGetWindowAttributes(dpy, w, &attrs) || attrs.map_state != IsViewable) continue;
            const std::vector<std::string> states = atom_names(dpy, w, "_NET_WM_STATE");
            if (has(states, "_NET_WM_STATE_HIDDEN")) continue;
            const std::vector<std::string> types = atom_names(dpy, w, "_NET_WM_WINDOW_TYPE");
            OnscreenWindow win;
            win.pid = window_pid(dpy, w);
            win.normal_layer = (types.empty() || has(types, "_NET_WM_WINDOW_TYPE_NORMAL") ||
                                has(types, "_NET_WM_WINDOW_TYPE_DIALOG")) &&
                               !has(states, "_NET_WM_STATE_ABOVE") && !has(states, "_NET_WM_STATE_BELOW");
            win.frame = outer_frame(dpy, w);
            out.push_back(win);
          }
          return out;
        },
        std::optional<std::vector<OnscreenWindow>>());
  }

  std::optional<Point> mouse_location() override {
    GdkDisplay* d = gdk_display_get_default();
    GdkSeat* seat = d ? gdk_display_get_default_seat(d) : nullptr;
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return std::nullopt;
    double x = 0, y = 0;
    gdk_device_get_position_double(pointer, nullptr, &x, &y);
    // GDK's root positions are points; y grows downward.
    const Rect origin = root_to_host(0, 0, 0, 0);
    return Point{x + origin.x, origin.y - y};
  }

  ScreenDetails screen_details(std::uint32_t display_id) override {
    watch_monitors();
    auto it = details_.find(display_id);
    if (it == details_.end()) it = details_.emplace(display_id, read_screen_details(display_id)).first;
    return it->second;
  }

 private:
  // The details stay until the monitors change.
  void watch_monitors() {
    if (watching_ || !gdk_screen_get_default()) return;
    watching_ = true;
    g_signal_connect_swapped(gdk_screen_get_default(), "monitors-changed",
                             G_CALLBACK(+[](GtkSystemInfo* self) { self->details_.clear(); }), this);
  }
  bool watching_ = false;
  std::map<std::uint32_t, ScreenDetails> details_;
};

}  // namespace

namespace {
bool is_edid(const unsigned char* e, size_t n) {
  static const unsigned char kHeader[8] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  return e && n >= 128 && std::equal(kHeader, kHeader + 8, e);
}
}  // namespace

std::string edid_monitor_name(const unsigned char* e, size_t n) {
  if (!is_edid(e, n)) return "";
  // Four 18-byte descriptors; a display descriptor starts with three zero bytes.
  for (size_t off = 54; off + 18 <= 126; off += 18) {
    const unsigned char* d = e + off;
    if (d[0] || d[1] || d[2] || d[3] != 0xFC) continue;
    std::string s(reinterpret_cast<const char*>(d + 5), 13);
    s = s.substr(0, s.find('\n'));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  return "";
}

// The base block holds the maker, model and serial number.
std::string edid_uid(const unsigned char* e, size_t n) {
  if (!is_edid(e, n)) return "";
  std::string h = take_string(g_compute_checksum_for_data(G_CHECKSUM_MD5, e, 128));
  if (h.size() != 32) return "";
  for (char& c : h) c = char(g_ascii_toupper(c));
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" + h.substr(20);
}

SystemInfo& gtk_system_info() {
  static GtkSystemInfo info;
  return info;
}

}  // namespace platform::gtk
