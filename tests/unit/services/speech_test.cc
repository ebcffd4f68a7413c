// Speech: SAY, SAYSTOP and VOICES answers through the desktop's speech.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/records.h"
#include "platform/common/speech_queue.h"
#include "platform/speech.h"
#include "services/speech_commands.h"
#include "tests/unit/core/test_support.h"
#include "tests/unit/platform/gated_speech_engine.h"

namespace {

using platform::Voice;

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
    do_say(nullptr, std::make_unique<SayReq>(id, text, voice, rate));
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
  do_saystop(nullptr);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT a {"ok":false})", R"(GOT b {"ok":false})",
                                                    R"(GOT a {"ok":false})"}));
  // The cancelled utterance's own end writes nothing more; a new SAY still speaks.
  say("c", "four");
  ASSERT_TRUE(gate->wait_started(2));
  gate->release();
  EXPECT_EQ(lines(1), std::vector<std::string>{R"(GOT c {"ok":true})"});
  do_saystop(nullptr);  // nothing pending: nothing written
  EXPECT_TRUE(wire.lines().empty());
}

TEST_F(SpeechCommandTest, StopsRacingTheEndsOfUtterancesAnswerOnce) {
  for (int round = 0; round < 200; ++round) {
    const std::string id = "r" + std::to_string(round);
    say(id, "x");
    if (round % 2) gate->release();  // may end before, during or after the stop
    do_saystop(nullptr);
  }
  std::vector<std::string> got = lines(200);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let late ends show up, if any were written
  for (auto& l : wire.lines()) got.push_back(l);
  ASSERT_EQ(got.size(), 200u);
  for (int round = 0; round < 200; ++round)
    EXPECT_EQ(got[round].rfind("GOT r" + std::to_string(round) + " ", 0), 0u) << got[round];
}

TEST_F(SpeechCommandTest, StopBeforeAnySayDoesNothing) {
  do_saystop(nullptr);
  EXPECT_TRUE(wire.lines().empty());
  EXPECT_EQ(platform::running_speech(), nullptr);  // not even the speech thread
}

TEST_F(SpeechCommandTest, Voices) {
  voices = {{"gmw/en", "English", "en", 1}, {"x/q", "Say \"hi\" ü", "de-DE", 2}, {"p", "P", "fr", 3}};
  do_voices(nullptr, std::make_unique<VoicesReq>("v1"));
  EXPECT_EQ(wire.lines(), std::vector<std::string>{
                              R"(GOT v1 {"ok":true,"voices":[{"id":"gmw/en","name":"English","lang":"en","quality":"default"},)"
                              R"({"id":"x/q","name":"Say \"hi\" ü","lang":"de-DE","quality":"enhanced"},)"
                              R"({"id":"p","name":"P","lang":"fr","quality":"premium"}]})"});
}

TEST_F(SpeechCommandTest, NoVoicesAndNoSpeech) {
  do_voices(nullptr, std::make_unique<VoicesReq>("v1"));
  EXPECT_EQ(wire.lines(), std::vector<std::string>{R"(GOT v1 {"ok":true,"voices":[]})"});
  platform::reset_speech();
  platform::install_speech_factory(nullptr);
  say("s", "hello");
  do_voices(nullptr, std::make_unique<VoicesReq>("v2"));
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT s {"ok":false})", R"(GOT v2 {"ok":true,"voices":[]})"}));
}

}  // namespace
