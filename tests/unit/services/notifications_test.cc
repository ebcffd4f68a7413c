// Notifications against the fake notification server: the authorisation queue,
// what the server is asked to show, and its signals turned into events.

#include <gtest/gtest.h>

#include "core/records.h"
#include "core/settings.h"
#include "services/notifications.h"
#include "tests/unit/core/test_support.h"

using platform::NotifyEvent;

class NotifyTest : public FakeDesktopTest, public WireCapture {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    notif_reset_for_tests();
    settings().bundle_mode = true;
    settings().app_name = "Notes";
    settings().app_id = "org.example.Notes";
    settings().app_icon = "/a/Notes.app/Contents/Resources/Notes.png";
    install_notif_delegate();
  }
  void TearDown() override {
    settings().bundle_mode = false;
    settings().app_id.clear();
    settings().app_icon.clear();
    notif_reset_for_tests();
    FakeDesktopTest::TearDown();
  }
  platform::fake::FakeNotifier& server() { return desktop.notes; }
  void notify(NotifReq r) { do_notify(nullptr, std::make_unique<NotifReq>(std::move(r))); }
};

TEST_F(NotifyTest, QueuedWhileAskingThenShownInOrder) {
  server().hold = true;
  for (const char* t : {"one", "two", "three"}) notify({"", t, "", "", "", false});
  EXPECT_TRUE(server().requests.empty());
  EXPECT_EQ(server().server_questions, 1) << "asked once";
  server().hold = false;
  server().held[0]();
  ASSERT_EQ(server().requests.size(), 3u);
  const char* want[] = {"one", "two", "three"};
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(server().requests[i].summary, want[i]);
}

TEST_F(NotifyTest, WithoutAServerNothingIsShownUntilOneComes) {
  server().caps = std::nullopt;
  notify({"a", "t", "", "", "", false});
  EXPECT_TRUE(lines().empty());
  server().caps = std::vector<std::string>{"actions"};
  notify({"b", "later", "", "", "", false});
  ASSERT_FALSE(server().requests.empty());
  EXPECT_EQ(server().requests.back().summary, "later");
}

TEST_F(NotifyTest, CommandLineModeDropsNotifyAndSaysSoOnce) {
  settings().bundle_mode = false;
  testing::internal::CaptureStderr();
  notify({"a", "t", "", "", "", false});
  notify({"b", "t", "", "", "", false});
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(server().server_questions, 0);
  EXPECT_TRUE(server().requests.empty());
  const auto at = err.find("NOTIFY: notifications are shown only when the host runs from an application bundle");
  EXPECT_NE(at, std::string::npos) << err;
  EXPECT_EQ(err.find("quibex: NOTIFY:", at + 1), std::string::npos) << "said once: " << err;
}

TEST_F(NotifyTest, WhatTheServerIsAskedToShow) {
  server().caps = std::vector<std::string>{"actions", "body-markup"};
  notify({"n", "T <1>", "a & b", "sub", R"([{"id":"ok"},{"id":"del","title":"Delete","destructive":true},
          {"title":"no id"},3,{"id":"r","title":"Reply","reply":true}])", true});
  ASSERT_EQ(server().requests.size(), 1u);
  const platform::NotifyRequest& r = server().requests[0];
  EXPECT_EQ(r.app_name, "Notes");
  EXPECT_EQ(r.app_icon, "/a/Notes.app/Contents/Resources/Notes.png");
  EXPECT_EQ(r.desktop_entry, "org.example.Notes");
  EXPECT_EQ(r.summary, "T <1>");
  EXPECT_EQ(r.body, "sub\na &amp; b") << "a markup server shows the text literally";
  EXPECT_EQ(r.sound_name, "message-new-instant");
  EXPECT_FALSE(r.inline_reply) << "no reply field without the server's offer";
  std::vector<std::string> keys, labels;
  for (const auto& a : r.actions) keys.push_back(a.key), labels.push_back(a.label);
  EXPECT_EQ(keys, (std::vector<std::string>{"default", "ok", "del", "r"}));
  EXPECT_EQ(labels, (std::vector<std::string>{"", "ok", "Delete", "Reply"}));

  notify({"m", "t", "", "", "not json", false});
  EXPECT_EQ(server().requests.back().actions.size(), 1u) << "only the click";
}

