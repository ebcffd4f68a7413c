// Hot keys as passive key grabs on the root window, posted keys through XTest,
// and the first click of an inactive window.

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "platform/gtk/gtk_desktop_services.h"
#include "platform/menu.h"

namespace platform::gtk {

namespace {

// The host's key codes as X key symbols.
KeySym keysym_for(int code) {
  static const std::map<int, KeySym> table = {
      {0, XK_a},  {1, XK_s},  {2, XK_d},  {3, XK_f},  {4, XK_h},  {5, XK_g},  {6, XK_z},  {7, XK_x},
      {8, XK_c},  {9, XK_v},  {11, XK_b}, {12, XK_q}, {13, XK_w}, {14, XK_e}, {15, XK_r}, {16, XK_y},
      {17, XK_t}, {31, XK_o}, {32, XK_u}, {34, XK_i}, {35, XK_p}, {37, XK_l}, {38, XK_j}, {40, XK_k},
      {45, XK_n}, {46, XK_m}, {18, XK_1}, {19, XK_2}, {20, XK_3}, {21, XK_4}, {22, XK_6}, {23, XK_5},
      {25, XK_9}, {26, XK_7}, {28, XK_8}, {29, XK_0}, {49, XK_space}, {48, XK_Tab}, {36, XK_Return},
      {53, XK_Escape}, {123, XK_Left}, {124, XK_Right}, {125, XK_Down}, {126, XK_Up},
      {122, XK_F1}, {120, XK_F2}, {99, XK_F3}, {118, XK_F4}, {96, XK_F5}, {97, XK_F6}, {98, XK_F7},
      {100, XK_F8}, {101, XK_F9}, {109, XK_F10}, {103, XK_F11}, {111, XK_F12}, {105, XK_F13},
      {107, XK_F14}, {113, XK_F15}, {106, XK_F16}, {64, XK_F17}, {79, XK_F18}, {80, XK_F19}, {90, XK_F20},
      {27, XK_minus}, {24, XK_equal}, {43, XK_comma}, {47, XK_period}, {44, XK_slash},
      {41, XK_semicolon}, {39, XK_apostrophe}, {33, XK_bracketleft}, {30, XK_bracketright},
      {42, XK_backslash}, {50, XK_grave}, {51, XK_BackSpace}, {117, XK_Delete}, {115, XK_Home},
      {119, XK_End}, {116, XK_Prior}, {121, XK_Next}};
  auto it = table.find(code);
  return it == table.end() ? NoSymbol : it->second;
}

Display* x_display() {
  GdkDisplay* d = gdk_display_get_default();
  return d && GDK_IS_X11_DISPLAY(d) ? GDK_DISPLAY_XDISPLAY(d) : nullptr;
}

// Command is Control; with Control as well it is Super, so both stay apart.
unsigned x_modifiers(bool cmd, bool ctrl, bool alt, bool shift) {
  unsigned m = 0;
  if (cmd && ctrl) m |= Mod4Mask | ControlMask;
  else if (cmd || ctrl) m |= ControlMask;
  if (alt) m |= Mod1Mask;
  if (shift) m |= ShiftMask;
  return m;
}

// The modifier that Num Lock sets on this server (usually Mod2).
unsigned num_lock_mask(Display* dpy) {
  unsigned mask = 0;
  const KeyCode nl = XKeysymToKeycode(dpy, XK_Num_Lock);
  XModifierKeymap* map = XGetModifierMapping(dpy);
  if (!map) return Mod2Mask;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < map->max_keypermod; ++j)
      if (nl && map->modifiermap[i * map->max_keypermod + j] == nl) mask = 1u << i;
  XFreeModifiermap(map);
  return mask ? mask : Mod2Mask;
}

class GtkDesktopKeys : public DesktopKeys {
 public:
  bool grab_hotkey(int code, std::uint32_t mods, std::uint32_t id) override {
    Display* dpy = x_display();
    const KeySym sym = keysym_for(code);
    if (!dpy || sym == NoSymbol) return false;
    const KeyCode kc = XKeysymToKeycode(dpy, sym);
    if (!kc) return false;  // the keyboard has no such key
    const unsigned m = x_modifiers(mods & kHotCommand, mods & kHotControl, mods & kHotOption, mods & kHotShift);
    for (auto& [other, g] : grabs_)
      if (g.first == kc && g.second == m) return false;  // the desktop tells one owner of a key
    install_filter();
    Window root = DefaultRootWindow(dpy);
    GdkDisplay* gd = gdk_display_get_default();
    // A key another client holds answers BadAccess; the trap syncs and tells.
    bool taken = false;
    std::vector<unsigned> done;
    for (unsigned extra : variants(dpy)) {
      gdk_x11_display_error_trap_push(gd);
      XGrabKey(dpy, kc, m | extra, root, False, GrabModeAsync, GrabModeAsync);
      if (gdk_x11_display_error_trap_pop(gd)) {
        taken = true;
        break;
      }
      done.push_back(extra);
    }
    if (taken) {
      for (unsigned extra : done) XUngrabKey(dpy, kc, m | extra, root);
      XFlush(dpy);
      return false;
    }
    grabs_[id] = {kc, m};
    return true;
  }
  void ungrab_hotkey(std::uint32_t id) override {
    auto it = grabs_.find(id);
    if (it == grabs_.end()) return;
    if (Display* dpy = x_display()) {
      GdkDisplay* gd = gdk_display_get_default();
      gdk_x11_display_error_trap_push(gd);
      for (unsigned extra : variants(dpy)) XUngrabKey(dpy, it->second.first, it->second.second | extra, DefaultRootWindow(dpy));
      gdk_x11_display_error_trap_pop_ignored(gd);
    }
    grabs_.erase(it);
  }
  void set_hotkey_handler(std::function<void(std::uint32_t)> h) override { handler_ = std::move(h); }
  bool can_post_keys() override {
    Display* dpy = x_display();
    int ev, err, major, minor;
    return dpy && XTestQueryExtension(dpy, &ev, &err, &major, &minor);
  }
  bool post_key(int code, std::uint64_t mods) override {
    Display* dpy = x_display();
    const KeySym sym = keysym_for(code);
    if (!dpy || sym == NoSymbol || !can_post_keys()) return false;
    const KeyCode kc = XKeysymToKeycode(dpy, sym);
    if (!kc) return false;
    const bool cmd = mods & kModCommand, ctrl = mods & kModControl;
    std::vector<KeyCode> held;
    auto hold = [&](KeySym s) {
      if (KeyCode m = XKeysymToKeycode(dpy, s)) held.push_back(m);
    };
    if (cmd && ctrl) hold(XK_Super_L);
    if (cmd || ctrl) hold(XK_Control_L);
    if (mods & kModOption) hold(XK_Alt_L);
    if (mods & kModShift) hold(XK_Shift_L);
    for (KeyCode m : held) XTestFakeKeyEvent(dpy, m, True, CurrentTime);
    XTestFakeKeyEvent(dpy, kc, True, CurrentTime);
    XTestFakeKeyEvent(dpy, kc, False, CurrentTime);
    for (auto it = held.rbegin(); it != held.rend(); ++it) XTestFakeKeyEvent(dpy, *it, False, CurrentTime);
    XFlush(dpy);
    return true;
  }
  void set_first_click_policy(std::function<bool(WebView*)> p) override { first_click = std::move(p); }

