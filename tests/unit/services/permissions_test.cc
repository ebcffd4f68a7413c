// Every permission kind's answer, and the location questions' one answer each.

#include <map>
#include <string>
#include <vector>

#include "core/settings.h"
#include "services/permissions.h"
#include "tests/unit/core/test_support.h"

using V = std::vector<std::string>;
using Loc = platform::Permissions::Location;

class Permissions : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    permissions_reset_for_tests();
    settings().bundle_mode = true;
    g_location_usage_described = true;
  }
  void TearDown() override {
    permissions_reset_for_tests();
    settings().bundle_mode = false;
    g_location_usage_described = false;
    FakeDesktopTest::TearDown();
  }
  V ask(const V& lines) {
    for (const auto& l : lines) reader.handle_line(l);
    desktop.queue.drain();
    return wire.lines();
  }
  std::string one(const std::string& line) {
    V out = ask({line});
    return out.size() == 1 ? out[0] : "(" + std::to_string(out.size()) + " lines)";
  }
  static std::string got(const std::string& id, const std::string& word) {
    return "GOT " + id + " {\"status\":\"" + word + "\"}";
  }
  platform::fake::FakePermissions& perms() { return desktop.perms; }
  WireCapture wire;
  CommandReader reader;
};

TEST_F(Permissions, EachKindAnswersWhatTheDesktopAllows) {
  struct Case {
    std::string kind;
    std::function<void(platform::fake::FakePermissions&, bool)> set;  // make it possible or not
    std::string yes, no;
  };
  const std::vector<Case> cases = {
      {"accessibility", [](auto& p, bool v) { p.input = v; }, "granted", "denied"},
      {"screen", [](auto& p, bool v) { p.screen = v; }, "granted", "denied"},
      {"screen-recording", [](auto& p, bool v) { p.screen = v; }, "granted", "denied"},
      {"notifications", [](auto& p, bool v) { p.notifications = v; }, "granted", "denied"},
      {"camera", [](auto& p, bool v) { p.camera = v; }, "granted", "denied"},
      {"microphone", [](auto& p, bool v) { p.microphone = v; }, "granted", "denied"},
      {"automation", [](auto& p, bool v) { p.input = v; }, "unsupported", "unsupported"},
      {"automation:com.example.App", [](auto&, bool) {}, "unsupported", "unsupported"},
      {"automation:", [](auto&, bool) {}, "unsupported", "unsupported"},
      {"Screen", [](auto& p, bool v) { p.screen = v; }, "unsupported", "unsupported"},
      {"contacts", [](auto&, bool) {}, "unsupported", "unsupported"},
      {"", [](auto&, bool) {}, "unsupported", "unsupported"},
  };
  for (const auto& c : cases)
    for (bool possible : {true, false})
      for (const char* verb : {"PERMCHK", "PERMREQ"}) {
        c.set(perms(), possible);
        EXPECT_EQ(one(std::string(verb) + " p " + c.kind), got("p", possible ? c.yes : c.no))
            << verb << " " << c.kind << " " << possible;
      }
  EXPECT_EQ(perms().prompts, 0);
}

TEST_F(Permissions, NotificationsOutsideABundleAreUnsupported) {
  settings().bundle_mode = false;
  EXPECT_EQ(one("PERMCHK n notifications"), got("n", "unsupported"));
  EXPECT_EQ(one("PERMREQ n notifications"), got("n", "unsupported"));
}

TEST_F(Permissions, LocationQuestionsWaitUntilTheStateIsKnownOrASecondPassed) {
  perms().hold_location = true;
  perms().location = Loc::kDenied;
  EXPECT_EQ(ask({"PERMCHK a location", "PERMREQ b location"}), V{});
  desktop.clock.advance(999);
  EXPECT_EQ(wire.lines(), V{});
  perms().hold_location = false;
  desktop.clock.advance(1);
  EXPECT_EQ(wire.lines(), (V{got("a", "denied"), got("b", "denied")})) << "in arrival order";
  // The state answering first makes it ready too (for a new service object).
  permissions_reset_for_tests();
  perms().hold_location = true;
  perms().location = Loc::kGranted;
  EXPECT_EQ(ask({"PERMCHK c location"}), V{});
  perms().hold_location = false;
  auto waiting = std::move(perms().status_waiting);
  for (auto& fn : waiting) fn(Loc::kGranted);
  desktop.queue.drain();
  EXPECT_EQ(wire.lines(), (V{got("c", "granted")}));
}

