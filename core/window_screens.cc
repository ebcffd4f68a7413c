#include "core/window_screens.h"

#include <algorithm>

#include "core/launcher.h"
#include "core/window_registry.h"
#include "platform/platform.h"
#include "platform/webview_lib.h"

namespace {

double overlap_area(const Rect& a, const Rect& b) {
  const double w = std::min(a.x + a.w, b.x + b.w) - std::max(a.x, b.x);
  const double h = std::min(a.y + a.h, b.y + b.h) - std::max(a.y, b.y);
  return (w > 0 && h > 0) ? w * h : 0;
}

}  // namespace

std::vector<ScreenInfo> screens_now() { return platform::current().screens().list(); }

std::uint32_t screen_display_id(const std::optional<ScreenInfo>& screen) { return screen ? screen->display_id : 0; }

std::optional<ScreenInfo> screen_for_display_id(long long id) {
  if (id < 0) return std::nullopt;
  for (const ScreenInfo& s : screens_now())
    if (static_cast<long long>(s.display_id) == id) return s;
  return std::nullopt;
}

std::optional<ScreenInfo> screen_for_rect(const Rect& rect, const std::vector<ScreenInfo>& screens) {
  std::optional<ScreenInfo> best;
  double best_area = 0;
  for (const ScreenInfo& s : screens) {
    const double area = overlap_area(rect, s.frame);
    if (area > best_area) {
      best_area = area;
      best = s;
    }
  }
  return best;
}

std::optional<ScreenInfo> screen_for_rect(const Rect& rect) { return screen_for_rect(rect, screens_now()); }

std::optional<ScreenInfo> main_screen() {
  std::vector<ScreenInfo> screens = screens_now();
  if (screens.empty()) return std::nullopt;
  platform::NativeWindow* key = nullptr;
  if (platform::NativeWindow* m = webview_window(g_w.load()); m && m->is_key()) key = m;
  for (auto& [id, qw] : g_windows)
    if (!key && qw.window && qw.window->is_key()) key = qw.window.get();
  if (key)
    if (auto s = screen_for_rect(key->frame(), screens)) return s;
  return screens.front();
}

std::optional<ScreenInfo> screen_of_window(platform::NativeWindow* window) {
  if (!window) return main_screen();
  std::vector<ScreenInfo> screens = screens_now();
  if (auto s = screen_for_rect(window->frame(), screens)) return s;
  if (auto id = window->screen_id())
    for (const ScreenInfo& s : screens)
      if (s.display_id == *id) return s;
  return main_screen();
}

double primary_top() {
  std::vector<ScreenInfo> screens = screens_now();
  return screens.empty() ? 0 : screens[0].frame.y + screens[0].frame.h;
}

void set_frame_top_left(platform::NativeWindow* window, double x, double top) {
  Rect f = window->frame();
  f.x = x;
  f.y = top - f.h;
  window->set_frame(f);
}

void set_content_size_keep_top(platform::NativeWindow* window, double w, double h) {
  const Rect old = window->frame();
  Rect f = window->frame_rect_for_content({0, 0, w, h});
  f.x = old.x;
  f.y = old.y + old.h - f.h;
  window->set_frame(f);
}

void center_window(platform::NativeWindow* window) {
  std::optional<ScreenInfo> s = screen_of_window(window);
  if (!s) return;
  const Rect& v = s->visible_frame;
  Rect f = window->frame();
  f.x = v.x + (v.w - f.w) / 2;
  f.y = v.y + (v.h - f.h) / 2;
  window->set_frame(f);
}

std::optional<Rect> rescued_frame(const Rect& f, const std::vector<ScreenInfo>& screens) {
  for (const ScreenInfo& s : screens) {
    const Rect& v = s.visible_frame;
    const double w = std::min(f.x + f.w, v.x + v.w) - std::max(f.x, v.x);
    const double h = std::min(f.y + f.h, v.y + v.h) - std::max(f.y, v.y);
    if (w >= 24 && h >= 24) return std::nullopt;
  }
  const double cx = f.x + f.w / 2, cy = f.y + f.h / 2;
  const ScreenInfo* nearest = nullptr;
  double best = 0;
  for (const ScreenInfo& s : screens) {
    const Rect& v = s.visible_frame;
    const double dx = v.x + v.w / 2 - cx, dy = v.y + v.h / 2 - cy;
    const double d = dx * dx + dy * dy;
    if (!nearest || d < best) {
      nearest = &s;
      best = d;
    }
  }
  if (!nearest) return std::nullopt;
  const Rect& v = nearest->visible_frame;
  const double x = std::max(std::min(f.x, v.x + v.w - f.w), v.x);
  double top = std::min(f.y + f.h, v.y + v.h);
  if (f.h > v.h) {
    // Taller than the screen and still below it: bring the title bar to the top,
    // or the window stays out of reach.
    if (top < v.y + 24) top = v.y + v.h;
  } else if (top - f.h < v.y) {
    top = v.y + f.h;
  }
  return Rect{x, top - f.h, f.w, f.h};
}

void rescue_offscreen(platform::NativeWindow* window) {
  if (!window) return;
  if (auto f = rescued_frame(window->frame(), screens_now())) window->set_frame(*f);
}
