#include "services/get_windows.h"

#include <vector>

#include "core/window_chrome.h"
#include "core/window_registry.h"
#include "core/window_screens.h"
#include "platform/webview_lib.h"
#include "base/json_out.h"

using platform::NativeWindow;
using platform::Point;
using platform::Rect;
using platform::ScreenInfo;
using platform::WindowButton;

namespace {

const char* level_name(long level) {
  if (level == platform::kLevelDesktop) return "desktop";
  if (level == platform::kLevelOverlay) return "overlay";
  if (level == platform::kLevelFloating) return "floating";
  return "normal";
}

// The screen the window system counts the window on, else the key window's.
std::optional<ScreenInfo> own_screen(NativeWindow* window, const std::vector<ScreenInfo>& screens) {
  if (auto id = window->screen_id())
    for (const ScreenInfo& s : screens)
      if (s.display_id == *id) return s;
  return main_screen();
}

std::string chrome_json(NativeWindow* window, platform::WebView* webview, const std::string& id) {
  const std::uint64_t mask = window->style_mask();
  const bool titled = mask & platform::kStyleTitled;
  const bool full_size = mask & platform::kStyleFullSizeContentView;
  std::string controls = "[";
  if (titled) {
    static const std::pair<WindowButton, const char*> kButtons[] = {
        {WindowButton::kClose, "close"}, {WindowButton::kMinimize, "minimize"}, {WindowButton::kZoom, "maximize"}};
    for (const auto& [button, name] : kButtons) {
      if (!window->button_visible(button)) continue;
      if (controls.size() > 1) controls += ',';
      controls += '"';
      controls += name;
      controls += '"';
    }
  }
  controls += ']';
  const bool vibrancy = id == "main" && !g_chrome_vibrancy.empty();
  return JsonObject()
      .boolean("frame", titled && !(full_size && window->titlebar_appears_transparent()))
      .raw("windowControls", controls)
      .raw("windowControlsPos", traffic_pos_json(id))
      .boolean("transparent", !window->is_opaque())
      .raw("vibrancy", vibrancy ? json_text(g_chrome_vibrancy) : "null")
      .boolean("squareCorners", !titled)
      .boolean("acceptsFirstMouse", get_accepts_first_mouse(webview))
      .str();
}

void add_screen_fields(JsonObject& o, NativeWindow* window) {
  const std::optional<ScreenInfo> s = screen_of_window(window);
  const Rect sf = s ? s->frame : Rect{};
  const double scale = s ? s->scale : 0;
  const Rect frame = window->frame();
  const Rect content = window->content_rect_for_frame(frame);
  const double local_x = frame.x - sf.x;
  const double local_y = (sf.y + sf.h) - (frame.y + frame.h);
  o.raw("screenId", std::to_string(screen_display_id(s)))
      .raw("local", JsonObject().raw("x", json_round(local_x)).raw("y", json_round(local_y)).str())
      .raw("pixels", JsonObject()
                         .raw("x", json_round(local_x * scale))
                         .raw("y", json_round(local_y * scale))
                         .raw("width", json_round(content.w * scale))
                         .raw("height", json_round(content.h * scale))
                         .str());
}

// A rectangle as top-left x, y and its size.
JsonObject& add_rect(JsonObject& o, const Rect& r, double top) {
  return o.integer("x", r.x).integer("y", top - (r.y + r.h)).integer("width", r.w).integer("height", r.h);
}

}  // namespace

bool mouse_in_rect(Point p, const Rect& r) { return p.x >= r.x && p.x < r.x + r.w && p.y > r.y && p.y <= r.y + r.h; }

std::string windows_json(void* w) {
  std::string out = w ? "[\"main\"" : "[";
  for (const auto& [id, qw] : g_windows) {
    if (out.size() > 1) out += ',';
    json_escape_into(out, id);
  }
  return out + "]";
}

std::string window_json(void* w, const std::string& id) {
  NativeWindow* window = window_for_id(w, id);
  if (!window) return "null";
  platform::WebView* webview = webview_for_id(w, id);
  const std::vector<ScreenInfo> screens = screens_now();
  const double top = screens.empty() ? 0 : screens[0].frame.y + screens[0].frame.h;
  const Rect frame = window->frame();
  const Rect content = window->content_rect_for_frame(frame);
  const std::uint64_t mask = window->style_mask();
  const long level = window->level();
  const std::optional<ScreenInfo> screen = own_screen(window, screens);
  JsonObject o;
  o.integer("x", frame.x)
      .integer("y", top - (frame.y + frame.h))
      .integer("width", content.w)
      .integer("height", content.h)
      .raw("outer", JsonObject().integer("width", frame.w).integer("height", frame.h).str())
      .boolean("fullscreen", window->is_full_screen())  // as granted, not as asked
      .boolean("minimized", window->miniaturized())
      .boolean("visible", window->visible())
      .boolean("focused", window->is_key())
      .boolean("alwaysOnTop", level != 0)
      .boolean("resizable", mask & platform::kStyleResizable)
      .boolean("clickThrough", window->ignores_mouse_events())
      .text("level", level_name(level))
      .boolean("allSpaces", window->collection_behavior() & platform::kBehaviorCanJoinAllSpaces)
      .raw("chrome", chrome_json(window, webview, id))
      .raw("screen", JsonObject()
                         .integer("width", screen ? screen->frame.w : 0)
                         .integer("height", screen ? screen->frame.h : 0)
                         .raw("scale", json_fixed(screen ? screen->scale : 0, 2))
                         .str());
  add_screen_fields(o, window);
  return o.str();
}