TEST_F(Permissions, EveryLocationRequestIsAnsweredExactlyOnce) {
  // The state is known at once: no waiting for the second.
  EXPECT_EQ(ask({"PERMCHK warm location"}), (V{got("warm", "undetermined")}));

  // Two requests share one prompt and its answer (a refusal: a grant would
  // end the prompts).
  EXPECT_EQ(ask({"PERMREQ a location", "PERMREQ b location"}), V{});
  EXPECT_EQ(perms().prompts, 1);
  perms().prompt_waiting.at(0)(Loc::kDenied);
  desktop.queue.drain();
  EXPECT_EQ(wire.lines(), (V{got("a", "denied"), got("b", "denied")}));

  // A dismissed prompt answers its questions, and a later request asks again.
  EXPECT_EQ(ask({"PERMREQ c location"}), V{});
  perms().prompt_waiting.at(1)(Loc::kUndetermined);
  EXPECT_EQ(wire.lines(), (V{got("c", "undetermined")}));
  EXPECT_EQ(ask({"PERMREQ d location"}), V{});
  EXPECT_EQ(perms().prompts, 3);

  // An ignored prompt runs out; its late answer says nothing more, and the
  // next request gets a prompt of its own.
  desktop.clock.advance(60000);
  EXPECT_EQ(wire.lines(), (V{got("d", "undetermined")}));
  perms().prompt_waiting.at(2)(Loc::kDenied);
  EXPECT_EQ(wire.lines(), V{});
  EXPECT_EQ(ask({"PERMREQ e location", "PERMCHK f location"}), (V{got("f", "undetermined")}));
  EXPECT_EQ(perms().prompts, 4);
  perms().prompt_waiting.at(3)(Loc::kDenied);
  EXPECT_EQ(wire.lines(), (V{got("e", "denied")}));
  desktop.clock.advance(120000);
  EXPECT_EQ(wire.lines(), V{}) << "an answered prompt's time-out says nothing";

  // Decided already: no prompt.
  perms().location = Loc::kDenied;
  EXPECT_EQ(ask({"PERMREQ g location"}), (V{got("g", "denied")}));
  EXPECT_EQ(perms().prompts, 4);
}

TEST_F(Permissions, ALocationGrantHoldsUntilTheServiceSaysDenied) {
  // The service keeps answering "undetermined" after the user allowed it.
  EXPECT_EQ(ask({"PERMCHK before location"}), (V{got("before", "undetermined")}));
  EXPECT_EQ(ask({"PERMREQ a location"}), V{});
  perms().prompt_waiting.at(0)(Loc::kGranted);
  EXPECT_EQ(wire.lines(), (V{got("a", "granted")}));
  EXPECT_EQ(ask({"PERMCHK c location", "PERMREQ d location"}), (V{got("c", "granted"), got("d", "granted")}));
  EXPECT_EQ(perms().prompts, 1) << "no second prompt";
  // Location switched off afterwards.
  perms().location = Loc::kDenied;
  EXPECT_EQ(ask({"PERMCHK e location"}), (V{got("e", "denied")}));
}

TEST_F(Permissions, ALocationRequestWithoutAReasonAsksNobody) {
  g_location_usage_described = false;
  ask({"PERMCHK warm location"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(ask({"PERMREQ a location"}), (V{got("a", "undetermined")}));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("permissions.request('location') needs"), std::string::npos);
  EXPECT_EQ(perms().prompts, 0);
}
