// Windows on GTK 3 and X11. Each window keeps the host's model of itself and maps
// it onto the nearest X11 behaviour:
//   titled (without a full-size content view) -> WM decorations, else undecorated
//   closable, miniaturizable, resizable and the three buttons -> Motif WM functions
//     and decorations (a hidden button drops its function, so the WM drops the button)
//   not resizable -> minimum size = maximum size = the current size
//   level > 0 -> _NET_WM_STATE_ABOVE, level < 0 -> _NET_WM_STATE_BELOW
//   can join all spaces -> sticky (every workspace); ignores cycle or an accessory
//     application -> skip taskbar and pager
//   ignores mouse events -> an empty X input shape (clicks pass through)
//   clear background -> the window paints nothing behind its content (RGBA visual)
//   panel -> utility window that is not focused when it maps
// Shadow, title visibility, a transparent title bar and button positions have no
// X11 counterpart: they are kept and reported, nothing else changes.

#include <X11/Xatom.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/common/drag_layout.h"
#include "platform/common/model_window.h"
#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_menu.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/gtk_screens.h"
#include "platform/gtk/x11_props.h"

namespace platform::gtk {

namespace {

class GtkNativeWindow;
std::vector<GtkNativeWindow*> g_live;  // every window not yet destroyed, in creation order
GtkNativeWindow* g_last_key = nullptr;  // the window that last had the focus

GdkDevice* pointer_device() {
  GdkDisplay* d = gdk_display_get_default();
  GdkSeat* seat = d ? gdk_display_get_default_seat(d) : nullptr;
  return seat ? gdk_seat_get_pointer(seat) : nullptr;
}

bool button1_down() {
  GdkDevice* p = pointer_device();
  GdkWindow* root = gdk_get_default_root_window();
  if (!p || !root) return false;
  GdkModifierType mask = GdkModifierType(0);
  gdk_device_get_state(p, root, nullptr, &mask);
  return mask & GDK_BUTTON1_MASK;
}

// The largest side a window gets. X11 itself stops at 32767 pixels, but a window
// anywhere near that is gigabytes of surfaces for the X server and the page's
// renderer; no screen shows more than a fraction of this.
constexpr int kMaxSide = 10000;
int side(double v) { return std::isfinite(v) ? std::clamp(int(std::lround(std::clamp(v, 0.0, 1e6))), 1, kMaxSide) : 1; }

struct Insets {
  int left = 0, right = 0, top = 0, bottom = 0;
  bool any() const { return left || right || top || bottom; }
};
Insets g_known_insets;  // the last frame the window manager reported for any window

class GtkApp : public Application {
 public:
  void set_activation_policy(ActivationPolicy p) override;
  ActivationPolicy activation_policy() const override { return policy_; }
  void activate() override;
  void hide() override;
  void unhide(bool activate) override;
  bool hidden() const override { return hidden_; }
  bool left_button_down() override { return button1_down(); }
  void forget(GtkNativeWindow* w) { hidden_windows_.erase(std::remove(hidden_windows_.begin(), hidden_windows_.end(), w), hidden_windows_.end()); }