std::string window_screen_fields(NativeWindow* window) {
  JsonObject o;
  add_screen_fields(o, window);
  const std::string s = o.str();
  return s.substr(1, s.size() - 2);
}

std::string mouse_json(void* w, const std::string& id) {
  platform::SystemInfo* info = platform::system_info();
  const Point m = (info ? info->mouse_location() : std::nullopt).value_or(Point{});
  const std::vector<ScreenInfo> screens = screens_now();
  const double top = screens.empty() ? 0 : screens[0].frame.y + screens[0].frame.h;
  std::optional<ScreenInfo> screen;
  for (const ScreenInfo& s : screens)
    if (mouse_in_rect(m, s.frame)) {
      screen = s;
      break;
    }
  if (!screen) screen = main_screen();
  std::string window_member = "null";
  if (NativeWindow* window = window_for_id(w, id)) {
    const Rect c = window->content_rect_for_frame(window->frame());
    window_member = JsonObject()
                        .integer("x", m.x - c.x)
                        .integer("y", (c.y + c.h) - m.y)
                        .boolean("inside", mouse_in_rect(m, c))
                        .str();
  }
  const Rect sf = screen ? screen->frame : Rect{};
  JsonObject s;
  s.raw("id", std::to_string(screen_display_id(screen)));
  add_rect(s, sf, top).raw("scale", json_fixed(screen ? screen->scale : 0, 2));
  return JsonObject()
      .integer("x", m.x)
      .integer("y", top - m.y)
      .raw("window", window_member)
      .raw("screen", s.str())
      .str();
}

std::string screen_json(const ScreenInfo& screen, bool primary, double top) {
  platform::SystemInfo* info = platform::system_info();
  const platform::ScreenDetails details = info ? info->screen_details(screen.display_id) : platform::ScreenDetails{};
  const Rect& f = screen.frame;
  const Rect& v = screen.visible_frame;
  const double k = screen.scale;
  JsonObject o;
  o.raw("id", std::to_string(screen.display_id))
      // Without an identifier of its own a screen is known by its display id.
      .text("uid", details.uid.empty() ? std::to_string(screen.display_id) : details.uid)
      .text("name", details.name);
  add_rect(o, f, top);
  JsonObject visible;
  add_rect(visible, v, top);
  o.raw("visible", visible.str())
      .raw("scale", json_fixed(k, 2))
      .boolean("primary", primary)
      .boolean("internal", details.internal)
      .raw("pixels", JsonObject()
                         .raw("width", json_round(f.w * k))
                         .raw("height", json_round(f.h * k))
                         .raw("visible", JsonObject()
                                             .raw("x", json_round((v.x - f.x) * k))
                                             .raw("y", json_round(((f.y + f.h) - (v.y + v.h)) * k))
                                             .raw("width", json_round(v.w * k))
                                             .raw("height", json_round(v.h * k))
                                             .str())
                         .str());
  return o.str();
}

std::string screens_json() {
  const std::vector<ScreenInfo> screens = screens_now();
  std::string out = "[";
  for (size_t i = 0; i < screens.size(); ++i) {
    if (i) out += ',';
    out += screen_json(screens[i], i == 0, screens[0].frame.y + screens[0].frame.h);
  }
  return out + "]";
}

std::optional<ScreenInfo> foreground_screen() {
  platform::SystemInfo* info = platform::system_info();
  if (!info) return std::nullopt;
  const std::vector<ScreenInfo> screens = screens_now();
  const std::optional<platform::AppIdentity> front = info->frontmost_app();
  const long pid = front ? front->pid : 0;
  // A window whose owner is not known belongs to no application, not to "none".
  if (pid != 0)
    if (auto list = info->onscreen_windows())
      for (const platform::OnscreenWindow& win : *list) {
        if (!win.normal_layer || win.pid != pid || !win.frame) continue;
        if (auto s = screen_for_rect(*win.frame, screens)) return s;
      }
  const Point m = info->mouse_location().value_or(Point{});
  for (const ScreenInfo& s : screens)
    if (mouse_in_rect(m, s.frame)) return s;
  return std::nullopt;
}

std::string fgscreen_json() {
  std::optional<ScreenInfo> s = foreground_screen();
  return s ? std::to_string(s->display_id) : "null";
}

std::string traffic_pos_json(const std::string& id) {
  auto it = g_traffic_pos.find(id);
  if (it == g_traffic_pos.end()) return "null";
  return JsonObject().raw("x", json_g(it->second.first)).raw("y", json_g(it->second.second)).str();
}

std::string trafficpos_debug_json(void* w) {
  NativeWindow* window = w ? webview_window(w) : nullptr;
  // The buttons exist only on a titled window; the desktop may draw them itself.
  std::optional<Rect> close;
  if (window && (window->style_mask() & platform::kStyleTitled) && window->button_visible(WindowButton::kClose))
    close = window->button_frame(WindowButton::kClose);
  if (!close) return "{\"hidden\":true}";
  // Button frames are measured from the title bar's top edge already.
  return JsonObject().raw("fromTop", json_fixed(close->y, 1)).raw("x", json_fixed(close->x, 1)).str();
}
