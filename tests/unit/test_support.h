#pragma once
// Shared fixtures: a fake desktop installed for each test, and a reader whose
// hand-overs are collected instead of run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/reader.h"
#include "platform/fake/fake_platform.h"

class FakeDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::install(&desktop); }
  void TearDown() override {
    desktop.queue.drain();  // handlers own and free their records
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
