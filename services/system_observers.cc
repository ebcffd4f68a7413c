#include "services/system_observers.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/json_out.h"
#include "core/launcher.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "core/window_screens.h"
#include "core/wire.h"
#include "platform/platform.h"
#include "platform/system_events.h"
#include "platform/webview_lib.h"

namespace {

std::uint32_t g_screen_generation = 0;

// The theme is told first once the desktop has said it, or after kThemeWaitMs
// with the best guess; a change is told only after that first line.
bool g_theme_told = false;
platform::TimerId g_theme_wait = 0;

void tell_first_theme() {
  if (g_theme_told) return;
  g_theme_told = true;
  platform::current().timers().cancel(g_theme_wait);
  g_theme_wait = 0;
  send_theme();
}

std::string array_text(const std::vector<std::string>& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += ",";
    out += json_escape(list[i]);
  }
  return out + "]";
}

void rescue_visible(platform::NativeWindow* window) {
  if (window && window->visible()) rescue_offscreen(window);
}

// A burst of screen changes tells the backend once, after it settles; the
// rescue runs after each change, and moves nothing already on screen.
void screens_changed() {
  const std::uint32_t g = ++g_screen_generation;
  platform::current().timers().once(500, [g] {
    if (g == g_screen_generation) sock_write_line("SYS screens");
    if (!settings().rescue_on) return;
    if (void* w = g_w.load()) rescue_visible(webview_window(w));
    for (auto& [id, qw] : g_windows) rescue_visible(qw.window.get());
  });
}

}  // namespace

void send_theme() {
  platform::SystemEvents* events = platform::system_events();
  sock_write_line(std::string("SYS theme ") + (events && events->dark_theme() ? "dark" : "light"));
}

std::string locale_json() {
  platform::LocaleInfo info;
  if (platform::SystemEvents* events = platform::system_events()) info = events->locale();
  const std::string language = info.preferred.empty() ? "en" : info.preferred.front();
  return "{\"language\":" + json_escape(language) + ",\"languages\":" + array_text(info.preferred) +
         ",\"system\":" + array_text(info.system ? *info.system : info.preferred) +
         ",\"region\":" + (info.region ? json_escape(*info.region) : std::string("null")) +
         ",\"timeZone\":" + json_escape(info.time_zone) + "}";
}

void install_system_observers() {
  g_theme_told = false;
  g_theme_wait = platform::current().timers().once(kThemeWaitMs, [] {
    g_theme_wait = 0;
    tell_first_theme();
  });
  if (platform::SystemEvents* events = platform::system_events()) {
    platform::SystemEventHandlers h;
    // One more hop, so the new value is read after every notice of the change.
    h.locale_changed = [] { platform::current().main_queue().post([] { sock_write_line("SYSLOCALE " + locale_json()); }); };
    h.theme_known = tell_first_theme;
    h.theme_changed = [] {
      if (g_theme_told) platform::current().main_queue().post(send_theme);
    };
    h.will_sleep = [] { sock_write_line("SYS sleep"); };
    h.did_wake = [] { sock_write_line("SYS wake"); };
    events->set_handlers(std::move(h));
  } else {
    tell_first_theme();
  }
  platform::current().screens().set_change_callback(screens_changed);
}
