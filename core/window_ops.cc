#include "core/window_ops.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/settings.h"
#include "core/window_class.h"
#include "core/window_registry.h"
#include "core/window_screens.h"
#include "core/window_state.h"

using platform::NativeWindow;

namespace {

// Windows waiting to leave full screen before entering it on other screens: the
// screen of each request, in the order they came, and the observer of the exit.
struct Reentry {
  int observer = 0;
  std::vector<std::uint32_t> screens;
  // Still on its way into full screen: it is asked out once it is in. Asking out
  // before the window manager has answered the way in could make the two cancel out
  // unseen, and the exit that the requests wait for would never come.
  bool leave_once_in = false;
};
std::map<NativeWindow*, Reentry> g_fs_reentry;

bool starts(const std::string& s, const char* prefix, std::string* rest) {
  const std::string p(prefix);
  if (s.compare(0, p.size(), p) != 0) return false;
  *rest = s.substr(p.size());
  return true;
}

platform::Application* app() { return platform::application(); }

// The application-level verbs of windowless mode.
void app_verb(const std::string& op) {
  platform::Application* a = app();
  if (!a) return;
  if (op == "presence 0") {
    a->set_activation_policy(platform::ActivationPolicy::kAccessory);
  } else if (op == "presence 1") {
    settings().accessory = false;
    a->set_activation_policy(platform::ActivationPolicy::kRegular);
  } else if (op == "hide") {
    a->hide();
  } else if (op == "show" || op == "show 1") {
    a->unhide(true);
  } else if (op == "show 0") {
    a->unhide(false);
  }
}

void grow_to_min_size(NativeWindow* win, int w, int h) {
  win->set_content_min_size({double(w), double(h)});
  Rect c = win->content_rect_for_frame(win->frame());
  if (w > c.w || h > c.h) set_content_size_keep_top(win, std::max(double(w), c.w), std::max(double(h), c.h));
}

}  // namespace

long level_for_name(const std::string& name) {
  if (name == "desktop") return platform::kLevelDesktop;
  if (name == "overlay") return platform::kLevelOverlay;
  if (name == "floating") return platform::kLevelFloating;
  return platform::kLevelNormal;
}

void forget_fullscreen_reentry(NativeWindow* window) {
  auto it = g_fs_reentry.find(window);
  if (it == g_fs_reentry.end()) return;
  platform::remove_window_observer(it->second.observer);
  g_fs_reentry.erase(it);
}

void fullscreen_on_screen(NativeWindow* window, std::uint32_t display_id) {
  std::optional<ScreenInfo> screen = screen_for_display_id(display_id);
  if (!screen) return;
  const bool full = window->style_mask() & platform::kStyleFullScreen;
  auto waiting = g_fs_reentry.find(window);
  if (full && waiting == g_fs_reentry.end() && screen_display_id(screen_of_window(window)) == display_id) return;
  if (full || waiting != g_fs_reentry.end()) {
    // Leave full screen here first, then come back for the other screen. A window
    // still leaving for an earlier request is not asked again: this request waits
    // behind that one, and once the window is out every request is carried out in
    // the order it came. A window that closes first is forgotten.
    if (waiting == g_fs_reentry.end()) {
      waiting = g_fs_reentry.emplace(window, Reentry{}).first;
      waiting->second.observer = platform::add_window_observer([window](NativeWindow* w, platform::WindowNote n) {
        auto it = g_fs_reentry.find(window);
        if (w != window || it == g_fs_reentry.end()) return;
        if (n == platform::WindowNote::kDidEnterFullScreen && it->second.leave_once_in) {
          it->second.leave_once_in = false;
          if (window->style_mask() & platform::kStyleFullScreen) window->toggle_full_screen();
          return;
        }
        if (n != platform::WindowNote::kDidExitFullScreen) return;
        std::vector<std::uint32_t> screens = std::move(it->second.screens);
        forget_fullscreen_reentry(window);
        for (std::uint32_t id : screens) fullscreen_on_screen(window, id);
      });
    }
    Reentry& reentry = waiting->second;
    reentry.screens.push_back(display_id);
    if (full && !reentry.leave_once_in) {
      if (window->is_full_screen())
        window->toggle_full_screen();  // may run the requests at once, reentry included
      else
        reentry.leave_once_in = true;
    }
    return;
  }
  const Rect& v = screen->visible_frame;
  Rect f = window->frame();
  f.w = std::min(f.w, v.w);
  f.h = std::min(f.h, v.h);
  f.x = v.x + v.w / 2 - f.w / 2;
  f.y = v.y + v.h / 2 - f.h / 2;
  window->set_frame(f);
  window->toggle_full_screen();
}

