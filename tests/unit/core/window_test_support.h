#pragma once
// A fake desktop with two screens of different scales, a main window, the
// window-state observers and the wire captured, for the window command tests.

#include <string>
#include <vector>

#include "core/launcher.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_chrome.h"
#include "core/window_commands.h"
#include "core/window_ops.h"
#include "core/window_registry.h"
#include "core/window_screens.h"
#include "core/window_state.h"
#include "platform/webview_lib.h"
#include "test_support.h"

using platform::Rect;
using platform::ScreenInfo;
using platform::fake::FakeWebView;
using platform::fake::FakeWindow;

// The first screen: 1440 x 900 points at scale 2, a 24-point panel on top.
inline ScreenInfo laptop_screen() { return {70, {0, 0, 1440, 900}, {0, 0, 1440, 876}, 2.0}; }
// Right of it, tops aligned: 1920 x 1080 at scale 1.
inline ScreenInfo monitor_screen() { return {71, {1440, -180, 1920, 1080}, {1440, -180, 1920, 1080}, 1.0}; }

inline void reset_window_globals() {
  g_last_winstate.clear();
  g_traffic_pos.clear();
  g_traffic_default.clear();
  g_chrome_frameless = false;
  g_chrome_traffic = true;
  g_chrome_transparent = false;
  g_effect_view.reset();
  g_chrome_vibrancy.clear();
  g_geom_events = false;
  settings().hide_on_close = false;
  settings().rescue_on = true;
  settings().windowless = false;
  settings().defer_show = false;
  settings().accessory = false;
  settings().debug_on = false;
  settings().debug_open = false;
  settings().user_agent.clear();
}

class WindowTest : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    reset_window_globals();
    desktop.monitors.set({laptop_screen(), monitor_screen()});
    install_winstate_observers();
    if (with_main_window()) {
      platform::WindowParams p;
      p.title = "Main";
      p.width = 800;
      p.height = 600;
      g_w.store(webview_create(false, p));
      main_window()->set_frame({100, 200, 800, 628});
      main_window()->show();
    }
    wire.lines();  // what start-up sent is not the test's business
  }
  void TearDown() override {
    g_windows.clear();
    desktop.queue.drain();
    // The next test's view may get this one's address.
    if (main_view()) forget_first_mouse(main_view());
    if (void* w = g_w.exchange(nullptr)) webview_destroy(w);
    reset_window_globals();
    winstate_observers_reset_for_tests();
    FakeDesktopTest::TearDown();
  }
  virtual bool with_main_window() const { return true; }

  void* w() const { return g_w.load(); }
  FakeWindow* main_window() const { return static_cast<FakeWindow*>(webview_window(g_w.load())); }
  FakeWebView* main_view() const { return static_cast<FakeWebView*>(webview_view(g_w.load())); }
  FakeWindow* win(const std::string& id) const {
    auto it = g_windows.find(id);
    return it == g_windows.end() ? nullptr : static_cast<FakeWindow*>(it->second.window.get());
  }
  FakeWebView* view(const std::string& id) const {
    auto it = g_windows.find(id);
    return it == g_windows.end() ? nullptr : static_cast<FakeWebView*>(it->second.webview.get());
  }

  // Opens a window as WINOPEN would, from the fields of a parsed line.
  FakeWindow* open(const std::string& id, int width = 600, int height = 400) {
    auto r = std::make_unique<WinOpenReq>();
    r->id = id;
    r->width = width;
    r->height = height;
    do_winopen(w(), std::move(r));
    return win(id);
  }
  void winop(const std::string& id, const std::string& op) { do_winop(w(), std::make_unique<WinopReq>(id, op)); }
  // CHROME for a window; fields in record order (titlebar, buttons, transparent,
  // material, square, firstMouse, traffic), missing ones empty.
  void chrome(const std::string& id, std::vector<std::string> f) {
    f.resize(7);
    do_chrome(w(), std::make_unique<ChromeReq>(id, f[0], f[1], f[2], f[3], f[4], f[5], f[6]));
  }
  std::vector<std::string> lines() { return wire.lines(); }
  std::vector<std::string> lines_starting(const std::string& prefix) {
    std::vector<std::string> out;
    for (std::string& l : wire.lines())
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  static Rect content_of(FakeWindow* win) { return win->content_rect_for_frame(win->frame()); }

  WireCapture wire;
};

class WindowlessTest : public WindowTest {
 protected:
  bool with_main_window() const override { return false; }
  void SetUp() override {
    WindowTest::SetUp();
    settings().windowless = true;
  }
};