 private:
  ActivationPolicy policy_ = ActivationPolicy::kRegular;
  bool hidden_ = false;
  std::vector<GtkNativeWindow*> hidden_windows_;
};

GtkApp g_app;

class GtkNativeWindow : public ModelWindow {
 public:
  explicit GtkNativeWindow(const WindowParams& p) : params_(p), style_(p.style_mask) {
    if (p.panel) style_ |= kStyleNonactivatingPanel;
    win_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(win_);
    // An alpha channel where the screen offers one, so transparency can be turned on later.
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(GTK_WIDGET(win_))))
      gtk_widget_set_visual(GTK_WIDGET(win_), rgba);
    gtk_window_set_title(win_, p.title.c_str());
    gtk_window_set_default_size(win_, side(p.width), side(p.height));
    gtk_window_set_gravity(win_, GDK_GRAVITY_NORTH_WEST);
    // A new window starts at the host's origin, the first screen's bottom-left corner,
    // wherever that screen lies on the X root window.
    {
      int x = 0, y = 0;
      host_top_left_to_root({0, 0, std::max(1.0, p.width), std::max(1.0, p.height)}, x, y);
      gtk_window_move(win_, x, y);
    }
    if (p.panel) {
      gtk_window_set_type_hint(win_, GDK_WINDOW_TYPE_HINT_UTILITY);
      gtk_window_set_focus_on_map(win_, FALSE);
    }
    g_signal_connect(win_, "delete-event", G_CALLBACK(&GtkNativeWindow::on_delete), this);
    g_signal_connect(win_, "destroy", G_CALLBACK(&GtkNativeWindow::on_destroy), this);
    g_signal_connect(win_, "configure-event", G_CALLBACK(&GtkNativeWindow::on_configure), this);
    g_signal_connect(win_, "window-state-event", G_CALLBACK(&GtkNativeWindow::on_state), this);
    g_signal_connect(win_, "notify::is-active", G_CALLBACK(&GtkNativeWindow::on_active), this);
    g_signal_connect_after(win_, "realize", G_CALLBACK(&GtkNativeWindow::on_realize), this);
    g_signal_connect(win_, "draw", G_CALLBACK(&GtkNativeWindow::on_draw), this);
    // Key equivalents of the menus come after the page: WebKit hands back the keys
    // its page did not take, and only those reach this handler.
    g_signal_connect_after(win_, "key-press-event", G_CALLBACK(&GtkNativeWindow::on_key), this);
    // The menu bar above the page.
    box_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(win_), box_);
    gtk_widget_show(box_);
    g_live.push_back(this);
    apply_decor();
    apply_hints();
    apply_level();
    apply_behavior();
  }

  ~GtkNativeWindow() override {
    // The family first: a parent finds its children among the live windows.
    detach_family();
    g_live.erase(std::remove(g_live.begin(), g_live.end(), this), g_live.end());
    if (g_last_key == this) g_last_key = nullptr;
    g_app.forget(this);
    stop_resize_watch();
    stop_settling();
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

  // ---- geometry ----

  void set_content_size(double w, double h) override {
    Rect old = frame();
    Rect f = frame_rect_for_content({0, 0, w, h});
    f.x = old.x;
    f.y = old.y + old.h - f.h;
    set_frame(f);
  }

  Rect frame() const override {
    if (pending_) return *pending_;
    if (settle_to_) return *settle_to_;
    return measured_frame();
  }

  void set_frame(const Rect& f) override {
    if (destroyed_) return;
    Insets in = insets();
    int x, y;
    host_top_left_to_root(f, x, y);
    const int cw = side(f.w - in.left - in.right);
    const int ch = side(f.h - in.top - in.bottom);
    content_w_ = cw;
    content_h_ = ch;
    apply_hints();
    gtk_window_resize(win_, cw, ch);
    GdkWindow* gw = gdk_window();
    const bool mapped = gw && gdk_window_is_visible(gw);
    if (mapped && !(state_ & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN))) {
      gdk_window_move_resize(gw, x, y, cw, ch);
    } else {
      gtk_window_move(win_, x, y);
      // A withdrawn window is where the window manager looks when it maps again, and
      // it maps at the size it has: both go to the window itself, so that the next
      // show configures nothing in steps.
      if (gw && !mapped && have_last_) gdk_window_move_resize(gw, x, y, cw, ch);
    }
    // Until the window system answers, the frame is what was asked for, as the
    // window will have it (sizes and positions within what X11 takes).
    const Rect asked = root_to_host(x, y, cw + in.left + in.right, ch + in.top + in.bottom);
    pending_ = asked;
    // A hidden window comes back where it was last put.
    if (hidden_at_) hidden_at_ = asked;
    // The window system reports nothing for a window that is not on screen: a window
    // that has been shown reports the change itself, as it happens; the configure of
    // its next show then finds the frame reported already.
    if (!mapped && have_last_) report_frame(asked, false);
    if (settle_to_) settle_to_ = asked;
  }

  Rect content_rect_for_frame(const Rect& f) const override {
    Insets in = insets();
    in.top += bar_h_;
    return {f.x + in.left, f.y + in.bottom, std::max(0.0, f.w - in.left - in.right),
            std::max(0.0, f.h - in.top - in.bottom)};
  }

  Rect frame_rect_for_content(const Rect& c) const override {
    Insets in = insets();
    in.top += bar_h_;
    return {c.x - in.left, c.y - in.bottom, c.w + in.left + in.right, c.h + in.top + in.bottom};
  }

  void set_content_min_size(Size s) override {
    min_size_ = s;
    apply_hints();
  }
  Size content_min_size() const override { return min_size_; }

  std::optional<std::uint32_t> screen_id() const override {
    GdkWindow* gw = gdk_window();
    if (!gw) return std::nullopt;
    GdkMonitor* m = gdk_display_get_monitor_at_window(gdk_window_get_display(gw), gw);
    if (!m) return std::nullopt;
    return display_id_for_monitor(m);
  }

  // ---- ordering and activation ----

  void show() override {
    if (destroyed_ || order_front_suppressed()) return;
    if (state_ & GDK_WINDOW_STATE_ICONIFIED) gtk_window_deiconify(win_);
    restore_hidden_position();
    gtk_widget_show(GTK_WIDGET(win_));
    if (can_key_) gtk_window_present(win_);
    else if (GdkWindow* gw = gdk_window()) gdk_window_raise(gw);
  }

  void order_front_regardless() override {
    if (destroyed_ || order_front_suppressed()) return;
    if (state_ & GDK_WINDOW_STATE_ICONIFIED) gtk_window_deiconify(win_);
    if (!gtk_widget_get_visible(GTK_WIDGET(win_))) {
      restore_hidden_position();
      gtk_window_set_focus_on_map(win_, FALSE);
      gtk_widget_show(GTK_WIDGET(win_));
      gtk_window_set_focus_on_map(win_, !params_.panel);
    }
    if (GdkWindow* gw = gdk_window()) gdk_window_raise(gw);
  }

  void make_key() override {
    GdkWindow* gw = gdk_window();
    if (!gw || !can_key_ || !gtk_widget_get_visible(GTK_WIDGET(win_))) return;
    gdk_window_focus(gw, gtk_get_current_event_time());
  }

  void hide() override {
    if (destroyed_) return;
    // A window manager may place a window anew when it maps again: remember where it was.
    if (gtk_widget_get_visible(GTK_WIDGET(win_))) hidden_at_ = frame();
    gtk_widget_hide(GTK_WIDGET(win_));
  }
  void restore_hidden_position() {
    if (!hidden_at_ || gtk_widget_get_visible(GTK_WIDGET(win_))) return;
    int x, y;
    host_top_left_to_root(*hidden_at_, x, y);
    gtk_window_move(win_, x, y);
    // GTK keeps the place a window had when it was last mapped; the withdrawn X
    // window itself is where the window manager looks when it maps again.
    if (GdkWindow* gw = gdk_window()) gdk_window_move(gw, x, y);
    hidden_at_.reset();
    if (have_last_) settle_at(last_);
  }
  // While a window maps again, GTK and the window manager configure it in steps (the
  // client before it is framed, a place or size it had before) on the way to the
  // frame it was given and already reported. Those steps are no news: reports wait
  // until the frame arrives, or at most half a second, after which whatever the
  // window manager made of it counts.
  void settle_at(const Rect& f) {
    settle_to_ = f;
    if (settle_timer_) g_source_remove(settle_timer_);
    settle_timer_ = g_timeout_add(
        500,
        +[](gpointer p) -> gboolean {
          auto* self = static_cast<GtkNativeWindow*>(p);
          self->settle_timer_ = 0;
          self->settle_to_.reset();
          GdkWindow* gw = self->gdk_window();
          if (gw && gdk_window_is_visible(gw)) self->report_frame(self->measured_frame(), true);
          return G_SOURCE_REMOVE;
        },
        this);
  }
  void stop_settling() {
    if (settle_timer_) g_source_remove(settle_timer_);
    settle_timer_ = 0;
    settle_to_.reset();
  }
  bool visible() const override {
    return !destroyed_ && gtk_widget_get_visible(GTK_WIDGET(win_)) && !(state_ & GDK_WINDOW_STATE_ICONIFIED);
  }
  bool is_key() const override { return !destroyed_ && gtk_window_is_active(win_); }

  // ---- window-system states ----

  void miniaturize() override {
    if (!destroyed_) gtk_window_iconify(win_);
  }
  void deminiaturize() override {
    if (!destroyed_) gtk_window_deiconify(win_);
  }
  bool miniaturized() const override { return state_ & GDK_WINDOW_STATE_ICONIFIED; }
  void zoom() override {
    if (destroyed_) return;
    if (state_ & GDK_WINDOW_STATE_MAXIMIZED)
      gtk_window_unmaximize(win_);
    else
      gtk_window_maximize(win_);
  }
  bool zoomed() const override { return state_ & GDK_WINDOW_STATE_MAXIMIZED; }
  void toggle_full_screen() override {
    if (destroyed_) return;
    // The window manager answers later: a second request before its answer toggles
    // what was asked for, not what it last reported.
    const bool to = !full_screen();
    if (to)
      gtk_window_fullscreen(win_);
    else
      gtk_window_unfullscreen(win_);
    // The request counts until the window manager reports that very state, however
    // long it takes: forgetting it earlier would let a later request be skipped as
    // already done while this one is still on its way. A request the window manager
    // is known to refuse is not counted at all.
    if (to && !wm_allows_full_screen())
      fs_asked_.reset();
    else
      fs_asked_ = to;
  }
  bool full_screen() const { return fs_asked_ ? *fs_asked_ : bool(state_ & GDK_WINDOW_STATE_FULLSCREEN); }
  bool is_full_screen() const override { return state_ & GDK_WINDOW_STATE_FULLSCREEN; }

  // ---- the host's model ----

  void set_style_mask(std::uint64_t mask) override {
    mask &= ~kStyleFullScreen;
    if (params_.panel) mask |= kStyleNonactivatingPanel;
    keeping_frame([&] { style_ = mask; });
    apply_hints();
  }
  std::uint64_t style_mask() const override {
    return style_ | (full_screen() ? kStyleFullScreen : 0);
  }
  bool is_panel() const override { return params_.panel; }

  void set_level(long level) override {
    level_ = level;
    apply_level();
  }

  void set_collection_behavior(std::uint64_t b) override {
    behavior_ = b;
    apply_behavior();
  }

  void set_ignores_mouse_events(bool v) override {
    ignores_ = v;
    apply_input_shape();
  }

  void set_background_clear(bool v) override {
    clear_ = v;
    gtk_widget_set_app_paintable(GTK_WIDGET(win_), v);
    gtk_widget_queue_draw(GTK_WIDGET(win_));
  }
  void set_button_visible(WindowButton b, bool v) override {
    buttons_[int(b)] = v;
    apply_decor();
  }
  std::optional<Rect> button_frame(WindowButton) const override { return std::nullopt; }
  void set_button_frame(WindowButton, const Rect&) override {}
  void set_can_become_key(bool v) override {
    can_key_ = v;
    gtk_window_set_accept_focus(win_, v);
  }

  // ---- child windows ----

  void add_child_window(NativeWindow* child) override {
    auto* c = live(child);
    if (!c || c == this || destroyed_ || c->destroyed_) return;
    if (c->parent_ && c->parent_ != this) c->parent_->remove_child_window(c);
    if (std::find(children_.begin(), children_.end(), c) == children_.end()) children_.push_back(c);
    c->parent_ = this;
    gtk_window_set_transient_for(c->win_, win_);
  }
  void remove_child_window(NativeWindow* child) override {
    auto* c = live(child);
    if (!c) return;
    children_.erase(std::remove(children_.begin(), children_.end(), c), children_.end());
    if (c->parent_ == this) {
      c->parent_ = nullptr;
      if (!c->destroyed_) gtk_window_set_transient_for(c->win_, nullptr);
    }
  }
  std::vector<NativeWindow*> child_windows() const override {
    return std::vector<NativeWindow*>(children_.begin(), children_.end());
  }

  // ---- interactive drags ----

  bool begin_move_drag() override {
    int x = 0, y = 0;
    if (!pointer_root(x, y) || !gtk_widget_get_visible(GTK_WIDGET(win_))) return false;
    gtk_window_begin_move_drag(win_, 1, x, y, gtk_get_current_event_time());
    return true;
  }

  bool begin_resize_drag(ResizeEdges e, Size min_frame) override;
  bool begin_file_drag(const std::vector<std::string>& paths, const std::string& icon_path) override;

  // ---- content ----

  void set_content(WebView* view) override {
    // A destroyed window took its children with it.
    if (content_ && !destroyed_) gtk_container_remove(GTK_CONTAINER(box_), GTK_WIDGET(content_->native_handle()));
    content_ = view;
    if (view) {
      GtkWidget* w = GTK_WIDGET(view->native_handle());
      gtk_box_pack_end(GTK_BOX(box_), w, TRUE, TRUE, 0);
      gtk_widget_show(w);
      // The page has the keyboard whenever its window has the focus.
      gtk_widget_grab_focus(w);
    }
  }
  void set_content_zoom(double z) override {
    if (WebKitWebView* v = web_view()) webkit_web_view_set_zoom_level(v, z);
  }
  void set_content_draws_background(bool draws) override {
    if (WebKitWebView* v = web_view()) {
      GdkRGBA c{1, 1, 1, draws ? 1.0 : 0.0};
      webkit_web_view_set_background_color(v, &c);
    }
  }

  void set_menu_bar(std::shared_ptr<const MenuNode> bar, MenuChosen chosen) override {
    if (destroyed_) return;
    if (bar_widget_) gtk_widget_destroy(bar_widget_);
    bar_widget_ = nullptr;
    if (bar) {
      GtkWidget* menubar = gtk_menu_bar_new();
      fill_menu_shell(GTK_MENU_SHELL(menubar), std::move(bar), std::move(chosen), [this] { return web_view(); });
      gtk_widget_show(menubar);
      // A window may be narrower than its bar's titles: the bar is clipped rather
      // than setting a minimum width of its own.
      bar_widget_ = gtk_scrolled_window_new(nullptr, nullptr);
      gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(bar_widget_), GTK_POLICY_EXTERNAL, GTK_POLICY_NEVER);
      gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(bar_widget_), TRUE);
      gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(bar_widget_), GTK_SHADOW_NONE);
      gtk_container_add(GTK_CONTAINER(bar_widget_), menubar);
      gtk_box_pack_start(GTK_BOX(box_), bar_widget_, FALSE, FALSE, 0);
    }
    // The bar's height is the frame's, as a title bar's: the page keeps its size.
    const bool mapped = gdk_window() && gdk_window_is_visible(gdk_window());
    const Rect before = frame();
    const Rect content = content_rect_for_frame(before);
    if (!update_bar()) return;
    Rect f = frame_rect_for_content(content);
    f.x = before.x;
    f.y = before.y + before.h - f.h;
    if (mapped || content.w > 0) set_frame(f);
  }
  void set_key_handler(std::function<bool(const KeyChord&)> h) override { key_handler_ = std::move(h); }

  void close() override {
    if (!destroyed_) gtk_widget_destroy(GTK_WIDGET(win_));
  }
  void* native_handle() override { return win_; }

  void refresh_behavior() { apply_behavior(); }
  bool shown() const { return !destroyed_ && gtk_widget_get_visible(GTK_WIDGET(win_)); }

 private:
  static GtkNativeWindow* live(NativeWindow* w) {
    auto it = std::find(g_live.begin(), g_live.end(), static_cast<GtkNativeWindow*>(w));
    return it == g_live.end() ? nullptr : *it;
  }

  GdkWindow* gdk_window() const {
    return destroyed_ ? nullptr : gtk_widget_get_window(GTK_WIDGET(win_));
  }
  WebKitWebView* web_view() const {
    if (!content_) return nullptr;
    void* h = content_->native_handle();
    return h && WEBKIT_IS_WEB_VIEW(h) ? WEBKIT_WEB_VIEW(h) : nullptr;
  }

  // Decorations come and go around a frame that stays where it is, so the content
  // takes the room of the title bar or gives it back.
  template <typename F>
  void keeping_frame(F change) {
    const bool was = decorated();
    const bool mapped = gdk_window() && gdk_window_is_visible(gdk_window());
    const Rect before = mapped ? frame() : Rect{};
    change();
    apply_decor();
    update_bar();
    if (mapped && was != decorated()) set_frame(before);
  }

  // Windows with a frame show their bar; a window without one is all page (the
  // bar's key equivalents still work). True when the bar's height changed.
  bool update_bar() {
    int h = 0;
    if (bar_widget_ && decorated()) {
      gtk_widget_show(bar_widget_);
      int min = 0;
      gtk_widget_get_preferred_height(bar_widget_, &min, &h);
    } else if (bar_widget_) {
      gtk_widget_hide(bar_widget_);
    }
    if (h == bar_h_) return false;
    bar_h_ = h;
    apply_hints();
    return true;
  }

  // The title-bar container only matters without a frame, which the full-size bit
  // already gives, so hiding it changes nothing on screen.
  bool decorated() const { return (style_ & kStyleTitled) && !(style_ & kStyleFullSizeContentView); }

  // What the window manager's frame adds around the content. The model decides
  // whether there is a frame at all: right after a change of decorations the window
  // manager still reports the old frame, and sizes computed from that report would be
  // off by the title bar. A decorated window uses the window manager's report once it
  // has one, else the last frame it had, else the frame seen on any other window.
  Insets insets() const {
    if (!decorated() || (state_ & GDK_WINDOW_STATE_FULLSCREEN)) return {};
    GdkWindow* gw = gdk_window();
    if (gw && gdk_window_is_visible(gw)) {
      Insets in;
      bool reported = wm_frame_extents(gw, in);
      if (!reported) {
        // No report from the window manager: measure its frame window.
        GdkDisplay* d = gdk_window_get_display(gw);
        gdk_x11_display_error_trap_push(d);
        GdkRectangle ext;
        gdk_window_get_frame_extents(gw, &ext);
        int ox = 0, oy = 0;
        gdk_window_get_origin(gw, &ox, &oy);
        gdk_x11_display_error_trap_pop_ignored(d);
        const int w = gdk_window_get_width(gw), h = gdk_window_get_height(gw);
        in.left = std::max(0, ox - ext.x);
        in.top = std::max(0, oy - ext.y);
        in.right = std::max(0, ext.x + ext.width - (ox + w));
        in.bottom = std::max(0, ext.y + ext.height - (oy + h));
        return in;
      }
      if (in.any()) {
        last_insets_ = in;
        g_known_insets = in;
        return in;
      }
    }
    if (last_insets_.any()) return last_insets_;
    return g_known_insets;
  }

  // The window manager's own account of its frame, read in one request: measuring
  // the frame and the client one after the other can straddle a resize.
  static bool wm_frame_extents(GdkWindow* gw, Insets& in) {
    if (!GDK_IS_X11_WINDOW(gw)) return false;
    GdkDisplay* d = gdk_window_get_display(gw);
    gdk_x11_display_error_trap_push(d);
    const auto v = x11_prop_items(GDK_DISPLAY_XDISPLAY(d), GDK_WINDOW_XID(gw), "_NET_FRAME_EXTENTS", XA_CARDINAL);
    gdk_x11_display_error_trap_pop_ignored(d);
    if (!v || v->size() != 4) return false;
    const int scale = std::max(1, gdk_window_get_scale_factor(gw));
    in.left = int((*v)[0]) / scale;
    in.right = int((*v)[1]) / scale;
    in.top = int((*v)[2]) / scale;
    in.bottom = int((*v)[3]) / scale;
    return true;
  }

  Rect measured_frame() const {
    GdkWindow* gw = gdk_window();
    if (gw && gdk_window_is_visible(gw)) {
      // Where the client is on the server (GDK already holds a size just asked for),
      // with the frame the model says it has.
      // The window may be destroyed from outside at any moment: nothing here may raise
      // an X error.
      GdkDisplay* d = gdk_window_get_display(gw);
      gdk_x11_display_error_trap_push(d);
      int ox = 0, oy = 0;
      gdk_window_get_origin(gw, &ox, &oy);
      int w = gdk_window_get_width(gw), h = gdk_window_get_height(gw);
      if (GDK_IS_X11_WINDOW(gw)) {
        Window root;
        int rx, ry;
        unsigned sw, sh, bw, depth;
        if (XGetGeometry(GDK_WINDOW_XDISPLAY(gw), GDK_WINDOW_XID(gw), &root, &rx, &ry, &sw, &sh, &bw, &depth)) {
          const int scale = std::max(1, gdk_window_get_scale_factor(gw));
          w = int(sw) / scale;
          h = int(sh) / scale;
        }
      }
      const Insets in = insets();
      gdk_x11_display_error_trap_pop_ignored(d);
      return root_to_host(ox - in.left, oy - in.top, w + in.left + in.right, h + in.top + in.bottom);
    }
    // Not mapped: what was asked for.
    int x = 0, y = 0, w = 0, h = 0;
    gtk_window_get_position(win_, &x, &y);
    gtk_window_get_size(win_, &w, &h);
    if (content_w_ > 0) {
      w = content_w_;
      h = content_h_;
    }
    Insets in = insets();
    return root_to_host(x, y, w + in.left + in.right, h + in.top + in.bottom);
  }

  bool pointer_root(int& x, int& y) const {
    GdkDevice* p = pointer_device();
    if (!p) return false;
    gdk_device_get_position(p, nullptr, &x, &y);
    return true;
  }

  void apply_decor() {
    const bool deco = decorated();
    if (bool(gtk_window_get_decorated(win_)) != deco) gtk_window_set_decorated(win_, deco);
    GdkWindow* gw = gdk_window();
    if (!gw) return;
    const bool resizable = style_ & kStyleResizable;
    const bool close = (style_ & kStyleClosable) && buttons_[0];
    const bool mini = (style_ & kStyleMiniaturizable) && buttons_[1];
    const bool zoom = resizable && buttons_[2];
    if (deco) {
      int d = GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU;
      if (resizable) d |= GDK_DECOR_RESIZEH;
      if (mini) d |= GDK_DECOR_MINIMIZE;
      if (zoom) d |= GDK_DECOR_MAXIMIZE;
      gdk_window_set_decorations(gw, GdkWMDecoration(d));
    }
    int f = GDK_FUNC_MOVE;
    if (resizable) f |= GDK_FUNC_RESIZE;
    if (zoom) f |= GDK_FUNC_MAXIMIZE;
    if (mini) f |= GDK_FUNC_MINIMIZE;
    if (close) f |= GDK_FUNC_CLOSE;
    gdk_window_set_functions(gw, GdkWMFunction(f));
  }

  // Minimum size from the model (raised while a resize drag needs more); a window
  // that is not resizable is held at its size.
  void apply_hints() {
    GdkGeometry g{};
    // Every place a window gets is asked for: with the user-position flag the window
    // manager keeps it when the window maps again instead of placing the window anew.
    int flags = GDK_HINT_MIN_SIZE | GDK_HINT_USER_POS;
    g.min_width = side(std::ceil(min_size_.w));
    g.min_height = side(std::ceil(min_size_.h) + bar_h_);
    if (drag_min_) {
      g.min_width = std::max(g.min_width, side(drag_min_->first));
      g.min_height = std::max(g.min_height, side(drag_min_->second));
    }
    if (!(style_ & kStyleResizable)) {
      int w = content_w_, h = content_h_;
      if (w <= 0) gtk_window_get_size(win_, &w, &h);
      g.min_width = g.max_width = std::max(1, w);
      g.min_height = g.max_height = std::max(1, h);
      flags |= GDK_HINT_MAX_SIZE;
    }
    gtk_window_set_geometry_hints(win_, nullptr, &g, GdkWindowHints(flags));
    // GTK passes hints on at its next layout pass; a frame asked for directly must
    // not meet the old ones at the window manager.
    // Only a change is sent: every frame request comes through here.
    GdkWindow* gw = gdk_window();
    const std::array<int, 5> now{flags, g.min_width, g.min_height, g.max_width, g.max_height};
    if (gw && (gw != hints_for_ || now != hints_sent_)) {
      gdk_window_set_geometry_hints(gw, &g, GdkWindowHints(flags));
      hints_for_ = gw;
      hints_sent_ = now;
    }
  }

  void apply_level() {
    gtk_window_set_keep_above(win_, level_ > 0);
    gtk_window_set_keep_below(win_, level_ < 0);
  }

  void apply_behavior() {
    // An accessory application has no task-bar or pager entries, whatever the window.
    const bool hidden = (behavior_ & kBehaviorIgnoresCycle) || g_app.activation_policy() == ActivationPolicy::kAccessory;
    gtk_window_set_skip_taskbar_hint(win_, hidden);
    gtk_window_set_skip_pager_hint(win_, hidden);
    if (behavior_ & kBehaviorCanJoinAllSpaces)
      gtk_window_stick(win_);
    else
      gtk_window_unstick(win_);
  }

  void apply_input_shape() {
    if (!gdk_window()) return;
    if (ignores_) {
      cairo_region_t* none = cairo_region_create();
      gtk_widget_input_shape_combine_region(GTK_WIDGET(win_), none);
      cairo_region_destroy(none);
    } else {
      gtk_widget_input_shape_combine_region(GTK_WIDGET(win_), nullptr);
    }
  }

  // Posts the moves and resizes that bring the frame the observers last heard of to
  // `now`; child windows move with their parent.
  void report_frame(const Rect& now, bool mapped) {
    const bool moved = !have_last_ || now.x != last_.x || now.y != last_.y;
    const bool resized = !have_last_ || now.w != last_.w || now.h != last_.h;
    const Rect before = last_;
    const bool had = have_last_;
    last_ = now;
    have_last_ = true;
    if (!moved && !resized) return;
    if (events_.on_frame_changed) events_.on_frame_changed();
    if (moved && had) {
      const double dx = now.x - before.x, dy = now.y - before.y;
      for (GtkNativeWindow* c : std::vector<GtkNativeWindow*>(children_)) {
        Rect f = c->frame();
        c->set_frame({f.x + dx, f.y + dy, f.w, f.h});
      }
    }
    if (moved) post_window_note(this, WindowNote::kDidMove);
    if (resized) post_window_note(this, WindowNote::kDidResize);
    // Only a window on screen has a monitor the window system counts it on.
    if (!mapped) return;
    std::optional<std::uint32_t> screen = screen_id();
    if (screen != last_screen_) {
      const bool report = last_screen_.has_value();
      last_screen_ = screen;
      if (report) post_window_note(this, WindowNote::kDidChangeScreen);
    }
  }

  void detach_family() {
    if (parent_) parent_->remove_child_window(this);
    for (GtkNativeWindow* c : std::vector<GtkNativeWindow*>(children_)) remove_child_window(c);
  }

  // Whether the window manager lets this window into full screen: it supports full
  // screen and, where it lists what the window may do, lists full screen. A window
  // that is not mapped is made full screen by GDK itself when it maps.
  bool wm_allows_full_screen() const {
    GdkScreen* screen = gtk_widget_get_screen(GTK_WIDGET(win_));
    if (!GDK_IS_X11_SCREEN(screen) ||
        !gdk_x11_screen_supports_net_wm_hint(screen, gdk_atom_intern_static_string("_NET_WM_STATE_FULLSCREEN")))
      return false;
    GdkWindow* gw = gdk_window();
    if (!gw || !gdk_window_is_visible(gw)) return true;
    GdkDisplay* d = gdk_window_get_display(gw);
    gdk_x11_display_error_trap_push(d);
    const auto actions = x11_prop_items(GDK_DISPLAY_XDISPLAY(d), GDK_WINDOW_XID(gw), "_NET_WM_ALLOWED_ACTIONS", XA_ATOM);
    gdk_x11_display_error_trap_pop_ignored(d);
    if (!actions) return true;  // no list: nothing is known to be refused
    const Atom fullscreen = gdk_x11_get_xatom_by_name_for_display(d, "_NET_WM_ACTION_FULLSCREEN");
    return std::find(actions->begin(), actions->end(), fullscreen) != actions->end();
  }

  void stop_resize_watch() {
    if (resize_watch_) g_source_remove(resize_watch_);
    resize_watch_ = 0;
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
    self->bar_widget_ = nullptr;
    self->stop_resize_watch();
    self->stop_settling();
    g_app.forget(self);
    // The close path sees the children first; then the window leaves its family.
    if (self->events_.on_destroyed) self->events_.on_destroyed();
    if (self->parent_) self->parent_->remove_child_window(self);
  }
  static void on_realize(GtkWidget*, GtkNativeWindow* self) {
    self->apply_decor();
    self->apply_input_shape();
    self->apply_behavior();
  }
  static gboolean on_draw(GtkWidget* w, cairo_t* cr, GtkNativeWindow* self) {
    if (self->clear_) {
      cairo_save(cr);
      cairo_set_source_rgba(cr, 0, 0, 0, 0);
      cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
      cairo_paint(cr);
      cairo_restore(cr);
    }
    return FALSE;
  }
  static gboolean on_key(GtkWidget*, GdkEventKey* e, GtkNativeWindow* self) {
    return self->key_handler_ && self->key_handler_(key_chord_of(e));
  }
  static gboolean on_configure(GtkWidget* w, GdkEvent*, GtkNativeWindow* self) {
    if (gtk_widget_in_destruction(w)) return FALSE;
    // Unmapping and mapping move nothing the backend can see.
    GdkWindow* gw = self->gdk_window();
    if (!gw || !gdk_window_is_visible(gw)) return FALSE;
    self->pending_.reset();
    self->content_w_ = self->content_h_ = 0;
    const Rect now = self->measured_frame();
    if (self->settle_to_) {
      if (now != *self->settle_to_) return FALSE;
      self->stop_settling();
    }
    self->report_frame(now, true);
    return FALSE;
  }
  static gboolean on_state(GtkWidget* w, GdkEventWindowState* e, GtkNativeWindow* self) {
    self->state_ = e->new_window_state;
    if (gtk_widget_in_destruction(w)) return FALSE;
    const int changed = e->changed_mask;
    if (changed & GDK_WINDOW_STATE_FULLSCREEN) {
      self->pending_.reset();
      if (self->fs_asked_ && *self->fs_asked_ == bool(e->new_window_state & GDK_WINDOW_STATE_FULLSCREEN))
        self->fs_asked_.reset();
      post_window_note(self, (e->new_window_state & GDK_WINDOW_STATE_FULLSCREEN) ? WindowNote::kDidEnterFullScreen
                                                                               : WindowNote::kDidExitFullScreen);
    }
    if (changed & GDK_WINDOW_STATE_ICONIFIED)
      post_window_note(self, (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) ? WindowNote::kDidMiniaturize
                                                                              : WindowNote::kDidDeminiaturize);
    if (changed & GDK_WINDOW_STATE_MAXIMIZED) {
      // Zooming is a resize: observers re-read the state, which now says maximised.
      self->pending_.reset();
      post_window_note(self, WindowNote::kDidResize);
    }
    if (self->events_.on_state_changed) self->events_.on_state_changed();
    return FALSE;
  }
  static void on_active(GObject*, GParamSpec*, GtkNativeWindow* self) {
    // A window going away reports nothing after its close path.
    if (self->destroyed_ || gtk_widget_in_destruction(GTK_WIDGET(self->win_))) return;
    const bool key = gtk_window_is_active(self->win_);
    if (key == self->key_) return;
    self->key_ = key;
    if (key) g_last_key = self;
    post_window_note(self, key ? WindowNote::kDidBecomeKey : WindowNote::kDidResignKey);
    if (self->events_.on_state_changed) self->events_.on_state_changed();
  }

  friend class GtkApp;

  GtkWindow* win_ = nullptr;
  WindowParams params_;
  WindowEvents events_;
  WebView* content_ = nullptr;
  bool destroyed_ = false;

  // The host's model.
  std::uint64_t style_;
  Size min_size_;
  GtkNativeWindow* parent_ = nullptr;
  std::vector<GtkNativeWindow*> children_;

  // What the window system last said, and what was asked since.
  GdkWindowState state_ = GdkWindowState(0);
  bool key_ = false;
  std::optional<Rect> pending_;
  std::optional<Rect> hidden_at_;
  int content_w_ = 0, content_h_ = 0;
  mutable Insets last_insets_;
  Rect last_;
  bool have_last_ = false;
  std::optional<std::uint32_t> last_screen_;
  std::optional<std::pair<int, int>> drag_min_;
  guint resize_watch_ = 0;
  GdkWindow* hints_for_ = nullptr;  // the size hints last sent straight to the window manager
  std::array<int, 5> hints_sent_{};
  std::optional<bool> fs_asked_;  // full screen last asked for, until the window manager reports it
  std::optional<Rect> settle_to_;  // the frame a window mapping again is on its way to
  guint settle_timer_ = 0;
  GtkWidget* box_ = nullptr;         // the bar above the page
  GtkWidget* bar_widget_ = nullptr;  // the menu bar (in its clip), null when none
  int bar_h_ = 0;                    // the height it takes, 0 when not shown
  std::function<bool(const KeyChord&)> key_handler_;
  bool drag_handlers_ = false;  // the file-drag signal handlers are connected
  std::vector<GdkDragContext*> file_drags_;  // file drags of this window still going

  static void on_drag_data_get(GtkWidget*, GdkDragContext* ctx, GtkSelectionData* data, guint, guint,
                               GtkNativeWindow*);
  static void on_drag_end(GtkWidget*, GdkDragContext* ctx, GtkNativeWindow*);
  static gboolean on_drag_failed(GtkWidget*, GdkDragContext* ctx, GtkDragResult, GtkNativeWindow*);
};

