// Speech: the rate and voice choices, the speech thread's queue with stops racing
// the ends of utterances, and SAY, SAYSTOP and VOICES answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/handlers.h"
#include "core/records.h"
#include "platform/common/speech_queue.h"
#include "platform/common/voice_choice.h"
#include "platform/speech.h"
#include "test_support.h"

namespace {

using platform::Utterance;
using platform::Voice;

// Speaks until the test lets an utterance end (release) or it is cancelled. Like
// a sound output, it sleeps until something wakes it: a stop that only set the
// cancel flag would leave it speaking.
class GatedEngine : public platform::SpeechEngine {
 public:
  bool speak(const Utterance& u, const std::atomic<bool>& cancel) override {
    std::unique_lock<std::mutex> lock(mu);
    started.push_back(u);
    cv.notify_all();
    while (!cancel.load()) {
      if (releases > 0) {
        --releases;
        return true;
      }
      cv.wait_for(lock, std::chrono::seconds(30));  // bounded only so that a failing test ends
    }
    return false;
  }
  std::vector<Voice> voices() override { return list; }
  void wake() override {
    std::lock_guard<std::mutex> lock(mu);
    cv.notify_all();
  }
  void release(int n = 1) {
    std::lock_guard<std::mutex> lock(mu);
    releases += n;
    cv.notify_all();
  }
  // Waits (bounded) until n utterances have started.
  bool wait_started(size_t n) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return started.size() >= n; });
  }
  std::mutex mu;
  std::condition_variable cv;
  std::vector<Utterance> started;
  int releases = 0;
  std::vector<Voice> list;
};

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

// Answers of SAY, SAYSTOP and VOICES through the desktop's speech.
class SpeechCommandTest : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    platform::install_speech_factory([this] {
      auto engine = std::make_unique<GatedEngine>();
      gate = engine.get();
      gate->list = voices;
      return std::make_unique<platform::SpeechQueue>(std::move(engine));
    });
  }
  void TearDown() override {
    platform::reset_speech();
    platform::install_speech_factory(nullptr);
    FakeDesktopTest::TearDown();
  }
  void say(const std::string& id, const std::string& text, const std::string& voice = "", double rate = 0) {
    do_say(nullptr, new SayReq{id, text, voice, rate});
  }
  // Reads answer lines until n have come (bounded).
  std::vector<std::string> lines(size_t n) {
    std::vector<std::string> out;
    for (int i = 0; i < 10000 && out.size() < n; ++i) {
      for (auto& l : wire.lines()) out.push_back(l);
      if (out.size() < n) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return out;
  }
  WireCapture wire;
  GatedEngine* gate = nullptr;
  std::vector<Voice> voices;
};

TEST_F(SpeechCommandTest, EachSayIsAnsweredWhenItsUtteranceEnds) {
  say("a", "first", "en-GB", 0.7);
  say("b", "second");
  ASSERT_TRUE(gate->wait_started(1));
  EXPECT_EQ(gate->started[0].text, "first");
  EXPECT_EQ(gate->started[0].voice, "en-GB");
  EXPECT_EQ(gate->started[0].rate, 0.7);
  EXPECT_TRUE(wire.lines().empty());
  gate->release(2);
  EXPECT_EQ(lines(2), (std::vector<std::string>{R"(GOT a {"ok":true})", R"(GOT b {"ok":true})"}));
}

TEST_F(SpeechCommandTest, StopAnswersEveryPendingSayOnce) {
  say("a", "one");
  say("b", "two");
  say("a", "three");  // the same id twice: two answers
  ASSERT_TRUE(gate->wait_started(1));
  do_saystop(nullptr, nullptr);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT a {"ok":false})", R"(GOT b {"ok":false})",
                                                    R"(GOT a {"ok":false})"}));
  // The cancelled utterance's own end writes nothing more; a new SAY still speaks.
  say("c", "four");
  ASSERT_TRUE(gate->wait_started(2));
  gate->release();
  EXPECT_EQ(lines(1), std::vector<std::string>{R"(GOT c {"ok":true})"});
  do_saystop(nullptr, nullptr);  // nothing pending: nothing written
  EXPECT_TRUE(wire.lines().empty());
}

TEST_F(SpeechCommandTest, StopsRacingTheEndsOfUtterancesAnswerOnce) {
  for (int round = 0; round < 200; ++round) {
    const std::string id = "r" + std::to_string(round);
    say(id, "x");
    if (round % 2) gate->release();  // may end before, during or after the stop
    do_saystop(nullptr, nullptr);
  }
  std::vector<std::string> got = lines(200);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let late ends show up, if any were written
  for (auto& l : wire.lines()) got.push_back(l);
  ASSERT_EQ(got.size(), 200u);
  for (int round = 0; round < 200; ++round)
    EXPECT_EQ(got[round].rfind("GOT r" + std::to_string(round) + " ", 0), 0u) << got[round];
}

TEST_F(SpeechCommandTest, StopBeforeAnySayDoesNothing) {
  do_saystop(nullptr, nullptr);
  EXPECT_TRUE(wire.lines().empty());
  EXPECT_EQ(platform::running_speech(), nullptr);  // not even the speech thread
}

TEST_F(SpeechCommandTest, Voices) {
  voices = {{"gmw/en", "English", "en", 1}, {"x/q", "Say \"hi\" ü", "de-DE", 2}, {"p", "P", "fr", 3}};
  do_voices(nullptr, new VoicesReq{"v1"});
  EXPECT_EQ(wire.lines(), std::vector<std::string>{
                              R"(GOT v1 {"ok":true,"voices":[{"id":"gmw/en","name":"English","lang":"en","quality":"default"},)"
                              R"({"id":"x/q","name":"Say \"hi\" ü","lang":"de-DE","quality":"enhanced"},)"
                              R"({"id":"p","name":"P","lang":"fr","quality":"premium"}]})"});
}

TEST_F(SpeechCommandTest, NoVoicesAndNoSpeech) {
  do_voices(nullptr, new VoicesReq{"v1"});
  EXPECT_EQ(wire.lines(), std::vector<std::string>{R"(GOT v1 {"ok":true,"voices":[]})"});
  platform::reset_speech();
  platform::install_speech_factory(nullptr);
  say("s", "hello");
  do_voices(nullptr, new VoicesReq{"v2"});
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT s {"ok":false})", R"(GOT v2 {"ok":true,"voices":[]})"}));
}

}  // namespace
