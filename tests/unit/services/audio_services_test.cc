// The audio tap's and the equalizer's commands against the fake audio server:
// replies, events, states, and what happens when the server fails.

#include <gtest/gtest.h>

#include <cmath>

#include "core/records.h"
#include "services/audio_eq.h"
#include "services/audio_tap.h"
#include "services/clip_format.h"
#include "tests/unit/core/test_support.h"

using platform::AudioScope;
using Change = platform::AudioServer::Change;

namespace {

class AudioTest : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    audiotap_reset();
    eq_reset();
  }
  void TearDown() override {
    audiotap_reset();
    eq_reset();
    FakeDesktopTest::TearDown();
  }
  void tap(const std::string& id, const std::string& scope, bool excl, int ms) {
    do_audiotap(nullptr, std::make_unique<AudioTapReq>(id, scope, excl, ms));
  }
  void stop() { do_audiotap(nullptr, std::make_unique<AudioTapReq>("", "__stop__", false, 0)); }
  void filters(const std::string& text) { do_audiofilters(nullptr, std::make_unique<std::string>(text)); }
  WireCapture wire;
};

}  // namespace

TEST_F(AudioTest, TapStartsRepliesAndPublishesBatches) {
  desktop.audio.format = {44100, 2};
  tap("t1", "system", false, 5);  // 5 ms runs at 20
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT t1 {"ok":true,"sampleRate":44100,"channels":2})"}));
  ASSERT_EQ(desktop.audio.live_count(), 1);
  EXPECT_EQ(desktop.audio.live()->scope, AudioScope::kSystem);

  desktop.clock.advance(19);
  desktop.audio.feed(std::vector<float>(958, 0.5f));  // t0 is the first sample's arrival
  desktop.audio.feed({1.5f, -2.0f});
  EXPECT_TRUE(wire.lines().empty());  // nothing before the interval is up
  desktop.clock.advance(1);
  auto lines = wire.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\t44100\t2\t480\t19.0"), std::string::npos) << lines[0];
  auto bytes = base64_decode(lines[0].substr(9, lines[0].find('\t') - 9));
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 960u * 2);
  EXPECT_EQ(int16_t(uint8_t((*bytes)[0]) | uint8_t((*bytes)[1]) << 8), 16384);
  EXPECT_EQ(int16_t(uint8_t((*bytes)[1916]) | uint8_t((*bytes)[1917]) << 8), 32767);
  EXPECT_EQ(int16_t(uint8_t((*bytes)[1918]) | uint8_t((*bytes)[1919]) << 8), -32767);
  // The next batch has its own time stamp.
  desktop.clock.advance(5);
  desktop.audio.feed({0.1f, 0.1f, 0.1f});
  desktop.clock.advance(15);
  lines = wire.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\t44100\t2\t1\t25.0"), std::string::npos) << lines[0];
  // An empty buffer sends nothing.
  desktop.clock.advance(100);
  EXPECT_TRUE(wire.lines().empty());
}

TEST_F(AudioTest, TapSettingsAndScopes) {
  struct Case {
    std::string scope;
    bool excl;
    AudioScope want;
  } cases[] = {{"system", false, AudioScope::kSystem},
               {"system", true, AudioScope::kSystemButApp},
               {"app", false, AudioScope::kApp},
               {"", true, AudioScope::kApp},
               {"System", false, AudioScope::kApp}};
  for (const Case& c : cases) {
    tap("x", c.scope, c.excl, 80);
    ASSERT_NE(desktop.audio.live(), nullptr);
    EXPECT_EQ(desktop.audio.live()->scope, c.want) << c.scope;
    EXPECT_EQ(desktop.audio.live_count(), 1) << c.scope;
  }
  // The same settings again: one more success reply, the same tap.
  wire.lines();
  const size_t made = desktop.audio.made.size();
  tap("y", "System", false, 80);
  EXPECT_EQ(wire.lines().size(), 1u);
  EXPECT_EQ(desktop.audio.made.size(), made);
  // 10000 ms runs at 500, which is another setting than 80.
  tap("z", "System", false, 10000);
  EXPECT_EQ(desktop.audio.made.size(), made + 1);
  desktop.audio.feed({0.1f, 0.1f});
  desktop.clock.advance(499);
  EXPECT_TRUE(wire.lines().size() == 1);  // the reply only
  desktop.clock.advance(1);
  EXPECT_EQ(wire.lines().size(), 1u);
}

