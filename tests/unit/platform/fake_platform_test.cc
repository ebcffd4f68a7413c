// The fake desktop's virtual clock, which later handler tests rely on.

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/fake/fake_platform.h"

namespace {

TEST(FakeTimers, FireInTimeOrderOnlyWhenTheClockReachesThem) {
  platform::fake::FakeTimers t;
  std::vector<std::string> fired;
  t.once(500, [&] { fired.push_back("debounce"); });
  t.once(400, [&] { fired.push_back("nav"); });
  auto rep = t.repeating(100, [&] { fired.push_back("tick@" + std::to_string(int(t.now_ms()))); });
  t.advance(250);
  EXPECT_EQ(fired, (std::vector<std::string>{"tick@100", "tick@200"}));
  t.cancel(rep);
  t.advance(300);
  EXPECT_EQ(fired, (std::vector<std::string>{"tick@100", "tick@200", "nav", "debounce"}));
  EXPECT_EQ(t.pending(), 0u);
  EXPECT_DOUBLE_EQ(t.now_ms(), 550);
}

}  // namespace

namespace {

void throwing_handler(void*, void* rec) {
  delete static_cast<int*>(rec);
  throw std::runtime_error("the disk is gone");
}
void counting_handler(void*, void* rec) { ++*static_cast<int*>(rec); }

TEST(MainQueue, AHandlerThatThrowsIsReportedAndTheNextOneStillRuns) {
  platform::fake::FakePlatform d;
  int ran = 0;
  d.queue.post(throwing_handler, nullptr, new int(0));
  d.queue.post(counting_handler, nullptr, &ran);
  testing::internal::CaptureStderr();
  d.queue.drain();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ran, 1);
  EXPECT_NE(err.find("quibex: a command failed: the disk is gone"), std::string::npos) << err;
}

}  // namespace