TEST_F(NotifyTest, ReplyFieldWhereTheServerOffersOne) {
  server().caps = std::vector<std::string>{"actions", "inline-reply"};
  notify({"n", "t", "", "", R"([{"id":"r","title":"Reply","reply":true},{"id":"r2","reply":true,"buttonTitle":"Go"}])",
          false});
  const platform::NotifyRequest& r = server().requests[0];
  EXPECT_TRUE(r.inline_reply);
  EXPECT_EQ(r.reply_button, "Reply") << "the title when there is no button title";
  EXPECT_EQ(r.reply_placeholder, "");
  ASSERT_EQ(r.actions.size(), 2u) << "one field; the second reply action is a button";
  EXPECT_EQ(r.actions[1].key, "r2");
  server().fire(NotifyEvent::kReplied, 1, "a\nb\tc\\");
  server().fire(NotifyEvent::kAction, 1, "r2");
  EXPECT_EQ(lines(), (std::vector<std::string>{"NOTIFYACTION n\tr\ta\\nb\\tc\\\\", "NOTIFYACTION n\tr2\t"}));
}

TEST_F(NotifyTest, SignalsBecomeEvents) {
  notify({"n", "t", "", "", R"([{"id":"ok"},{"id":"a\tb\r\nc"}])", false});
  struct Case {
    NotifyEvent::Kind kind;
    std::uint32_t id;
    const char* text;
    std::vector<std::string> want;
  } cases[] = {
      {NotifyEvent::kAction, 1, "default", {"NOTIFYCLICK n"}},
      {NotifyEvent::kAction, 1, "ok", {"NOTIFYACTION n\tok\t"}},
      {NotifyEvent::kAction, 1, "a\tb\r\nc", {"NOTIFYACTION n\ta\\tb\\r\\nc\t"}},
      {NotifyEvent::kAction, 1, "unknown", {}},
      {NotifyEvent::kAction, 7, "ok", {}},          // another application's notification
      {NotifyEvent::kReplied, 1, "text", {}},       // no reply field was offered
      {NotifyEvent::kClosed, 1, "", {}},            // a dismissal says nothing
      {NotifyEvent::kAction, 1, "ok", {}},          // and the notification is gone
  };
  for (const Case& c : cases) {
    server().fire(c.kind, c.id, c.text);
    EXPECT_EQ(lines(), c.want) << c.text;
  }
}

TEST_F(NotifyTest, AReusedIdReplacesTheNotificationOnScreen) {
  notify({"n", "first", "", "", "", false});
  notify({"n", "second", "", "", "", false});
  notify({"other", "x", "", "", "", false});
  EXPECT_EQ(server().requests[0].replaces_id, 0u);
  EXPECT_EQ(server().requests[1].replaces_id, 1u);
  EXPECT_EQ(server().requests[2].replaces_id, 0u);
  server().fire(NotifyEvent::kClosed, 1, "");
  notify({"n", "third", "", "", "", false});
  EXPECT_EQ(server().requests[3].replaces_id, 0u) << "nothing left to replace";
}

TEST_F(NotifyTest, AnonymousNotificationsKeepTheirOwnIdsAndActions) {
  notify({"", "a", "", "", R"([{"id":"x"}])", false});
  notify({"", "b", "", "", R"([{"id":"y"}])", false});
  EXPECT_EQ(server().requests[1].replaces_id, 0u);
  server().fire(NotifyEvent::kAction, 1, "y");
  EXPECT_TRUE(lines().empty()) << "the first one has no action y";
  server().fire(NotifyEvent::kAction, 1, "x");
  server().fire(NotifyEvent::kAction, 2, "y");
  auto l = lines();
  ASSERT_EQ(l.size(), 2u);
  const std::string first = l[0].substr(13, 36), second = l[1].substr(13, 36);
  EXPECT_NE(first, second);
  EXPECT_EQ(l[0], "NOTIFYACTION " + first + "\tx\t");
  EXPECT_EQ(l[1], "NOTIFYACTION " + second + "\ty\t");
}
