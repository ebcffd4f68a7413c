#include "core/window_chrome.h"

#include <cmath>
#include <cstdio>

#include "base/wire_text.h"
#include "core/window_class.h"
#include "core/window_screens.h"

using platform::NativeWindow;
using platform::WindowButton;

bool g_chrome_frameless = false;
bool g_chrome_traffic = true;
bool g_chrome_transparent = false;
std::unique_ptr<EffectView> g_effect_view;
std::string g_chrome_vibrancy;
std::map<std::string, std::pair<double, double>> g_traffic_pos;
std::map<std::string, std::pair<double, double>> g_traffic_default;

namespace {

std::map<platform::WebView*, bool> g_first_mouse;

platform::Size content_size(NativeWindow* window) {
  Rect c = window->content_rect_for_frame(window->frame());
  return {c.w, c.h};
}

}  // namespace

int material_for(const std::string& name) {
  static const std::map<std::string, int> kMaterials = {
      {"titlebar", 3}, {"selection", 4}, {"menu", 5},        {"popover", 6},      {"sidebar", 7},
      {"header", 10},  {"sheet", 11},    {"window", 12},     {"hud", 13},         {"fullscreen", 15},
      {"tooltip", 17}, {"content", 18},  {"underwindow", 21}, {"underpage", 22},
  };
  auto it = kMaterials.find(name);
  return it == kMaterials.end() ? 7 : it->second;
}

std::unique_ptr<EffectView>* effect_slot_for(const std::string& id) {
  if (id.empty() || id == "main") return &g_effect_view;
  auto it = g_windows.find(id);
  return it == g_windows.end() ? nullptr : &it->second.effectView;
}

bool* transparent_slot_for(const std::string& id) {
  if (id.empty() || id == "main") return &g_chrome_transparent;
  auto it = g_windows.find(id);
  return it == g_windows.end() ? nullptr : &it->second.transparent;
}

void set_accepts_first_mouse(platform::WebView* webview, bool accepts) {
  if (webview) g_first_mouse[webview] = accepts;
}

bool get_accepts_first_mouse(platform::WebView* webview) {
  auto it = g_first_mouse.find(webview);
  return it != g_first_mouse.end() && it->second;
}

void forget_first_mouse(platform::WebView* webview) { g_first_mouse.erase(webview); }

void apply_traffic_pos_xy(NativeWindow* window, double x, double y) {
  if (window->style_mask() & platform::kStyleFullScreen) return;
  std::optional<Rect> close = window->button_frame(WindowButton::kClose);
  if (!close) return;
  double spacing = 20;
  if (auto mini = window->button_frame(WindowButton::kMinimize); mini && mini->x > close->x)
    spacing = mini->x - close->x;
  const WindowButton buttons[] = {WindowButton::kClose, WindowButton::kMinimize, WindowButton::kZoom};
  for (int i = 0; i < 3; ++i) {
    std::optional<Rect> f = window->button_frame(buttons[i]);
    if (!f) continue;  // a missing button still takes its slot
    window->set_button_frame(buttons[i], {x + spacing * i, y, f->w, f->h});
  }
}

void apply_traffic_pos(NativeWindow* window, const std::string& id) {
  auto it = g_traffic_pos.find(id);
  if (it != g_traffic_pos.end()) apply_traffic_pos_xy(window, it->second.first, it->second.second);
}

void set_traffic_pos(NativeWindow* window, const std::string& id, const std::string& value) {
  if (value == "default") {
    g_traffic_pos.erase(id);
    auto it = g_traffic_default.find(id);
    if (it != g_traffic_default.end()) apply_traffic_pos_xy(window, it->second.first, it->second.second);
    return;
  }
  double x = 0, y = 0;
  // nan and inf parse as numbers but are no position (and no JSON either).
  if (std::sscanf(value.c_str(), "%lf,%lf", &x, &y) != 2 || !std::isfinite(x) || !std::isfinite(y)) return;
  if (!g_traffic_default.count(id))
    if (std::optional<Rect> close = window->button_frame(WindowButton::kClose))
      g_traffic_default[id] = {close->x, close->y};
  g_traffic_pos[id] = {x, y};
  apply_traffic_pos(window, id);
}

