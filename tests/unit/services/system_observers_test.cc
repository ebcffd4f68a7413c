// Theme, locale, sleep, wake and screen changes as the backend hears them, on
// the fake desktop and its clock.

#include <algorithm>
#include <string>
#include <vector>

#include "services/system_observers.h"
#include "tests/unit/core/window_test_support.h"

using V = std::vector<std::string>;

class SystemObservers : public WindowTest {
 protected:
  platform::fake::FakeSystemEvents& events() { return desktop.events; }
  V lines() {
    desktop.queue.drain();
    return wire.lines();
  }
};

TEST_F(SystemObservers, TheThemeIsToldAtStartAndOnEachChange) {
  events().dark = true;
  install_system_observers();
  EXPECT_EQ(lines(), (V{"SYS theme dark"})) << "told once, though nothing changed";
  events().dark = false;
  events().handlers.theme_changed();
  EXPECT_EQ(lines(), (V{"SYS theme light"}));
  events().handlers.will_sleep();
  events().handlers.did_wake();
  EXPECT_EQ(lines(), (V{"SYS sleep", "SYS wake"}));
}

// Start-up never waits for the desktop's theme: the first line comes when the
// desktop has said it, or with the best guess after kThemeWaitMs; once either way.
TEST_F(SystemObservers, TheFirstThemeLineWaitsForTheDesktopOnce) {
  for (bool desktop_answers : {true, false}) {
    SCOPED_TRACE(desktop_answers ? "the desktop answers" : "the desktop never answers");
    events().theme_pending = true;
    events().dark = false;
    install_system_observers();
    EXPECT_EQ(lines(), V{}) << "nothing before the desktop has said its theme";
    events().dark = true;
    events().handlers.theme_changed();  // what the first line will say anyway
    desktop.clock.advance(kThemeWaitMs - 1);
    EXPECT_EQ(lines(), V{});
    if (desktop_answers) events().handlers.theme_known();
    desktop.clock.advance(1);
    EXPECT_EQ(lines(), (V{"SYS theme dark"}));
    events().handlers.theme_known();  // a late answer says nothing more
    desktop.clock.advance(kThemeWaitMs);
    EXPECT_EQ(lines(), V{});
    events().dark = false;
    events().handlers.theme_changed();
    EXPECT_EQ(lines(), (V{"SYS theme light"}));
  }
}

TEST_F(SystemObservers, TheLocaleObject) {
  struct Case {
    platform::LocaleInfo info;
    std::string json;
  };
  const std::vector<Case> cases = {
      {{}, R"({"language":"en","languages":[],"system":[],"region":null,"timeZone":""})"},
      {{{"de-DE", "en"}, std::nullopt, "DE", "Europe/Berlin"},
       R"({"language":"de-DE","languages":["de-DE","en"],"system":["de-DE","en"],"region":"DE","timeZone":"Europe/Berlin"})"},
      {{{"fr"}, std::vector<std::string>{"en-US"}, std::nullopt, "UTC"},
       R"({"language":"fr","languages":["fr"],"system":["en-US"],"region":null,"timeZone":"UTC"})"},
      {{{"x\"y"}, std::vector<std::string>{}, "\\", "A/B"},
       R"({"language":"x\"y","languages":["x\"y"],"system":[],"region":"\\","timeZone":"A/B"})"},
  };
  for (const auto& c : cases) {
    events().info = c.info;
    EXPECT_EQ(locale_json(), c.json);
  }
  install_system_observers();
  lines();
  events().info = cases[1].info;
  events().handlers.locale_changed();
  EXPECT_EQ(lines(), (V{"SYSLOCALE " + cases[1].json}));
}

TEST_F(SystemObservers, ABurstOfScreenChangesIsToldOnceAfterItSettles) {
  install_system_observers();
  lines();
  for (int i = 0; i < 3; ++i) {
    desktop.monitors.set({laptop_screen(), monitor_screen()});
    desktop.clock.advance(100);
    EXPECT_EQ(lines(), V{}) << i;
  }
  desktop.clock.advance(399);
  EXPECT_EQ(lines(), V{}) << "not before 500 ms after the last change";
  desktop.clock.advance(1);
  EXPECT_EQ(lines(), (V{"SYS screens"}));
  desktop.clock.advance(2000);
  EXPECT_EQ(lines(), V{});
}

TEST_F(SystemObservers, WindowsLeftOffScreenAreRescuedWhenRescueIsOn) {
  install_system_observers();
  FakeWindow* shown = open("shown");
  FakeWindow* hidden = open("hidden");
  shown->show();
  hidden->hide();
  lines();
  const Rect on_monitor{2000, 100, 400, 300};
  for (bool rescue : {false, true}) {
    settings().rescue_on = rescue;
    desktop.monitors.set({laptop_screen(), monitor_screen()});
    main_window()->set_frame(on_monitor);
    shown->set_frame(on_monitor);
    hidden->set_frame(on_monitor);
    // The monitor goes away.
    desktop.monitors.set({laptop_screen()});
    desktop.clock.advance(500);
    const V heard = lines();
    EXPECT_NE(std::find(heard.begin(), heard.end(), "SYS screens"), heard.end());
    const bool main_on = main_window()->frame().x + main_window()->frame().w <= 1440;
    const bool shown_on = shown->frame().x + shown->frame().w <= 1440;
    EXPECT_EQ(main_on, rescue);
    EXPECT_EQ(shown_on, rescue);
    EXPECT_EQ(hidden->frame(), on_monitor) << "hidden windows are never moved";
  }
}
