#pragma once
// System information a test sets. The sources that answer later (power, Wi-Fi,
// selected text) answer at once, unless the test holds their questions to answer,
// drop or ignore them itself.

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/system_info.h"

namespace platform::fake {

class FakeSystemInfo : public SystemInfo {
 public:
  void power_source(std::function<void(std::optional<PowerSource>)> done) override;
  void wifi(std::function<void(std::optional<WifiLink>)> done) override;
  void selected_text(std::function<void(std::optional<std::string>)> done) override;
  std::optional<double> idle_seconds() override { return check(idle); }
  std::optional<AppIdentity> frontmost_app() override { return check(frontmost); }
  std::optional<std::vector<RunningApp>> running_apps() override { return check(apps); }
  std::optional<std::vector<OnscreenWindow>> onscreen_windows() override { return check(onscreen); }
  std::optional<Point> mouse_location() override { return check(mouse); }
  ScreenDetails screen_details(std::uint32_t display_id) override {
    check(0);
    auto it = screens.find(display_id);
    return it == screens.end() ? ScreenDetails{} : it->second;
  }

  std::optional<PowerSource> power;
  std::optional<WifiLink> link;
  std::optional<std::string> selection;
  std::optional<double> idle;
  std::optional<AppIdentity> frontmost;
  std::optional<std::vector<RunningApp>> apps;
  std::optional<std::vector<OnscreenWindow>> onscreen;
  std::optional<Point> mouse;
  std::map<std::uint32_t, ScreenDetails> screens;

  // While set, questions wait here instead of being answered; each entry answers
  // its question with the value set above when called.
  bool hold = false;
  std::vector<std::function<void()>> held;
  // Every question throws, as a failing desktop call would.
  bool fail = false;

 private:
  template <class T>
  const T& check(const T& v) const {
    if (fail) throw std::runtime_error("the desktop failed");
    return v;
  }
};

}  // namespace platform::fake
