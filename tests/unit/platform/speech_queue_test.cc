// Speech: the rate and voice choices and the speech thread's queue, with stops
// racing the ends of utterances.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gated_speech_engine.h"
#include "platform/common/speech_queue.h"
#include "platform/common/voice_choice.h"

namespace {

using platform::Voice;

TEST(SpeechRate, MapsOntoWordsPerMinute) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<double, int>> cases = {
      {0, 175}, {-1, 175}, {nan, 175}, {0.0001, 80}, {0.25, 128}, {0.5, 175},
      {0.75, 313}, {1, 450}, {1.7, 450}, {std::numeric_limits<double>::infinity(), 450},
  };
  for (auto [rate, wpm] : cases) EXPECT_EQ(platform::speech_rate_wpm(rate), wpm) << rate;
}

TEST(SpeechVoice, ByIdThenLanguage) {
  const std::vector<Voice> voices = {
      {"gmw/en", "English", "en", 1},
      {"gmw/en-GB-x-rp", "English RP", "en-GB-x-rp", 1},
      {"gmw/en-US", "American", "en-US", 1},
      {"roa/fr", "French", "fr", 1},
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"roa/fr", "roa/fr"}, {"en-us", "gmw/en-US"}, {"en_US", "gmw/en-US"}, {"FR", "roa/fr"},
      {"fr-CA", "roa/fr"},  // no Canadian voice: a French one
      {"en", "gmw/en"}, {"xx-YY", ""}, {"nonsense", ""}, {"", ""},
  };
  for (const auto& [wanted, id] : cases) {
    auto v = platform::pick_voice(voices, wanted);
    EXPECT_EQ(v ? v->id : "", id) << wanted;
  }
}

struct Ends {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::pair<int, bool>> got;
  platform::SpeechQueue::Done at(int n) {
    return [this, n](bool ok) {
      std::lock_guard<std::mutex> lock(mu);
      got.push_back({n, ok});
      cv.notify_all();
    };
  }
  bool wait(size_t n) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return got.size() >= n; });
  }
};

TEST(SpeechQueue, SpeaksInOrderAndStopsEverything) {
  auto engine = std::make_unique<GatedEngine>();
  GatedEngine& e = *engine;
  Ends ends;
  size_t spoken = 0;
  {
    platform::SpeechQueue q(std::move(engine));
    q.speak({"one", "", 0}, ends.at(1));
    q.speak({"two", "", 0}, ends.at(2));
    ASSERT_TRUE(e.wait_started(1));
    e.release();
    ASSERT_TRUE(ends.wait(1));
    ASSERT_TRUE(e.wait_started(2));
    q.speak({"three", "", 0}, ends.at(3));
    q.speak({"four", "", 0}, ends.at(4));
    q.stop_all();
    ASSERT_TRUE(ends.wait(4));
    // The waiting ones end on this thread, the one being spoken on the speech
    // thread: their order is a race (the wire's order comes from SAY's table).
    std::vector<std::pair<int, bool>> got = ends.got;
    std::sort(got.begin() + 1, got.end());
    EXPECT_EQ(got, (std::vector<std::pair<int, bool>>{{1, true}, {2, false}, {3, false}, {4, false}}));
    // Speech goes on after a stop.
    q.speak({"five", "", 0}, ends.at(5));
    ASSERT_TRUE(e.wait_started(3));
    e.release();
    ASSERT_TRUE(ends.wait(5));
    EXPECT_EQ(ends.got.back(), (std::pair<int, bool>{5, true}));
    std::lock_guard<std::mutex> lock(e.mu);
    spoken = e.started.size();  // the engine goes with the queue
  }
  EXPECT_EQ(spoken, 3u);  // three and four were never spoken
}

}  // namespace
