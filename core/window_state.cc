#include "core/window_state.h"

#include "core/window_chrome.h"
#include "core/window_registry.h"
#include "core/window_screens.h"
#include "core/wire.h"

using platform::NativeWindow;
using platform::WindowNote;

std::map<std::string, std::string> g_last_winstate;
bool g_geom_events = false;

std::string winstate_json(NativeWindow* window) {
  // What the window system granted, not what was asked for: a request it refuses
  // must not leave the backend believing otherwise.
  const bool full = window->is_full_screen();
  auto b = [](bool v) { return v ? "true" : "false"; };
  std::string json = "{\"fullscreen\":";
  json += b(full);
  json += ",\"maximized\":";
  json += b(window->zoomed() && !full);
  json += ",\"minimized\":";
  json += b(window->miniaturized());
  json += ",\"focused\":";
  json += b(window->is_key());
  json += ",\"screenId\":" + std::to_string(screen_display_id(screen_of_window(window))) + "}";
  return json;
}

void emit_winstate(NativeWindow* window, const std::string& id) {
  std::string json = winstate_json(window);
  auto it = g_last_winstate.find(id);
  if (it != g_last_winstate.end() && it->second == json) return;
  g_last_winstate[id] = json;
  sock_write_line("WINSTATE " + id + " " + json);
}

namespace {
int g_observer_token = 0;
}  // namespace

void winstate_observers_reset_for_tests() {
  if (g_observer_token) platform::remove_window_observer(g_observer_token);
  g_observer_token = 0;
}

void install_winstate_observers() {
  if (g_observer_token) return;
  g_observer_token = platform::add_window_observer([](NativeWindow* window, WindowNote note) {
    const std::string id = winid_for_nswindow(window);
    if (id.empty()) return;
    if (note != WindowNote::kDidMove) apply_traffic_pos(window, id);
    emit_winstate(window, id);
    if (g_geom_events && (note == WindowNote::kDidMove || note == WindowNote::kDidResize))
      sock_write_line("WINGEOM " + id);
  });
}
