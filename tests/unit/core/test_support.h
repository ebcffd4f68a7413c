#pragma once
// Shared fixtures: a fake desktop installed for each test with the command
// table, start-up parts and window observers of the folders the test program
// reaches, as main() installs the host's; and a reader whose hand-overs are
// collected instead of run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_table.h"
#include "core/reader.h"
#include "core/window_registry.h"
#include "platform/fake/fake_platform.h"

// What the folder whose tests this program runs, and the folders below it, add
// to the host: the command table filled with their handlers, and their start-up
// parts and window observers installed. Each unit-test program defines both
// (tests/unit/<folder>/reachable.cc).
CommandTable reachable_commands();
void install_reachable_parts();

class FakeDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::install(&desktop);
    install_command_table(commands());
    install_reachable_parts();
  }
  // The table the reader hands lines to: the real handlers of this test program's
  // folder and those below it, unless a test needs another.
  virtual CommandTable commands() const { return reachable_commands(); }
  void TearDown() override {
    desktop.queue.drain();  // handlers own and free their records
    g_windows.clear();      // windows that handlers opened go with their desktop
    desktop.queue.drain();
    install_command_table({});
    platform::install(nullptr);
  }
  platform::fake::FakePlatform desktop;
};

// One command as the reader handed it to the main queue.
struct Handed {
  platform::HandlerFn handler = nullptr;
  void* record = nullptr;
  template <class T>
  T& as() const {
    return *static_cast<T*>(record);
  }
  void release() const {
    if (handler) handler(nullptr, record);
  }
};

inline std::vector<Handed> take_handed(platform::fake::FakePlatform& d) {
  std::vector<Handed> out;
  for (auto& it : d.queue.take()) out.push_back({it.handler, it.record});
  return out;
}

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/wire.h"

// Connects the wire to a socket pair and reads back the lines the host wrote.
class WireCapture {
 public:
  WireCapture() {
    wire_reset_for_tests();
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) == 0) {
      fcntl(fds_[1], F_SETFL, O_NONBLOCK);
      sock_set_connected(fds_[0]);
    }
  }
  ~WireCapture() {
    wire_reset_for_tests();
    close(fds_[0]);
    close(fds_[1]);
  }
  // Every complete line written since the last call.
  std::vector<std::string> lines() {
    char buf[65536];
    ssize_t n;
    while ((n = read(fds_[1], buf, sizeof buf)) > 0) pending_.append(buf, size_t(n));
    std::vector<std::string> out;
    size_t lf;
    while ((lf = pending_.find('\n')) != std::string::npos) {
      out.push_back(pending_.substr(0, lf));
      pending_.erase(0, lf + 1);
    }
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
  std::string pending_;
};