bool GtkNativeWindow::begin_resize_drag(ResizeEdges e, Size min_frame) {
  int x = 0, y = 0;
  if (!e.any() || !pointer_root(x, y) || !gtk_widget_get_visible(GTK_WIDGET(win_))) return false;
  GdkWindowEdge edge;
  if (e.top) edge = e.left ? GDK_WINDOW_EDGE_NORTH_WEST : e.right ? GDK_WINDOW_EDGE_NORTH_EAST : GDK_WINDOW_EDGE_NORTH;
  else if (e.bottom)
    edge = e.left ? GDK_WINDOW_EDGE_SOUTH_WEST : e.right ? GDK_WINDOW_EDGE_SOUTH_EAST : GDK_WINDOW_EDGE_SOUTH;
  else
    edge = e.left ? GDK_WINDOW_EDGE_WEST : GDK_WINDOW_EDGE_EAST;
  // The window manager enforces the minimum while the button is held.
  Insets in = insets();
  drag_min_ = std::make_pair(int(std::ceil(min_frame.w)) - in.left - in.right,
                             int(std::ceil(min_frame.h)) - in.top - in.bottom);
  apply_hints();
  stop_resize_watch();
  resize_watch_ = g_timeout_add(
      100,
      +[](gpointer p) -> gboolean {
        auto* self = static_cast<GtkNativeWindow*>(p);
        if (button1_down()) return G_SOURCE_CONTINUE;
        self->resize_watch_ = 0;
        self->drag_min_.reset();
        self->apply_hints();
        return G_SOURCE_REMOVE;
      },
      this);
  gtk_window_begin_resize_drag(win_, edge, 1, x, y, gtk_get_current_event_time());
  return true;
}

