#pragma once
// A fake desktop with two monitors, a scripted capture service, a private temporary
// folder and the wire read back.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/fake/fake_capture.h"
#include "services/screen_capture.h"
#include "tests/unit/core/test_support.h"

class CaptureTest : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    recorder_reset_for_tests();
    platform::install_screen_capture(&cap);
    char tmpl[] = "/tmp/quibex-capture-test-XXXXXX";
    dir = mkdtemp(tmpl);
    desktop.tmp_dir = dir + "/";
    platform::ScreenInfo a, b;
    a.display_id = 7;
    a.frame = {0, 0, 1512, 982};
    a.scale = 2;
    b.display_id = 9;
    b.frame = {1512, 0, 800, 600};
    desktop.monitors.set({a, b});
  }
  void TearDown() override {
    drain();
    platform::install_screen_capture(nullptr);
    recorder_reset_for_tests();
    std::filesystem::remove_all(dir);
    FakeDesktopTest::TearDown();
  }
  // Runs the main queue and the recorder's queue until both are idle.
  void drain() {
    for (int i = 0; i < 100; ++i) {
      size_t n = desktop.queue.drain();
      if (auto* q = dynamic_cast<platform::fake::FakeSerialQueue*>(recorder_queue_for_tests())) n += q->drain();
      if (n == 0) return;
    }
  }
  template <class T>
  void run(void (*handler)(void*, std::unique_ptr<T>), T record) {
    handler(nullptr, std::make_unique<T>(std::move(record)));
    drain();
  }
  std::vector<std::string> lines() { return wire.lines(); }
  static bool exists(const std::string& p) { return access(p.c_str(), F_OK) == 0; }
  static std::string slurp(const std::string& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  WireCapture wire;
  platform::fake::FakeCapture cap;
  std::string dir;
};
