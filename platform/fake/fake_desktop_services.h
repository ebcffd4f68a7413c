#pragma once
// Keys, system events and permission answers a test sets and fires.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/desktop_keys.h"
#include "platform/system_events.h"

namespace platform::fake {

class FakeDesktopKeys : public DesktopKeys {
 public:
  struct Grab {
    int code;
    std::uint32_t modifiers;
  };
  struct Posted {
    int code;
    std::uint64_t modifiers;
  };
  bool grab_hotkey(int code, std::uint32_t modifiers, std::uint32_t id) override {
    for (auto& [other, g] : grabs)
      if (g.code == code && g.modifiers == modifiers) return false;  // one owner per key
    for (auto& t : taken)
      if (t.code == code && t.modifiers == modifiers) return false;
    grabs[id] = {code, modifiers};
    return true;
  }
  void ungrab_hotkey(std::uint32_t id) override { grabs.erase(id); }
  void set_hotkey_handler(std::function<void(std::uint32_t)> h) override { handler = std::move(h); }
  bool can_post_keys() override { return trusted; }
  bool post_key(int code, std::uint64_t modifiers) override {
    posted.push_back({code, modifiers});
    return !missing_keys.count(code);
  }
  void set_first_click_policy(std::function<bool(WebView*)> p) override { first_click = std::move(p); }
  // A press of the grabbed key; nothing when no grab has it.
  void press(int code, std::uint32_t modifiers) {
    for (auto& [id, g] : grabs)
      if (g.code == code && g.modifiers == modifiers && handler) return handler(id);
  }

  std::map<std::uint32_t, Grab> grabs;
  std::vector<Grab> taken;  // keys another application holds
  std::vector<Posted> posted;
  std::set<int> missing_keys;  // keys the keyboard map lacks: posting them does nothing
  bool trusted = true;
  std::function<void(std::uint32_t)> handler;
  std::function<bool(WebView*)> first_click;
};

class FakeSystemEvents : public SystemEvents {
 public:
  bool dark_theme() override { return dark; }
  LocaleInfo locale() override { return info; }
  void set_handlers(SystemEventHandlers h) override {
    handlers = std::move(h);
    if (!theme_pending && handlers.theme_known) handlers.theme_known();
  }

  bool dark = false;
  bool theme_pending = false;  // the desktop has not said its theme yet: the test calls theme_known
  LocaleInfo info;
  SystemEventHandlers handlers;
};

// Answers at once from the fields; location answers wait when hold_location is
// set, until the test calls answer_location_*.
class FakePermissions : public Permissions {
 public:
  bool can_control_input() override { return input; }
  bool can_capture_screen() override { return screen; }
  void notification_server(std::function<void(bool)> done) override { done(notifications); }
  bool camera_usable() override { return camera; }
  void microphone_usable(std::function<void(bool)> done) override { done(microphone); }
  void location_status(std::function<void(Location)> done) override {
    if (hold_location) return status_waiting.push_back(std::move(done));
    done(location);
  }
  void location_request(std::function<void(Location)> done) override {
    ++prompts;
    prompt_waiting.push_back(std::move(done));
  }

  bool input = true, screen = true, notifications = true, camera = false, microphone = false;
  Location location = Location::kUndetermined;
  bool hold_location = false;
  int prompts = 0;
  std::vector<std::function<void(Location)>> status_waiting, prompt_waiting;
};

}  // namespace platform::fake