// ---- file drags ----
//
// A drag starts at once with an image of icons guessed from the file names; a worker
// thread then reads the drag's icon file and asks for the files' own icons, and the
// image is drawn again if the drag is still going. Nothing on the main thread reads
// the files. Each drag keeps its state on its own GdkDragContext, so drags that
// overlap on one window never share it.

constexpr const char* kFileDragKey = "quibex-file-drag";
constexpr const char* kReplacedKey = "quibex-file-drag-replaced";

struct FileDrag {
  std::vector<std::string> uris;  // every file of the drag
  GObjectPtr<GCancellable> cancel{g_cancellable_new()};
  // The drag is over: its images are no longer wanted.
  ~FileDrag() { g_cancellable_cancel(cancel.get()); }
};

// What the worker reads for one drag.
struct DragImageJob {
  GObjectPtr<GdkDragContext> ctx;
  GObjectPtr<GCancellable> cancel;
  std::vector<std::string> paths;  // every file, in order
  std::string icon_path;
  // Results.
  GObjectPtr<GdkPixbuf> icon;  // at no more than 160 points a side
  Size icon_size;              // the icon file's own size
  std::vector<GObjectPtr<GIcon>> file_icons;  // for the drawn items, null where unknown
};

// Reads an image file, decoded at no more than 160 points a side however large it is.
GObjectPtr<GdkPixbuf> load_icon_file(const std::string& path, GCancellable* cancel, Size* size) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GObjectPtr<GFileInputStream> in(g_file_read(file.get(), cancel, nullptr));
  if (!in) return nullptr;
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
  g_signal_connect(loader.get(), "size-prepared", G_CALLBACK((+[](GdkPixbufLoader* l, int w, int h, Size* out) {
                     *out = Size{double(w), double(h)};
                     const int larger = std::max(w, h);
                     if (larger > 160)
                       gdk_pixbuf_loader_set_size(l, std::max(1, int(std::lround(w * 160.0 / larger))),
                                                  std::max(1, int(std::lround(h * 160.0 / larger))));
                   })),
                   size);
  std::vector<guchar> buf(64 * 1024);
  bool ok = true;
  for (;;) {
    const gssize n = g_input_stream_read(G_INPUT_STREAM(in.get()), buf.data(), buf.size(), cancel, nullptr);
    if (n == 0) break;
    if (n < 0 || !gdk_pixbuf_loader_write(loader.get(), buf.data(), gsize(n), nullptr)) {
      ok = false;
      break;
    }
  }
  ok = gdk_pixbuf_loader_close(loader.get(), nullptr) && ok;
  return ok ? add_ref(gdk_pixbuf_loader_get_pixbuf(loader.get())) : nullptr;
}