TEST_F(AudioTest, TapFailuresAndStops) {
  desktop.audio.fail_status = platform::kAudioNoProcess;
  tap("a", "app", false, 80);
  EXPECT_EQ(wire.lines(),
            (std::vector<std::string>{R"(GOT a {"ok":false,"code":"failed","status":560947818})"}));
  EXPECT_FALSE(audiotap_active_for_tests());
  desktop.audio.fail_status = -6;
  tap("b", "system", false, 80);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT b {"ok":false,"code":"failed","status":-6})"}));
  // A stop while inactive sends nothing.
  stop();
  EXPECT_TRUE(wire.lines().empty());
  // Without an audio server every start is unsupported, and a stop says nothing.
  desktop.audio.reachable = false;
  tap("c", "system", false, 80);
  stop();
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT c {"ok":false,"code":"unsupported"})"}));
  // A running tap stops also when the server has gone meanwhile.
  desktop.audio.reachable = true;
  desktop.audio.fail_status = 0;
  tap("e", "system", false, 80);
  desktop.audio.reachable = false;
  stop();
  EXPECT_FALSE(audiotap_active_for_tests());
  EXPECT_EQ(desktop.audio.live_count(), 0);
  wire.lines();
  // A batch still buffered when the tap stops is dropped.
  desktop.audio.reachable = true;
  desktop.audio.fail_status = 0;
  tap("d", "system", false, 80);
  desktop.audio.feed({0.5f, 0.5f});
  stop();
  EXPECT_EQ(desktop.audio.live_count(), 0);
  desktop.clock.advance(500);
  EXPECT_EQ(wire.lines().size(), 1u);  // the reply only
}

TEST_F(AudioTest, TapRebuildsOnDeviceChangeAndNeverAnswersStaleSuccess) {
  tap("a", "system", false, 80);
  wire.lines();
  desktop.audio.fire(Change::kDefaultOutput);
  EXPECT_EQ(desktop.audio.made.size(), 2u);
  EXPECT_EQ(desktop.audio.live_count(), 1);
  desktop.audio.feed({0.5f, 0.5f});
  desktop.clock.advance(80);
  EXPECT_EQ(wire.lines().size(), 1u);  // the timer runs again

  // The rebuild fails: nothing is captured or sent...
  desktop.audio.fail_status = -6;
  desktop.audio.fire(Change::kDefaultOutput);
  EXPECT_EQ(desktop.audio.live_count(), 0);
  desktop.clock.advance(200);
  EXPECT_TRUE(wire.lines().empty());
  // ...and the same start answers what really happens.
  tap("b", "system", false, 80);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT b {"ok":false,"code":"failed","status":-6})"}));
  // Still on after the failed rebuild, the next device change tries again.
  desktop.audio.fail_status = 0;
  tap("c", "system", false, 80);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT c {"ok":true,"sampleRate":48000,"channels":2})"}));
  desktop.audio.fail_status = -6;
  desktop.audio.fire(Change::kDefaultOutput);
  desktop.audio.fail_status = 0;
  desktop.audio.fire(Change::kDefaultOutput);
  EXPECT_EQ(desktop.audio.live_count(), 1);
  // A stopped tap ignores device changes.
  stop();
  const size_t made = desktop.audio.made.size();
  desktop.audio.fire(Change::kDefaultOutput);
  EXPECT_EQ(desktop.audio.made.size(), made);
}

TEST_F(AudioTest, TapAndEqualizerBothHearOneDeviceChange) {
  filters("peaking,1000,1,-12");
  tap("t", "system", false, 80);
  ASSERT_EQ(desktop.audio.live_count(), 2);
  const size_t made = desktop.audio.made.size();
  // The server keeps one watcher: each rebuilds its own stream all the same.
  desktop.audio.fire(Change::kDefaultOutput);
  EXPECT_EQ(desktop.audio.made.size(), made + 2);
  EXPECT_EQ(desktop.audio.live_count(), 2);
}

TEST_F(AudioTest, EqualizerStates) {
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"off","filters":0,"heard":false})");
  filters("peaking,1000,1,-12\tlinear,0,1,0.5");
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"waiting","filters":2,"heard":false})");
  ASSERT_NE(desktop.audio.live(), nullptr);
  EXPECT_FALSE(desktop.audio.live()->filter);
  EXPECT_EQ(desktop.audio.live()->scope, AudioScope::kAppButHost);
  // Silence keeps it waiting; the first sound switches to the filtered path once.
  desktop.audio.feed({0, 0, 0, 0});
  desktop.queue.drain();
  EXPECT_EQ(desktop.audio.made.size(), 1u);
  desktop.audio.feed({0, 0.1f});
  desktop.audio.feed({0, 0.1f});
  desktop.queue.drain();
  EXPECT_EQ(desktop.audio.made.size(), 2u);
  EXPECT_EQ(desktop.audio.live_count(), 1);
  ASSERT_TRUE(desktop.audio.live()->filter);
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"active","filters":2,"heard":true})");
  // The filtered path applies the chain and the balance.
  do_audiobalance(nullptr, std::make_unique<std::string>("0.5"));
  auto out = desktop.audio.feed({1, 1, 1, 1});
  ASSERT_EQ(out.size(), 4u);
  EXPECT_NEAR(out[3] / out[2], 2.0, 1e-6);  // left at half the right
  EXPECT_LT(std::fabs(out[3]), 0.5f);       // the linear half and the cut at work

  // Same shape: coefficients change in place, the tap stays.
  filters("peaking,2000,1,-3\tlinear,0,1,0.25");
  EXPECT_EQ(desktop.audio.made.size(), 2u);
  // Another shape: rebuilt, waiting again.
  filters("bq_lowpass,2000,1,0\tlinear,0,1,0.25");
  EXPECT_EQ(desktop.audio.made.size(), 3u);
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"waiting","filters":2,"heard":false})");
  // A device change rebuilds in the waiting state.
  desktop.audio.feed({0.2f, 0.2f});
  desktop.queue.drain();
  desktop.audio.fire(Change::kDefaultOutput);
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"waiting","filters":2,"heard":false})");
  // Off: nothing left running.
  filters("");
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"off","filters":0,"heard":false})");
  EXPECT_EQ(desktop.audio.live_count(), 0);
  do_audiofilterset(nullptr, std::make_unique<std::string>("0\t100\t1\t3"));  // no filter to change
  EXPECT_EQ(desktop.audio.live_count(), 0);

  desktop.audio.reachable = false;
  EXPECT_EQ(eq_state_json(), R"({"available":false,"state":"unsupported"})");
  filters("peaking,1000,1,-12");
  EXPECT_EQ(desktop.audio.live_count(), 0);
  // On when the server goes: an empty list still turns it off.
  desktop.audio.reachable = true;
  filters("peaking,1000,1,-12");
  ASSERT_EQ(desktop.audio.live_count(), 1);
  desktop.audio.reachable = false;
  filters("");
  EXPECT_EQ(desktop.audio.live_count(), 0);
  desktop.audio.reachable = true;
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"off","filters":0,"heard":false})");
}