void apply_square(NativeWindow* window, bool square) {
  const platform::Size s = content_size(window);
  const bool was_resizable = window->style_mask() & platform::kStyleResizable;
  if (square) {
    ensure_window_can_key(window);
    window->set_style_mask(platform::kStyleResizable);
    window->set_has_shadow(true);
    apply_expose_policy(window);
  } else {
    window->set_style_mask(platform::kStyleStandard);
  }
  if (!was_resizable) window->set_style_mask(window->style_mask() & ~platform::kStyleResizable);
  set_content_size_keep_top(window, s.w, s.h);
  if (square) window->show();
}

void apply_chrome_fields(NativeWindow* window, platform::WebView* webview, std::unique_ptr<EffectView>* effect_slot,
                         bool is_main, const ChromeReq& req) {
  const std::string& id = req.window;
  if (!req.titlebar.empty()) {
    const bool hidden = req.titlebar == "0";
    if (is_main) g_chrome_frameless = hidden;
    const platform::Size s = content_size(window);
    std::uint64_t mask = window->style_mask() & ~platform::kStyleFullScreen;
    if (hidden) {
      window->set_style_mask(mask | platform::kStyleFullSizeContentView);
      window->set_titlebar_appears_transparent(true);
      window->set_title_visible(false);
    } else {
      window->set_style_mask(mask & ~platform::kStyleFullSizeContentView);
      window->set_titlebar_appears_transparent(false);
      window->set_title_visible(true);
    }
    set_content_size_keep_top(window, s.w, s.h);
  }
  if (!req.buttons.empty()) {
    const bool all = req.buttons == "all", none = req.buttons == "none";
    auto wanted = [&](const char* name) { return all || (!none && req.buttons.find(name) != std::string::npos); };
    const bool close = wanted("close"), mini = wanted("minimize"), zoom = wanted("maximize");
    if (is_main) g_chrome_traffic = close || mini || zoom;
    window->set_button_visible(WindowButton::kClose, close);
    window->set_button_visible(WindowButton::kMinimize, mini);
    window->set_button_visible(WindowButton::kZoom, zoom);
  }
  if (!req.transparent.empty()) {
    const bool t = req.transparent == "1";
    if (bool* slot = transparent_slot_for(id)) *slot = t;
    window->set_opaque(!t);
    window->set_background_clear(t);
    window->set_has_shadow(!t);
    window->set_content_draws_background(!t);
  }
  if (!req.titlebar.empty() || !req.buttons.empty()) {
    // The main window remembers both halves; a further window needs both in one request.
    const bool hide = is_main ? (g_chrome_frameless && !g_chrome_traffic)
                              : (req.titlebar == "0" && req.buttons == "none");
    window->set_titlebar_hidden(hide);
    apply_traffic_pos(window, id);
  }
  if (!req.traffic.empty()) set_traffic_pos(window, id, req.traffic);
  if (!req.material.empty() && effect_slot) {
    effect_slot->reset();
    if (req.material == "none") {
      if (is_main) g_chrome_vibrancy.clear();
      bool* t = transparent_slot_for(id);
      if (!t || !*t) window->set_content_draws_background(true);
    } else {
      // Kept as state only: Linux has no material to draw behind the page.
      if (is_main) g_chrome_vibrancy = req.material;
      *effect_slot = std::make_unique<EffectView>(EffectView{req.material, material_for(req.material)});
    }
  }
  if (!req.square.empty()) apply_square(window, req.square == "1");
  if (!req.firstMouse.empty()) set_accepts_first_mouse(webview, req.firstMouse == "1");
}

ChromeReq chrome_req_from_setting(const std::string& value) {
  std::vector<std::string> f = split_tabs(value);
  f.resize(7);
  return ChromeReq{"main", f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
}

void do_chrome(void* w, std::unique_ptr<ChromeReq> r) {
  NativeWindow* window = window_for_id(w, r->window);
  platform::WebView* webview = webview_for_id(w, r->window);
  std::unique_ptr<EffectView>* slot = effect_slot_for(r->window);
  if (window && webview && slot) apply_chrome_fields(window, webview, slot, r->window == "main", *r);
}