void read_drag_images(GTask* task, gpointer, gpointer data, GCancellable* cancel) {
  auto* job = static_cast<DragImageJob*>(data);
  if (!job->icon_path.empty()) job->icon = load_icon_file(job->icon_path, cancel, &job->icon_size);
  for (const DragItem& it : layout_drag_items(job->paths, std::nullopt)) {
    if (!it.drawn || g_cancellable_is_cancelled(cancel)) break;
    GObjectPtr<GIcon> icon;
    GObjectPtr<GFile> file(g_file_new_for_path(it.path.c_str()));
    if (GObjectPtr<GFileInfo> info{g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_ICON,
                                                     G_FILE_QUERY_INFO_NONE, cancel, nullptr)}) {
      // Only theme icons: the main thread draws them from the icon theme, never from a file.
      GIcon* i = g_file_info_get_icon(info.get());
      if (i && G_IS_THEMED_ICON(i)) icon = add_ref(i);
    }
    job->file_icons.push_back(std::move(icon));
  }
  g_task_return_boolean(task, TRUE);
}

// The icon a file's name suggests, found without reading the file.
GObjectPtr<GIcon> guessed_icon(const std::string& path) {
  GPtr<char> type(g_content_type_guess(path.c_str(), nullptr, 0, nullptr));
  return GObjectPtr<GIcon>(type ? g_content_type_get_icon(type.get()) : nullptr);
}

