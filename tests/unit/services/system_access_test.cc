// SECRET, AUTH, OSA and WINCTRL against the fake desktop: the answer lines a
// backend reads.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/records.h"
#include "core/window_screens.h"
#include "platform/fake/fake_system_access.h"
#include "services/protected_commands.h"
#include "tests/unit/core/test_support.h"

namespace {

class SystemAccessTest : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    platform::install_system_access(&access);
  }
  void TearDown() override {
    platform::install_system_access(nullptr);
    FakeDesktopTest::TearDown();
  }
  std::vector<std::string> secret(const std::string& op, const std::string& service, const std::string& account,
                                  const std::string& value = "", const std::string& id = "s1") {
    do_secret(nullptr, std::make_unique<SecretReq>(id, op, service, account, value));
    return wire.lines();
  }
  platform::fake::FakeSystemAccess access;
  WireCapture wire;
};

TEST_F(SystemAccessTest, SecretAnswers) {
  struct Case {
    std::string op, service, account, value, want;
  };
  const std::vector<Case> cases = {
      {"get", "svc", "me", "", R"(GOT s1 {"ok":true,"value":null})"},  // missing is no error
      {"del", "svc", "me", "", R"(GOT s1 {"ok":true})"},                // nor is deleting it
      {"set", "svc", "me", "first", R"(GOT s1 {"ok":true})"},
      {"set", "svc", "me", "second \"quoted\" é", R"(GOT s1 {"ok":true})"},
      {"get", "svc", "me", "", R"(GOT s1 {"ok":true,"value":"second \"quoted\" é"})"},
      {"get", "svc", "other", "", R"(GOT s1 {"ok":true,"value":null})"},
      {"set", "", "", "empty names", R"(GOT s1 {"ok":true})"},
      {"get", "", "", "", R"(GOT s1 {"ok":true,"value":"empty names"})"},
      {"del", "svc", "me", "", R"(GOT s1 {"ok":true})"},
      {"get", "svc", "me", "", R"(GOT s1 {"ok":true,"value":null})"},
      {"list", "svc", "me", "", R"(GOT s1 {"ok":false,"error":"unknown secret op"})"},
      {"", "svc", "me", "", R"(GOT s1 {"ok":false,"error":"unknown secret op"})"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(secret(c.op, c.service, c.account, c.value), std::vector<std::string>{c.want})
        << c.op << " " << c.service << "/" << c.account;
  // Two sets of one pair leave one item.
  EXPECT_EQ(access.secrets.size(), 1u);
}

TEST_F(SystemAccessTest, SecretThatIsNoTextReadsAsNull) {
  access.secrets[{"svc", "me"}] = std::string("\xff\xfe", 2);
  EXPECT_EQ(secret("get", "svc", "me"), std::vector<std::string>{R"(GOT s1 {"ok":true,"value":null})"});
}

TEST_F(SystemAccessTest, FailedSetKeepsTheOldSecret) {
  secret("set", "svc", "me", "old");
  access.fail_status = 2;
  EXPECT_EQ(secret("set", "svc", "me", "new"),
            std::vector<std::string>{R"(GOT s1 {"ok":false,"error":"keychain error 2: the store failed"})"});
  access.fail_status = 0;
  EXPECT_EQ(secret("get", "svc", "me"), std::vector<std::string>{R"(GOT s1 {"ok":true,"value":"old"})"});
}

TEST_F(SystemAccessTest, StoreFailuresAnswerTheirStatus) {
  access.fail_status = 7;
  for (const char* op : {"get", "set", "del"})
    EXPECT_EQ(secret(op, "svc", "me", "v"),
              std::vector<std::string>{R"(GOT s1 {"ok":false,"error":"keychain error 7: the store failed"})"})
        << op;
}

TEST_F(SystemAccessTest, AuthenticationUnavailableAnswersAtOnce) {
  do_auth(nullptr, std::make_unique<AuthReq>("a1", "unlock"));
  EXPECT_EQ(wire.lines(), std::vector<std::string>{R"(GOT a1 {"ok":false,"error":"authentication unavailable"})"});
}

TEST_F(SystemAccessTest, AuthenticationAnswersWhenTheUserDid) {
  access.auth_unavailable.reset();
  do_auth(nullptr, std::make_unique<AuthReq>("a1", ""));
  do_auth(nullptr, std::make_unique<AuthReq>("a2", "Unlock the vault"));
  do_auth(nullptr, std::make_unique<AuthReq>("a3", "x"));
  ASSERT_EQ(access.auth_asks.size(), 3u);
  EXPECT_EQ(access.auth_asks[0].reason, "authenticate");  // an empty reason still says why
  EXPECT_EQ(access.auth_asks[1].reason, "Unlock the vault");
  EXPECT_TRUE(wire.lines().empty());  // nothing until the user answers
  access.auth_asks[1].answer(false, std::string("Request dismissed"));
  access.auth_asks[0].answer(true, std::nullopt);
  access.auth_asks[2].answer(false, std::nullopt);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{
                              R"(GOT a2 {"ok":false,"error":"Request dismissed"})",
                              R"(GOT a1 {"ok":true,"error":null})",
                              R"(GOT a3 {"ok":false,"error":"authentication failed"})",
                          }));
}