  std::function<bool(WebView*)> first_click;

 private:
  // Caps Lock and Num Lock must not keep a hot key from working.
  static std::vector<unsigned> variants(Display* dpy) {
    const unsigned nl = num_lock_mask(dpy);
    return {0, LockMask, nl, LockMask | nl};
  }
  void install_filter() {
    if (filtering_) return;
    GdkWindow* root = gdk_get_default_root_window();
    if (!root) return;
    filtering_ = true;
    if (Display* dpy = x_display()) XkbSetDetectableAutoRepeat(dpy, True, nullptr);
    gdk_window_add_filter(root, &GtkDesktopKeys::filter, this);
  }
  static GdkFilterReturn filter(GdkXEvent* xe, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkDesktopKeys*>(data);
    XEvent* e = static_cast<XEvent*>(xe);
    if (e->type != KeyPress && e->type != KeyRelease) return GDK_FILTER_CONTINUE;
    const unsigned state = e->xkey.state & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask);
    // A key held down repeats its press (without releases between, as GDK asks
    // the server): one press of the key is one report.
    if (e->type == KeyRelease) self->held_.erase(e->xkey.keycode);
    for (auto& [id, g] : self->grabs_) {
      if (g.first != e->xkey.keycode || g.second != state) continue;
      if (e->type == KeyPress && self->held_.insert(e->xkey.keycode).second && self->handler_) {
        const std::uint32_t hit = id;
        self->handler_(hit);
      }
      return GDK_FILTER_REMOVE;
    }
    return GDK_FILTER_CONTINUE;
  }