GObjectPtr<GdkPixbuf> theme_icon(GIcon* icon, int size) {
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  GObjectPtr<GdkPixbuf> pb;
  if (icon)
    if (GObjectPtr<GtkIconInfo> info{gtk_icon_theme_lookup_by_gicon(theme, icon, size, GTK_ICON_LOOKUP_FORCE_SIZE)})
      pb.reset(gtk_icon_info_load_icon(info.get(), nullptr));
  if (!pb) pb.reset(gtk_icon_theme_load_icon(theme, "text-x-generic", size, GTK_ICON_LOOKUP_FORCE_SIZE, nullptr));
  return pb;
}

// Draws the items stacked, the first on top with its centre under the pointer.
// file_icons[i] is the icon of drawn item i (null: guessed from its name).
void set_drag_image(GdkDragContext* ctx, const std::vector<DragItem>& items, GdkPixbuf* custom,
                    const std::vector<GObjectPtr<GIcon>>& file_icons) {
  const Size size = drag_image_size(items);
  if (items.empty() || size.w <= 0 || size.h <= 0) return;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(std::ceil(size.w)), int(std::ceil(size.h)));
  cairo_t* cr = cairo_create(surface);
  std::vector<const DragItem*> drawn;
  for (const DragItem& it : items)
    if (it.drawn) drawn.push_back(&it);
  for (std::size_t i = drawn.size(); i-- > 0;) {
    const DragItem& it = *drawn[i];
    GObjectPtr<GdkPixbuf> src;
    if (it.custom_icon && custom) {
      src = add_ref(custom);
    } else {
      GObjectPtr<GIcon> icon =
          i < file_icons.size() && file_icons[i] ? add_ref(file_icons[i].get()) : guessed_icon(it.path);
      src = theme_icon(icon.get(), 32);
    }
    if (!src) continue;
    const int w = std::max(1, int(std::lround(it.w))), h = std::max(1, int(std::lround(it.h)));
    GObjectPtr<GdkPixbuf> scaled = gdk_pixbuf_get_width(src.get()) == w && gdk_pixbuf_get_height(src.get()) == h
                                       ? add_ref(src.get())
                                       : GObjectPtr<GdkPixbuf>(gdk_pixbuf_scale_simple(src.get(), w, h,
                                                                                       GDK_INTERP_BILINEAR));
    if (scaled) {
      gdk_cairo_set_source_pixbuf(cr, scaled.get(), it.offset, it.offset);
      cairo_paint(cr);
    }
  }
  cairo_destroy(cr);
  cairo_surface_set_device_offset(surface, -items[0].w / 2, -items[0].h / 2);
  gtk_drag_set_icon_surface(ctx, surface);
  cairo_surface_destroy(surface);
}

