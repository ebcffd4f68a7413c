// The fake desktop's virtual clock, which later handler tests rely on.

#include <gtest/gtest.h>

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