TEST_F(AudioTest, FailedMutedBuildIsNotReportedActive) {
  filters("peaking,1000,1,-12");
  desktop.audio.fail_status = -6;  // the switch to the filtered path fails
  desktop.audio.feed({0.3f, 0.3f});
  desktop.queue.drain();
  EXPECT_EQ(desktop.audio.live_count(), 0);
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"waiting","filters":1,"heard":true})");
  // Still on without a tap; a stream that starts playing brings it back.
  desktop.audio.fail_status = 0;
  desktop.audio.fire(Change::kStreams);
  EXPECT_EQ(desktop.audio.live_count(), 1);
  EXPECT_FALSE(desktop.audio.live()->filter);
}

TEST_F(AudioTest, EqualizerWithNothingPlayingWaitsForAStream) {
  desktop.audio.fail_status = platform::kAudioNoProcess;
  filters("peaking,1000,1,-12");
  EXPECT_EQ(desktop.audio.live_count(), 0);
  EXPECT_EQ(eq_state_json(), R"({"available":true,"state":"waiting","filters":1,"heard":false})");
  desktop.audio.fire(Change::kStreams);  // still nothing playing
  EXPECT_EQ(desktop.audio.live_count(), 0);
  desktop.audio.fail_status = 0;
  desktop.audio.fire(Change::kStreams);
  EXPECT_EQ(desktop.audio.live_count(), 1);
  desktop.audio.fire(Change::kStreams);  // a tap exists: nothing more
  EXPECT_EQ(desktop.audio.made.size(), 1u);
}

TEST_F(AudioTest, FilterSetAndNonFiniteValues) {
  filters("linear,0,1,0.5\tlinear,0,1,1,0.25");
  desktop.audio.feed({1, 1});
  desktop.queue.drain();
  ASSERT_TRUE(desktop.audio.live()->filter);
  struct Case {
    const char* set;
    float left, right;
  } cases[] = {
      {"0\t0\t1\t0.25", 0.5f, 0.0625f},  // both channels' first filter
      {"1\t0\t1\t2", 0.5f, 0.0625f},     // the right gain of its own stays
      {"5\t0\t1\t9", 0.5f, 0.0625f},     // no such filter
      {"-1\t0\t1\t9", 0.5f, 0.0625f},
      {"0\t0\t1", 0.5f, 0.0625f},        // too few fields
      {"0\tnan\tinf\tnan", 0, 0},        // a linear gain of 0, the default
      {"0\t0\t1\t1e300", 0, 0},
  };
  do_audiofilterset(nullptr, std::make_unique<std::string>("0\t0\t1\t0.25"));
  do_audiofilterset(nullptr, std::make_unique<std::string>("1\t0\t1\t2"));
  for (const Case& c : cases) {
    do_audiofilterset(nullptr, std::make_unique<std::string>(c.set));
    auto out = desktop.audio.feed({1, 1});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FLOAT_EQ(out[0], c.left) << c.set;
    EXPECT_FLOAT_EQ(out[1], c.right) << c.set;
  }
  // A non-finite balance reads as the centre.
  do_audiofilterset(nullptr, std::make_unique<std::string>("0\t0\t1\t1"));
  do_audiobalance(nullptr, std::make_unique<std::string>("nan"));
  auto out = desktop.audio.feed({1, 1});
  EXPECT_FLOAT_EQ(out[0], 2.0f);
  EXPECT_FLOAT_EQ(out[1], 0.25f);
  do_audiobalance(nullptr, std::make_unique<std::string>("-2"));
  out = desktop.audio.feed({1, 1});
  EXPECT_FLOAT_EQ(out[0], 2.0f);
  EXPECT_FLOAT_EQ(out[1], 0.0f);
}