void do_winop(void* w, std::unique_ptr<WinopReq> r) {
  const std::string& op = r->op;
  if (op == "geom 1" || op == "geom 0") {
    g_geom_events = op.back() == '1';
    return;
  }
  NativeWindow* win = window_for_id(w, r->window);
  const bool is_main = r->window == "main";
  if (is_main && !win && settings().windowless) {
    app_verb(op);
    return;
  }
  if (!win) return;
  platform::Application* a = app();
  std::string rest;

  if (op == "hide") {
    if (is_main && !is_panel(win) && a)
      a->hide();
    else
      win->hide();
  } else if (op == "hidewin") {
    win->hide();
  } else if (op == "show" || op == "show 1") {
    if (is_main) settings().defer_show = false;
    if (is_panel(win)) {
      if (a) a->unhide(false);
      panel_front(win);
    } else {
      if (a) a->unhide(true);
      win->show();
    }
  } else if (op == "show 0") {
    if (is_main) settings().defer_show = false;
    if (a) a->unhide(false);
    win->order_front_regardless();
  } else if (op == "presence 0") {
    if (is_main && a) a->set_activation_policy(platform::ActivationPolicy::kAccessory);
  } else if (op == "presence 1") {
    if (is_main) {
      settings().accessory = false;
      if (a) {
        a->set_activation_policy(platform::ActivationPolicy::kRegular);
        a->activate();
      }
    }
  } else if (op == "hideonclose 1" || op == "hideonclose 0") {
    settings().hide_on_close = op.back() == '1';
  } else if (op == "center") {
    center_window(win);
  } else if (op == "minimize") {
    win->miniaturize();
  } else if (op == "restore") {
    win->deminiaturize();
  } else if (op == "zoom") {
    win->zoom();
  } else if (op == "fullscreen") {
    win->toggle_full_screen();
  } else if (op == "fullscreen 1" || op == "fullscreen 0") {
    const bool wanted = op.back() == '1';
    const bool current = win->style_mask() & platform::kStyleFullScreen;
    if (wanted != current) win->toggle_full_screen();
  } else if (op == "ontop 1" || op == "ontop 0") {
    win->set_level(op.back() == '1' ? platform::kLevelFloating : platform::kLevelNormal);
  } else if (op == "resizable 1" || op == "resizable 0") {
    const std::uint64_t mask = win->style_mask() & ~platform::kStyleFullScreen;
    win->set_style_mask(op.back() == '1' ? mask | platform::kStyleResizable : mask & ~platform::kStyleResizable);
  } else if (op == "clickthrough 1" || op == "clickthrough 0") {
    win->set_ignores_mouse_events(op.back() == '1');
    apply_expose_policy(win);
  } else if (starts(op, "level ", &rest)) {
    win->set_level(level_for_name(rest));
    apply_expose_policy(win);
  } else if (op == "allspaces 1" || op == "allspaces 0") {
    const std::uint64_t bits = platform::kBehaviorCanJoinAllSpaces | platform::kBehaviorFullScreenAuxiliary;
    const std::uint64_t b = win->collection_behavior();
    win->set_collection_behavior(op.back() == '1' ? b | bits : b & ~bits);
  } else if (starts(op, "minsize ", &rest)) {
    int mw = 0, mh = 0;
    if (std::sscanf(rest.c_str(), "%dx%d", &mw, &mh) == 2 && mw > 0 && mh > 0) grow_to_min_size(win, mw, mh);
  } else if (starts(op, "zoomfactor ", &rest)) {
    const double z = std::atof(rest.c_str());
    if (webview_for_id(w, r->window) && z >= 0.25 && z <= 5.0) win->set_content_zoom(z);
  } else if (starts(op, "pos ", &rest)) {
    int x = 0, y = 0;
    if (std::sscanf(rest.c_str(), "%d %d", &x, &y) == 2) {
      std::vector<ScreenInfo> screens = screens_now();
      const Rect s = screens.empty() ? Rect{} : screens[0].frame;
      set_frame_top_left(win, x, s.y + s.h - y);
    }
  } else if (starts(op, "spos ", &rest)) {
    long id = 0;
    double x = 0, y = 0;
    char unit[4] = "pt";
    const int n = std::sscanf(rest.c_str(), "%ld %lf %lf %3s", &id, &x, &y, unit);
    std::optional<ScreenInfo> s = n >= 3 ? screen_for_display_id(id) : std::nullopt;
    if (s && std::isfinite(x) && std::isfinite(y)) {
      if (std::string(unit) == "px" && s->scale > 0) {
        x /= s->scale;
        y /= s->scale;
      }
      set_frame_top_left(win, s->frame.x + x, s->frame.y + s->frame.h - y);
    }
  } else if (starts(op, "pxsize ", &rest)) {
    int pw = 0, ph = 0;
    if (std::sscanf(rest.c_str(), "%d %d", &pw, &ph) == 2 && pw > 0 && ph > 0) {
      std::optional<ScreenInfo> s = screen_of_window(win);
      const double scale = s && s->scale > 0 ? s->scale : 1.0;
      set_content_size_keep_top(win, pw / scale, ph / scale);
    }
  } else if (starts(op, "fsscreen ", &rest)) {
    const long long id = std::atoll(rest.c_str());
    if (id >= 0 && screen_for_display_id(id)) fullscreen_on_screen(win, std::uint32_t(id));
  } else if (op == "onscreen") {
    rescue_offscreen(win);
  } else if (op == "rescue 0" || op == "rescue 1") {
    settings().rescue_on = op.back() == '1';
  }
}