  std::map<std::uint32_t, std::pair<KeyCode, unsigned>> grabs_;
  std::function<void(std::uint32_t)> handler_;
  std::set<unsigned> held_;  // grabbed keys down now
  bool filtering_ = false;
};

GtkDesktopKeys& keys() {
  static GtkDesktopKeys k;
  return k;
}

// Which click activated a window: the window manager activates the window on the
// press and then lets the press through, so the activation arrives just before
// it (a button still down at the activation says the same). X11 ties neither to
// the other, so a press soon after the activation counts as the activating one.
constexpr gint64 kActivationUs = 150 * 1000;
constexpr gint64 kActivationHeldUs = 1000 * 1000;  // the button was still down at the focus
const char* kFocusedAt = "quibex-activation-until";
const char* kActivatedAt = "quibex-activated-at";  // when a press was last taken as the activating one

// The host's windows by X id, for the focus they get.
std::map<Window, GtkWidget*>& watched() {
  static std::map<Window, GtkWidget*> m;
  return m;
}

void mark_activation(GtkWidget* w) {
  // The focus may also arrive after the press it came with: that press has
  // already been taken as the activating one.
  if (const auto* taken = static_cast<const gint64*>(g_object_get_data(G_OBJECT(w), kActivatedAt)))
    if (g_get_monotonic_time() - *taken < kActivationHeldUs) return;
  GdkModifierType mask = GdkModifierType(0);
  GdkWindow* gw = gtk_widget_get_window(w);
  GdkDisplay* d = gdk_display_get_default();
  GdkSeat* seat = d ? gdk_display_get_default_seat(d) : nullptr;
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (gw && pointer) gdk_window_get_device_position(gw, pointer, nullptr, nullptr, &mask);
  const bool pressed = mask & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK);
  const gint64 until = g_get_monotonic_time() + (pressed ? kActivationHeldUs : kActivationUs);
  g_object_set_data_full(G_OBJECT(w), kFocusedAt, new gint64(until), [](gpointer p) { delete static_cast<gint64*>(p); });
}

// The window manager's active window (_NET_ACTIVE_WINDOW on the root) moving to
// one of the host's windows is an activation; the focus coming back when a menu
// or a move of the window manager lets go is none.
Window g_active = 0;

Window read_active(Display* dpy, Window root, Atom atom) {
  Atom type = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  Window w = 0;
  if (XGetWindowProperty(dpy, root, atom, 0, 1, False, XA_WINDOW, &type, &format, &n, &after, &data) == Success &&
      data && type == XA_WINDOW && format == 32 && n == 1)
    w = Window(reinterpret_cast<unsigned long*>(data)[0]);
  if (data) XFree(data);
  return w;
}

