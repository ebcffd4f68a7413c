// The GLib main queue: order across threads, nested loops, quitting, timers.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/gtk/glib_loop.h"

namespace {

using platform::gtk::GlibMainQueue;
using platform::gtk::GlibTimers;

std::vector<int>* g_seen;

void record(void*, void* rec) {
  g_seen->push_back(*static_cast<int*>(rec));
  delete static_cast<int*>(rec);
}

TEST(GlibMainQueue, ItemsFromAnotherThreadRunInPostingOrderOnTheLoopThread) {
  GlibMainQueue q;
  std::vector<int> seen;
  g_seen = &seen;
  const auto loop_thread = std::this_thread::get_id();
  std::thread::id ran_on;
  std::thread producer([&] {
    for (int i = 0; i < 20000; ++i) q.post(&record, nullptr, new int(i));
    q.post([&] {
      ran_on = std::this_thread::get_id();
      q.quit();
    });
  });
  q.run();
  producer.join();
  ASSERT_EQ(seen.size(), 20000u);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(seen[i], i);
  EXPECT_EQ(ran_on, loop_thread);
}

TEST(GlibMainQueue, BatchesAndSinglePostsFromAnotherThreadRunInPostingOrder) {
  GlibMainQueue q;
  std::vector<int> seen;
  g_seen = &seen;
  std::thread producer([&] {
    std::vector<platform::QueuedItem> batch;
    for (int i = 0; i < 20000;) {
      if (i % 5 == 0) {
        q.post(&record, nullptr, new int(i++));
        continue;
      }
      batch.clear();
      for (int k = 0; k < 1 + i % 7 && i < 20000; ++k) batch.push_back({&record, nullptr, new int(i++)});
      q.post_batch(batch.data(), batch.size());
    }
    q.post_batch(nullptr, 0);
    q.post([&] { q.quit(); });
  });
  q.run();
  producer.join();
  ASSERT_EQ(seen.size(), 20000u);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(seen[i], i);
}

GMainLoop* g_nested;

// The item that runs a nested loop is one of a batch: the rest of its batch, and
// what comes after, run inside that loop, each once.
TEST(GlibMainQueue, ABatchGoesOnInsideANestedLoopThatOneOfItsItemsRuns) {
  GlibMainQueue q;
  std::vector<int> seen;
  g_seen = &seen;
  g_nested = g_main_loop_new(nullptr, FALSE);
  platform::HandlerFn modal = [](void*, void*) {
    g_seen->push_back(0);
    g_main_loop_run(g_nested);
    g_seen->push_back(100);
  };
  platform::HandlerFn close_modal = [](void*, void*) { g_main_loop_quit(g_nested); };
  const platform::QueuedItem batch[] = {
      {modal, nullptr, nullptr}, {&record, nullptr, new int(1)}, {close_modal, nullptr, nullptr}};
  q.post_batch(batch, 3);
  q.post(&record, nullptr, new int(2));
  q.post([&] { q.quit(); });
  q.run();
  g_main_loop_unref(g_nested);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 100}));
}

TEST(GlibMainQueue, ItemsKeepRunningInsideANestedLoop) {
  GlibMainQueue q;
  std::vector<int> seen;
  g_seen = &seen;
  q.post([&] {
    // A modal dialog runs a nested loop; commands must not stall behind it.
    GMainLoop* nested = g_main_loop_new(nullptr, FALSE);
    q.post(&record, nullptr, new int(1));
    q.post([&] { g_main_loop_quit(nested); });
    g_main_loop_run(nested);
    g_main_loop_unref(nested);
    q.post(&record, nullptr, new int(2));
    q.post([&] { q.quit(); });
  });
  q.run();
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(GlibTimers, OneShotFiresOnceAndCancelledTimersNever) {
  GlibMainQueue q;
  GlibTimers t;
  int once = 0, cancelled = 0, ticks = 0;
  t.once(5, [&] { ++once; });
  platform::TimerId c = t.once(5, [&] { ++cancelled; });
  t.cancel(c);
  platform::TimerId rep = 0;
  rep = t.repeating(2, [&] {
    if (++ticks == 3) t.cancel(rep);
  });
  t.once(60, [&] { q.quit(); });
  q.run();
  EXPECT_EQ(once, 1);
  EXPECT_EQ(cancelled, 0);
  EXPECT_EQ(ticks, 3);
}

}  // namespace

namespace {

// A handler that holds the queue: the items behind it wait, timers keep firing,
// and they run in order once the hold is released.
TEST(GlibMainQueue, AHeldQueueLetsTimersRunButNoItemsUntilReleased) {
  GlibMainQueue q;
  GlibTimers timers;
  std::vector<std::string> order;
  q.post([&] {
    order.push_back("holder");
    q.hold();
    timers.once(30, [&] {
      order.push_back("timer");
      q.release();
    });
  });
  q.post([&] {
    order.push_back("behind");
    q.quit();
  });
  timers.once(5000, [&] { q.quit(); });  // a bound, should the release never come
  q.run();
  EXPECT_EQ(order, (std::vector<std::string>{"holder", "timer", "behind"}));
}

}  // namespace
