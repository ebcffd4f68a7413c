#pragma once
// A fake desktop whose main window's view has the navigation delegate, with the
// wire captured and the navigation and popup state reset around each test.

#include <string>
#include <vector>

#include "core/page_bridge.h"
#include "tests/unit/core/window_test_support.h"
#include "core/window_observers.h"
#include "webui/navigation.h"
#include "webui/popups.h"

using platform::LoadError;
using platform::NavigationAction;
using platform::NavigationResponse;
using platform::Policy;
using platform::WindowFeatures;

using platform::fake::FakeDecision;

class NavTest : public WindowTest {
 protected:
  void SetUp() override {
    navigation_reset_for_tests();
    popups_reset_for_tests();
    settings().popups.clear();
    settings().html_path.clear();
    WindowTest::SetUp();
    if (main_view()) quib_apply_web_delegates(main_view());
  }
  void TearDown() override {
    WindowTest::TearDown();
    navigation_reset_for_tests();
    popups_reset_for_tests();
    settings().popups.clear();
    settings().html_path.clear();
  }
  // Runs one command line through the reader and its handler.
  void command(const std::string& line) {
    CommandReader reader;
    reader.handle_line(line);
    desktop.queue.drain();
  }
  void advance(double ms) { desktop.clock.advance(ms); }
  void disconnect() { wire_reset_for_tests(); }
  const std::vector<std::string>& opened() const { return desktop.opened; }
  // Lines written while no backend is connected (they wait for one).
  std::vector<std::string> waiting_lines() const {
    std::lock_guard<std::mutex> lock(g_write_mutex);
    return {g_pending_out.begin(), g_pending_out.end()};
  }
};
