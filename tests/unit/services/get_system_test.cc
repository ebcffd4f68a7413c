// GET: power, Wi-Fi, selected text, other applications, idle time, the frontmost
// application, activation; one answer line per question whatever the sources do.

#include <unistd.h>

#include <limits>

#include "get_test_support.h"
#include "services/get_reply.h"
#include "base/json_out.h"

namespace {

using platform::AppIdentity;
using platform::AppWindow;
using platform::PowerSource;
using platform::RunningApp;
using platform::WifiLink;

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST_F(GetTest, Battery) {
  struct Case {
    const char* what;
    std::optional<PowerSource> source;
    const char* answer;
  } cases[] = {
      {"no battery", std::nullopt, "null"},
      {"discharging", PowerSource{42, 100, false, false, 95, -1},
       "{\"percent\":42,\"charging\":false,\"plugged\":false,\"minutesRemaining\":95}"},
      {"charging: minutes to full", PowerSource{80, 100, true, true, 300, 25},
       "{\"percent\":80,\"charging\":true,\"plugged\":true,\"minutesRemaining\":25}"},
      {"full on power", PowerSource{100, 100, false, true, -1, -1},
       "{\"percent\":100,\"charging\":false,\"plugged\":true,\"minutesRemaining\":null}"},
      {"still estimating", PowerSource{50, 100, false, false, -1, 40},
       "{\"percent\":50,\"charging\":false,\"plugged\":false,\"minutesRemaining\":null}"},
      {"charging, estimating", PowerSource{50, 100, true, true, 90, -1},
       "{\"percent\":50,\"charging\":true,\"plugged\":true,\"minutesRemaining\":null}"},
      {"rounded", PowerSource{4250, 5000, false, false, 0, -1},
       "{\"percent\":85,\"charging\":false,\"plugged\":false,\"minutesRemaining\":0}"},
      {"half rounds up", PowerSource{1, 200, false, false, 1, -1},
       "{\"percent\":1,\"charging\":false,\"plugged\":false,\"minutesRemaining\":1}"},
      {"no capacity", PowerSource{30, 0, false, false, 10, -1},
       "{\"percent\":0,\"charging\":false,\"plugged\":false,\"minutesRemaining\":10}"},
      {"charge no number", PowerSource{kNan, 100, false, false, 10, -1},
       "{\"percent\":null,\"charging\":false,\"plugged\":false,\"minutesRemaining\":10}"},
      {"capacity infinite", PowerSource{30, kInf, false, false, 10, -1},
       "{\"percent\":0,\"charging\":false,\"plugged\":false,\"minutesRemaining\":10}"},
  };
  for (const Case& c : cases) {
    sys().power = c.source;
    EXPECT_EQ(get("battery"), c.answer) << c.what;
  }
}

TEST_F(GetTest, Wifi) {
  struct Case {
    const char* what;
    std::optional<WifiLink> link;
    const char* answer;
  } cases[] = {
      {"radio off or no interface", std::nullopt, "null"},
      {"associated", WifiLink{"Home", "aa:bb:cc:dd:ee:ff", -52, std::nullopt, 866.7},
       "{\"ssid\":\"Home\",\"bssid\":\"aa:bb:cc:dd:ee:ff\",\"rssi\":-52,\"noise\":null,\"txRate\":866}"},
      {"not associated", WifiLink{std::nullopt, std::nullopt, 0, std::nullopt, 0},
       "{\"ssid\":null,\"bssid\":null,\"rssi\":0,\"noise\":null,\"txRate\":0}"},
      {"noise known", WifiLink{"x", "y", -40, -91, 54},
       "{\"ssid\":\"x\",\"bssid\":\"y\",\"rssi\":-40,\"noise\":-91,\"txRate\":54}"},
      {"names that are not plain", WifiLink{"caf\xc3\xa9 \"5G\"\t\x01", std::nullopt, -70, std::nullopt, 1},
       "{\"ssid\":\"caf\xc3\xa9 \\\"5G\\\"\\t\\u0001\",\"bssid\":null,\"rssi\":-70,\"noise\":null,\"txRate\":1}"},
      {"name that is not UTF-8", WifiLink{"a\xff" "b", std::nullopt, -70, std::nullopt, 1},
       "{\"ssid\":\"a\xef\xbf\xbd" "b\",\"bssid\":null,\"rssi\":-70,\"noise\":null,\"txRate\":1}"},
      {"rate no number", WifiLink{"n", std::nullopt, -70, std::nullopt, kNan},
       "{\"ssid\":\"n\",\"bssid\":null,\"rssi\":-70,\"noise\":null,\"txRate\":null}"},
  };
  for (const Case& c : cases) {
    sys().link = c.link;
    EXPECT_EQ(get("wifi"), c.answer) << c.what;
  }
}

TEST_F(GetTest, SelectedText) {
  sys().selection = std::nullopt;
  EXPECT_EQ(get("selectedtext"), "null");
  sys().selection = "";
  EXPECT_EQ(get("selectedtext"), "\"\"");
  sys().selection = "two\nlines \"quoted\" \\ back";
  EXPECT_EQ(get("selectedtext"), "\"two\\nlines \\\"quoted\\\" \\\\ back\"");
}

TEST_F(GetTest, OtherWindowsListsEveryRegularApplicationsWindowsButTheHosts) {
  const long self = long(getpid());
  // Host coordinates: y upward from the laptop's bottom edge (900 points tall).
  sys().apps = std::vector<RunningApp>{
      {{self, "quibex", std::nullopt}, true, {{Rect{0, 0, 10, 10}, "own"}}},
      {{501, "Editor", "org.example.Editor"},
       true,
       {{Rect{10, 600, 400, 300}, "one"}, {std::nullopt, "gone"}, {Rect{1500.9, -100, 300.5, 200}, "th\"ree"}}},
      {{502, "Panel", std::nullopt}, false, {{Rect{0, 876, 1440, 24}, "bar"}}},
      {{503, std::nullopt, std::nullopt}, true, {{std::nullopt, "a"}, {Rect{5, 5, 5, 5}, ""}}},
      {{0, "Old", std::nullopt}, true, {{Rect{1, 889, 10, 10}, "x"}}},
  };
  EXPECT_EQ(get("otherwindows"),
            "[{\"app\":\"Editor\",\"bundleId\":\"org.example.Editor\",\"title\":\"one\",\"pid\":501,\"index\":0,"
            "\"x\":10,\"y\":0,\"width\":400,\"height\":300},"
            "{\"app\":\"Editor\",\"bundleId\":\"org.example.Editor\",\"title\":\"th\\\"ree\",\"pid\":501,\"index\":2,"
            "\"x\":1500,\"y\":800,\"width\":300,\"height\":200},"
            "{\"app\":\"\",\"bundleId\":null,\"title\":\"\",\"pid\":503,\"index\":1,"
            "\"x\":5,\"y\":890,\"width\":5,\"height\":5},"
            "{\"app\":\"Old\",\"bundleId\":null,\"title\":\"x\",\"pid\":null,\"index\":0,"
            "\"x\":1,\"y\":1,\"width\":10,\"height\":10}]");
  sys().apps = std::vector<RunningApp>{};
  EXPECT_EQ(get("otherwindows"), "[]");
  sys().apps = std::nullopt;
  EXPECT_EQ(get("otherwindows"), "null") << "no list of windows to read";
}

TEST_F(GetTest, IdleFrontmostAndActivation) {
  EXPECT_EQ(get("idle"), "null");
  sys().idle = 12.3456;
  EXPECT_EQ(get("idle"), "{\"seconds\":12.346}");
  sys().idle = kInf;
  EXPECT_EQ(get("idle"), "{\"seconds\":null}");

  EXPECT_EQ(get("frontmost"), "null");
  sys().frontmost = AppIdentity{4711, "Files", "org.gnome.Nautilus"};
  EXPECT_EQ(get("frontmost"), "{\"name\":\"Files\",\"bundleId\":\"org.gnome.Nautilus\",\"pid\":4711}");
  sys().frontmost = AppIdentity{0, std::nullopt, std::nullopt};
  EXPECT_EQ(get("frontmost"), "{\"name\":null,\"bundleId\":null,\"pid\":null}");

  EXPECT_EQ(get("debug:activation"), "{\"policy\":\"regular\",\"active\":true,\"hidden\":false}");
  desktop.app.set_activation_policy(platform::ActivationPolicy::kAccessory);
  main_window()->hide();
  EXPECT_EQ(get("debug:activation"), "{\"policy\":\"accessory\",\"active\":false,\"hidden\":false}");
  FakeWindow* w2 = open("w2");
  w2->make_key();
  EXPECT_EQ(get("debug:activation"), "{\"policy\":\"accessory\",\"active\":true,\"hidden\":false}");
  desktop.app.hide();
  EXPECT_EQ(member(get("debug:activation"), "hidden"), "true");
}

TEST_F(GetTest, WithoutSystemInformationEverySourceIsMissing) {
  platform::install_system_info(nullptr);
  struct Case {
    const char* key;
    const char* answer;
  } cases[] = {{"battery", "null"}, {"wifi", "null"}, {"selectedtext", "null"}, {"otherwindows", "null"},
               {"idle", "null"}, {"frontmost", "null"}, {"fgscreen", "null"}};
  for (const Case& c : cases) EXPECT_EQ(get(c.key), c.answer) << c.key;
  EXPECT_EQ(member(get("mouse"), "x"), "0");
  EXPECT_EQ(member(get("screens"), "uid"), "\"70\"");
  platform::install_system_info(&desktop.system);
}

// ---- one line per question ---------------------------------------------------

TEST_F(GetTest, AnAnswerThatComesLaterIsWrittenOnceWhenItComes) {
  sys().hold = true;
  sys().power = PowerSource{42, 100, false, false, 95, -1};
  lines();
  do_get(w(), std::make_unique<GetReq>("b1", "battery"));
  do_get(w(), std::make_unique<GetReq>("w1", "win"));
  const std::string first = answer("w1", "the window answers first");
  EXPECT_EQ(first, get("win", "w1"));
  ASSERT_EQ(sys().held.size(), 1u);
  sys().held[0]();
  EXPECT_EQ(answer("b1", "battery"), "{\"percent\":42,\"charging\":false,\"plugged\":false,\"minutesRemaining\":95}");
  desktop.clock.advance(kGetAnswerLimitMs * 2);
  sys().held[0]();  // a source that answers twice
  EXPECT_TRUE(lines().empty());
}

TEST_F(GetTest, ASourceThatNeverAnswersGetsNullInTime) {
  sys().hold = true;
  sys().link = WifiLink{"late", std::nullopt, 0, std::nullopt, 0};
  lines();
  do_get(w(), std::make_unique<GetReq>("w9", "wifi"));
  desktop.clock.advance(kGetAnswerLimitMs - 1);
  EXPECT_TRUE(lines().empty());
  desktop.clock.advance(1);
  EXPECT_EQ(answer("w9", "wifi"), "null");
  sys().held[0]();  // too late: nothing more
  EXPECT_TRUE(lines().empty());
}

TEST_F(GetTest, ASourceThatDropsTheQuestionGetsNullAtOnce) {
  sys().hold = true;
  lines();
  do_get(w(), std::make_unique<GetReq>("s1", "selectedtext"));
  EXPECT_TRUE(lines().empty());
  sys().held.clear();
  EXPECT_EQ(answer("s1", "selectedtext"), "null");
  desktop.clock.advance(kGetAnswerLimitMs * 2);
  EXPECT_TRUE(lines().empty()) << "the guard has nothing left to answer";
  EXPECT_EQ(desktop.clock.pending(), 0u);
}

TEST_F(GetTest, AQuestionStillWaitingWhenTheDesktopGoesAwayEndsQuietly) {
  sys().hold = true;
  do_get(w(), std::make_unique<GetReq>("late", "battery"));
  // The held question goes with the fake desktop, after the platform is uninstalled.
}

TEST_F(GetTest, AFailingSourceStillAnswersOnce) {
  sys().fail = true;
  for (const char* key : {"battery", "wifi", "selectedtext", "otherwindows", "idle", "frontmost", "fgscreen", "mouse",
                          "screens"})
    EXPECT_EQ(get(key), "null") << key;
  EXPECT_EQ(desktop.clock.pending(), 0u);
}

TEST_F(GetTest, AnAnswerThatWouldBreakTheLineIsNull) {
  lines();
  {
    GetReply r("x", "k");
    r.send("\"a\nb\"");
    r.send("1");
  }
  EXPECT_EQ(lines(), std::vector<std::string>{"GOT x null"});
  { GetReply dropped("y", "k"); }
  EXPECT_EQ(lines(), std::vector<std::string>{"GOT y null"});
}

TEST_F(GetTest, GetLinesThroughTheReader) {
  CommandReader reader;
  lines();
  reader.handle_line("GET a1 windows");
  reader.handle_line("GET a2 clipboard:count");
  reader.handle_line("GET a3 no such key");
  reader.handle_line("GET a4");  // no key: dropped by the reader
  desktop.queue.drain();
  EXPECT_EQ(lines(), (std::vector<std::string>{"GOT a1 [\"main\"]", "GOT a2 {\"changeCount\":0}", "GOT a3 null"}));
}

// ---- number formats ----------------------------------------------------------

TEST(JsonNumbers, FormatsAndValuesThatAreNoNumbers) {
  struct Case {
    double v;
    const char* integer;
    const char* rounded;
    const char* fixed2;
    const char* g;
  } cases[] = {
      {0, "0", "0", "0.00", "0"},
      {2.5, "2", "3", "2.50", "2.5"},
      {-2.5, "-2", "-3", "-2.50", "-2.5"},
      {-0.4, "0", "0", "-0.40", "-0.4"},
      {1.005, "1", "1", "1.00", "1.005"},
      {123456789.75, "123456789", "123456790", "123456789.75", "1.23457e+08"},
      {3e9, "2147483647", "3000000000", "3000000000.00", "3e+09"},
      {-3e9, "-2147483648", "-3000000000", "-3000000000.00", "-3e+09"},
      {1e300, "2147483647", "4611686018427387904", nullptr, "1e+300"},
      {kNan, "null", "null", "null", "null"},
      {kInf, "null", "null", "null", "null"},
      {-kInf, "null", "null", "null", "null"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(json_int(c.v), c.integer) << c.v;
    EXPECT_EQ(json_round(c.v), c.rounded) << c.v;
    if (c.fixed2) {
      EXPECT_EQ(json_fixed(c.v, 2), c.fixed2) << c.v;
    }
    EXPECT_EQ(json_g(c.v), c.g) << c.v;
  }
  EXPECT_EQ(json_fixed(1e300, 2).substr(0, 4), "1000") << "written out, never in exponent form";
  EXPECT_EQ(json_fixed(12.3456, 3), "12.346");
}

}  // namespace