void drag_images_read(GObject*, GAsyncResult* result, gpointer) {
  auto* job = static_cast<DragImageJob*>(g_task_get_task_data(G_TASK(result)));
  if (g_cancellable_is_cancelled(job->cancel.get())) return;  // the drag is over
  std::optional<Size> icon;
  if (job->icon) icon = job->icon_size;
  set_drag_image(job->ctx.get(), layout_drag_items(job->paths, icon), job->icon.get(), job->file_icons);
}

void GtkNativeWindow::on_drag_data_get(GtkWidget*, GdkDragContext* ctx, GtkSelectionData* data, guint, guint,
                                       GtkNativeWindow*) {
  auto* drag = static_cast<FileDrag*>(g_object_get_data(G_OBJECT(ctx), kFileDragKey));
  if (!drag) return;
  std::vector<gchar*> list;
  for (std::string& u : drag->uris) list.push_back(u.data());
  list.push_back(nullptr);
  gtk_selection_data_set_uris(data, list.data());
}

void GtkNativeWindow::on_drag_end(GtkWidget*, GdkDragContext* ctx, GtkNativeWindow* self) {
  auto& going = self->file_drags_;
  going.erase(std::remove(going.begin(), going.end(), ctx), going.end());
  g_object_set_data(G_OBJECT(ctx), kFileDragKey, nullptr);
}