// The store's attributes and polkit's message are D-Bus strings: other bytes
// are refused with an answer instead of never reaching the desktop.
TEST_F(SystemAccessTest, TextThatIsNotUtf8IsRefused) {
  access.auth_unavailable.reset();
  const std::string bad = "caf\xe9";
  for (const auto& [service, account] : {std::pair{bad, std::string("me")}, std::pair{std::string("svc"), bad}})
    for (const char* op : {"get", "set", "del"})
      EXPECT_EQ(secret(op, service, account, "v"),
                std::vector<std::string>{R"(GOT s1 {"ok":false,"error":"service and account must be UTF-8 text"})"})
          << op;
  EXPECT_TRUE(access.secrets.empty());
  do_auth(nullptr, std::make_unique<AuthReq>("a1", bad));
  EXPECT_EQ(wire.lines(), std::vector<std::string>{R"(GOT a1 {"ok":false,"error":"reason must be UTF-8 text"})"});
  EXPECT_TRUE(access.auth_asks.empty());
}

// A prompt nobody answers: the person is waited for, then SECRET and AUTH are
// answered once and the desktop's requests withdrawn.
TEST_F(SystemAccessTest, NobodyAtThePromptTimesOutAndIsWithdrawn) {
  access.hold_secrets = true;
  access.auth_unavailable.reset();
  do_secret(nullptr, std::make_unique<SecretReq>("s1", "get", "svc", "me", ""));
  do_auth(nullptr, std::make_unique<AuthReq>("a1", "unlock"));
  do_secret(nullptr, std::make_unique<SecretReq>("s2", "set", "svc", "me", "v"));
  do_auth(nullptr, std::make_unique<AuthReq>("a2", "unlock"));
  access.secret_asks[1].answer();
  access.auth_asks[1].answer(true, std::nullopt);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT s2 {"ok":true})", R"(GOT a2 {"ok":true,"error":null})"}));
  desktop.clock.advance(kPromptWaitMs - 1);
  EXPECT_TRUE(wire.lines().empty()) << "the person at the prompt is waited for";
  desktop.clock.advance(1);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{
                              R"(GOT s1 {"ok":false,"error":"keychain timed out"})",
                              R"(GOT a1 {"ok":false,"error":"authentication timed out"})",
                          }));
  EXPECT_TRUE(access.secret_asks[0].withdrawn);
  EXPECT_TRUE(access.auth_asks[0].withdrawn);
  EXPECT_FALSE(access.secret_asks[1].withdrawn);
  EXPECT_FALSE(access.auth_asks[1].withdrawn);
  access.secret_asks[0].answer();  // too late: the requests were answered
  access.auth_asks[0].answer(true, std::nullopt);
  desktop.clock.advance(kPromptWaitMs);
  EXPECT_TRUE(wire.lines().empty());
}

TEST_F(SystemAccessTest, ScriptsAreUnsupported) {
  do_osa(nullptr, std::make_unique<OsaReq>("o1", "return 1"));
  EXPECT_EQ(wire.lines(), std::vector<std::string>{R"(GOT o1 {"ok":false,"error":"unsupported"})"});
}

TEST_F(SystemAccessTest, WindowControl) {
  access.windows = {{100, true}, {200, false}};
  struct Case {
    long pid;
    std::string want;
  };
  const std::vector<Case> cases = {
      {100, R"(GOT w1 {"ok":true,"error":null})"},
      {200, R"(GOT w1 {"ok":false,"error":"no movable window"})"},  // refuses to move
      {300, R"(GOT w1 {"ok":false,"error":"no movable window"})"},  // no windows
      {0, R"(GOT w1 {"ok":false,"error":"no movable window"})"},
      {-5, R"(GOT w1 {"ok":false,"error":"no movable window"})"},
      {(1L << 32) + 100, R"(GOT w1 {"ok":true,"error":null})"},  // the id travels as 32 bits
  };
  for (const Case& c : cases) {
    do_winctrl(nullptr, std::make_unique<WinCtrlReq>("w1", c.pid, 10, 20, 300, 200));
    EXPECT_EQ(wire.lines(), std::vector<std::string>{c.want}) << c.pid;
  }
  ASSERT_EQ(access.moves.size(), 2u);
  // Top-left origin, y down, becomes the host's y-up frame.
  EXPECT_EQ(access.moves[0].second, (platform::Rect{10, primary_top() - 220, 300, 200}));
}

TEST_F(SystemAccessTest, WithoutTheServicesEveryCommandStillAnswers) {
  platform::install_system_access(nullptr);
  do_secret(nullptr, std::make_unique<SecretReq>("s1", "get", "a", "b", ""));
  do_auth(nullptr, std::make_unique<AuthReq>("a1", ""));
  do_winctrl(nullptr, std::make_unique<WinCtrlReq>("w1", 1, 0, 0, 1, 1));
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{
                              R"(GOT s1 {"ok":false,"error":"unsupported"})",
                              R"(GOT a1 {"ok":false,"error":"authentication unavailable"})",
                              R"(GOT w1 {"ok":false,"error":"unsupported"})",
                          }));
}

}  // namespace