GdkFilterReturn on_root_property(GdkXEvent* xe, GdkEvent*, gpointer) {
  const XEvent* e = static_cast<const XEvent*>(xe);
  if (e->type != PropertyNotify) return GDK_FILTER_CONTINUE;
  Display* dpy = e->xproperty.display;
  static Atom atom = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
  if (e->xproperty.atom != atom) return GDK_FILTER_CONTINUE;
  const Window now = read_active(dpy, e->xproperty.window, atom);
  if (now == g_active) return GDK_FILTER_CONTINUE;
  g_active = now;
  auto it = watched().find(now);
  if (it != watched().end()) mark_activation(it->second);
  return GDK_FILTER_CONTINUE;
}

void watch_focus(GtkWidget* top) {
  GdkWindow* gw = gtk_widget_get_window(top);
  if (!gw || !GDK_IS_X11_WINDOW(gw)) return;
  static bool filtering = false;
  if (!filtering) {
    GdkWindow* root = gdk_get_default_root_window();
    Display* dpy = x_display();
    if (!root || !dpy) return;
    filtering = true;
    const Window xroot = DefaultRootWindow(dpy);
    XWindowAttributes attrs;
    if (XGetWindowAttributes(dpy, xroot, &attrs) && !(attrs.your_event_mask & PropertyChangeMask))
      XSelectInput(dpy, xroot, attrs.your_event_mask | PropertyChangeMask);
    g_active = read_active(dpy, xroot, XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False));
    gdk_window_add_filter(root, on_root_property, nullptr);
  }
  const Window xid = gdk_x11_window_get_xid(gw);
  if (watched().count(xid)) return;
  watched()[xid] = top;
  g_signal_connect(top, "unrealize", G_CALLBACK(+[](GtkWidget* t, gpointer) {
    for (auto it = watched().begin(); it != watched().end();)
      it = it->second == t ? watched().erase(it) : std::next(it);
  }), nullptr);
}

struct FirstClick {
  WebView* owner;
  bool swallowing = false;
};

gboolean on_press(GtkWidget* view, GdkEventButton* e, FirstClick* fc) {
  if (e->type != GDK_BUTTON_PRESS) return fc->swallowing;
  GtkWidget* top = gtk_widget_get_toplevel(view);
  // A window that never takes the focus is never activated by a click.
  if (!GTK_IS_WINDOW(top) || !gtk_window_get_accept_focus(GTK_WINDOW(top))) return FALSE;
  watch_focus(top);
  const auto* until = static_cast<const gint64*>(g_object_get_data(G_OBJECT(top), kFocusedAt));
  const bool activating = !gtk_window_is_active(GTK_WINDOW(top)) || (until && g_get_monotonic_time() < *until);
  g_object_set_data(G_OBJECT(top), kFocusedAt, nullptr);  // only the first press after it
  if (activating)
    g_object_set_data_full(G_OBJECT(top), kActivatedAt, new gint64(g_get_monotonic_time()),
                           [](gpointer p) { delete static_cast<gint64*>(p); });
  fc->swallowing = activating && !(keys().first_click && keys().first_click(fc->owner));
  return fc->swallowing;
}

gboolean on_release(GtkWidget*, GdkEventButton*, FirstClick* fc) {
  const bool swallow = fc->swallowing;
  fc->swallowing = false;
  return swallow;
}

}  // namespace

DesktopKeys& gtk_desktop_keys() { return keys(); }

void connect_first_click(WebKitWebView* view, WebView* owner) {
  auto* fc = new FirstClick{owner};
  g_signal_connect_data(view, "button-press-event", G_CALLBACK(on_press), fc,
                        +[](gpointer d, GClosure*) { delete static_cast<FirstClick*>(d); }, GConnectFlags(0));
  g_signal_connect(view, "button-release-event", G_CALLBACK(on_release), fc);
  // Focus is watched from the window's first realisation on.
  g_signal_connect(view, "realize", G_CALLBACK(+[](GtkWidget* v, gpointer) {
    GtkWidget* top = gtk_widget_get_toplevel(v);
    if (GTK_IS_WINDOW(top)) watch_focus(top);
  }), nullptr);
}

}  // namespace platform::gtk