gboolean GtkNativeWindow::on_drag_failed(GtkWidget*, GdkDragContext* ctx, GtkDragResult, GtkNativeWindow*) {
  // A drag replaced by a newer one ends at once: GTK would otherwise slide its image
  // back to where it started, where it takes the next click.
  return g_object_get_data(G_OBJECT(ctx), kReplacedKey) != nullptr;
}

bool GtkNativeWindow::begin_file_drag(const std::vector<std::string>& paths, const std::string& icon_path) {
  GdkWindow* gw = gdk_window();
  if (!gw) return false;
  std::vector<DragItem> items = layout_drag_items(paths, std::nullopt);
  if (items.empty()) return false;
  auto* drag = new FileDrag;
  for (const DragItem& it : items)
    if (GPtr<char> uri{g_filename_to_uri(it.path.c_str(), nullptr, nullptr)}) drag->uris.push_back(uri.get());
  if (!drag_handlers_) {
    g_signal_connect(win_, "drag-data-get", G_CALLBACK(&GtkNativeWindow::on_drag_data_get), this);
    g_signal_connect(win_, "drag-end", G_CALLBACK(&GtkNativeWindow::on_drag_end), this);
    g_signal_connect(win_, "drag-failed", G_CALLBACK(&GtkNativeWindow::on_drag_failed), this);
    drag_handlers_ = true;
  }

  // One pointer drags one thing: a drag still going is cancelled first, so that it
  // gives up its grab in order instead of having it taken away.
  for (GdkDragContext* going : std::vector<GdkDragContext*>(file_drags_)) {
    g_object_set_data(G_OBJECT(going), kReplacedKey, going);
    gtk_drag_cancel(going);
  }

  GtkTargetList* targets = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_uri_targets(targets, 0);
  int px = 0, py = 0;
  gdk_window_get_device_position(gw, pointer_device(), &px, &py, nullptr);
  GdkDragContext* ctx = gtk_drag_begin_with_coordinates(GTK_WIDGET(win_), targets, GDK_ACTION_COPY, 1, nullptr, px, py);
  gtk_target_list_unref(targets);
  if (!ctx) {
    delete drag;
    return false;
  }
  g_object_set_data_full(G_OBJECT(ctx), kFileDragKey, drag, +[](gpointer p) { delete static_cast<FileDrag*>(p); });
  file_drags_.push_back(ctx);
  set_drag_image(ctx, items, nullptr, {});

  auto* job = new DragImageJob;
  job->ctx = add_ref(ctx);
  job->cancel = add_ref(drag->cancel.get());
  for (const DragItem& it : items) job->paths.push_back(it.path);
  job->icon_path = icon_path;
  GObjectPtr<GTask> task(g_task_new(nullptr, job->cancel.get(), &drag_images_read, nullptr));
  g_task_set_task_data(task.get(), job, +[](gpointer p) { delete static_cast<DragImageJob*>(p); });
  g_task_run_in_thread(task.get(), &read_drag_images);
  return true;
}

// ---- application ----

void GtkApp::set_activation_policy(ActivationPolicy p) {
  policy_ = filtered_activation_policy(p);
  for (GtkNativeWindow* w : g_live) w->refresh_behavior();
}

void GtkApp::activate() {
  if (order_front_suppressed()) return;
  for (GtkNativeWindow* w : g_live)
    if (w->is_key()) return;
  if (g_last_key && g_last_key->visible()) {
    g_last_key->show();
    return;
  }
  for (auto it = g_live.rbegin(); it != g_live.rend(); ++it)
    if ((*it)->visible()) {
      (*it)->show();
      return;
    }
}

void GtkApp::hide() {
  hidden_ = true;
  for (GtkNativeWindow* w : std::vector<GtkNativeWindow*>(g_live))
    if (w->shown()) {
      hidden_windows_.push_back(w);
      w->hide();
    }
}

void GtkApp::unhide(bool activate_too) {
  if (order_front_suppressed()) return;
  hidden_ = false;
  std::vector<GtkNativeWindow*> again;
  again.swap(hidden_windows_);
  for (GtkNativeWindow* w : again) w->order_front_regardless();
  if (activate_too) activate();
}

}  // namespace

Application& gtk_application() { return g_app; }

std::unique_ptr<NativeWindow> GtkPlatform::make_window(const WindowParams& params) {
  return std::make_unique<GtkNativeWindow>(params);
}

}  // namespace platform::gtk
