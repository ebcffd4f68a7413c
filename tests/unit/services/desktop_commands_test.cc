// SHELL, LOGIN, POWER, SOUND and SPOTLIGHT against the fake desktop.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/settings.h"
#include "platform/fake/fake_desktop_shell.h"
#include "services/desktop_commands.h"
#include "tests/unit/core/test_support.h"

namespace {

namespace fs = std::filesystem;

class DesktopCommandTest : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    platform::install_desktop_shell(&shell);
    power_reset_for_tests();
    dir = fs::temp_directory_path() / ("qbx-desk-" + std::to_string(getpid()));
    fs::create_directories(dir);
    old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  }
  void TearDown() override {
    setenv("HOME", old_home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir);
    settings().bundle_identifier.clear();
    settings().bundle_path.clear();
    platform::install_desktop_shell(nullptr);
    FakeDesktopTest::TearDown();
  }
  std::string shell_cmd(const std::string& op, const std::string& arg) {
    do_shell(nullptr, std::make_unique<ShellReq>("h1", op, arg));
    return one();
  }
  std::string one() {
    auto l = wire.lines();
    EXPECT_EQ(l.size(), 1u);
    return l.empty() ? "" : l[0];
  }
  platform::fake::FakeDesktopShell shell;
  WireCapture wire;
  fs::path dir;
  std::string old_home;
};

TEST(ShellArg, SchemesPathsAndTilde) {
  struct Case {
    std::string arg;
    bool scheme, file;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"https://example.com/a b", false, false, "https://example.com/a b"},  // a space: no URL
      {"https://example.com/x", true, false, "https://example.com/x"},
      {"mailto:a@b.c", true, false, "mailto:a@b.c"},
      {"file:///tmp/a%20b.txt", true, true, "/tmp/a b.txt"},
      {"file://localhost/etc/hosts", true, true, "/etc/hosts"},
      {"FILE:/x?y#z", true, true, "/x"},
      {"~", false, false, "/home/u"},
      {"~/doc.txt", false, false, "/home/u/doc.txt"},
      {"~nosuchuser-xyz/a", false, false, "~nosuchuser-xyz/a"},
      {"/abs/path", false, false, "/abs/path"},
      {"relative/p", false, false, "relative/p"},
      {"", false, false, ""},
      {"1http://x", false, false, "1http://x"},
  };
  for (const Case& c : cases) {
    ShellTarget t = parse_shell_arg(c.arg, "/home/u");
    EXPECT_EQ(t.has_scheme, c.scheme) << c.arg;
    EXPECT_EQ(t.file_url, c.file) << c.arg;
    EXPECT_EQ(t.path, c.path) << c.arg;
  }
  EXPECT_EQ(file_uri("/tmp/a b/ü#.txt"), "file:///tmp/a%20b/%C3%BC%23.txt");
}

TEST_F(DesktopCommandTest, ShellAnswers) {
  const std::string home = dir.string();
  shell.files = {home + "/doc.txt", "/tmp/x y"};
  shell.refuse_open = {"nosuch:thing", "file:///missing"};
  struct Case {
    std::string op, arg, want;
  };
  const std::vector<Case> cases = {
      {"open", "https://example.com", R"({"ok":true,"error":null})"},
      {"open", "nosuch:thing", R"({"ok":false,"error":"no application registered for URL"})"},
      {"open", "file:///missing", R"({"ok":false,"error":"no application registered for URL"})"},
      {"open", "~/doc.txt", R"({"ok":true,"error":null})"},
      {"open", "~/none.txt", R"({"ok":false,"error":"no such file"})"},
      {"open", "", R"({"ok":false,"error":"no such file"})"},
      {"reveal", "/tmp/x y", R"({"ok":true,"error":null})"},
      {"reveal", "/tmp/none", R"({"ok":false,"error":"no such file"})"},
      {"launch", "/tmp/x y", R"({"ok":false,"error":"unknown shell op"})"},
  };
  for (const Case& c : cases) EXPECT_EQ(shell_cmd(c.op, c.arg), "GOT h1 " + c.want) << c.op << " " << c.arg;
  EXPECT_EQ(shell.opened, (std::vector<std::string>{"https://example.com", "nosuch:thing", "file:///missing",
                                                    "file://" + home + "/doc.txt"}));
  EXPECT_EQ(shell.revealed, std::vector<std::string>{"/tmp/x y"});
}

TEST_F(DesktopCommandTest, TrashMovesOnlyWhatIsNamedInFull) {
  shell.files = {"/tmp/a.txt", dir.string() + "/b.txt", "/tmp/c d.txt"};
  struct Case {
    std::string arg, want;
  };
  const std::vector<Case> cases = {
      {"", R"({"ok":false,"error":"not an absolute path"})"},
      {".", R"({"ok":false,"error":"not an absolute path"})"},
      {"a.txt", R"({"ok":false,"error":"not an absolute path"})"},
      {"https://example.com/a.txt", R"({"ok":false,"error":"not a file URL"})"},
      {"/tmp/a.txt", R"({"ok":true,"error":null})"},
      {"~/b.txt", R"({"ok":true,"error":null})"},
      {"file:///tmp/c%20d.txt", R"({"ok":true,"error":null})"},
      {"/tmp/a.txt", R"({"ok":false,"error":"No such file or directory"})"},  // gone already
  };
  for (const Case& c : cases) EXPECT_EQ(shell_cmd("trash", c.arg), "GOT h1 " + c.want) << c.arg;
  EXPECT_EQ(shell.trashed, (std::vector<std::string>{"/tmp/a.txt", dir.string() + "/b.txt", "/tmp/c d.txt",
                                                     "/tmp/a.txt"}));
}

TEST_F(DesktopCommandTest, LoginItemIsAnAutostartEntry) {
  do_login(nullptr, std::make_unique<LoginReq>("l1", 1));
  EXPECT_EQ(one(), R"(GOT l1 {"status":"unsupported","ok":false,"error":null})");

  settings().bundle_identifier = "com.example.Notes";
  settings().bundle_path = "/opt/Notes.app";
  settings().app_name = "Notes";
  desktop.exe_path = "/opt/Notes.app/Contents/MacOS/quibex";
  const fs::path entry = dir / "config/autostart/com.example.Notes.desktop";
  struct Step {
    int action;
    std::string want;
    bool exists;
  };
  const std::vector<Step> steps = {
      {-1, R"({"status":"disabled","ok":true,"error":null})", false},
      {0, R"({"status":"disabled","ok":true,"error":null})", false},  // nothing to remove
      {1, R"({"status":"enabled","ok":true,"error":null})", true},
      {1, R"({"status":"enabled","ok":true,"error":null})", true},  // already there
      {-1, R"({"status":"enabled","ok":true,"error":null})", true},
      {0, R"({"status":"disabled","ok":true,"error":null})", false},
  };
  for (const Step& s : steps) {
    do_login(nullptr, std::make_unique<LoginReq>("l1", s.action));
    EXPECT_EQ(one(), "GOT l1 " + s.want) << s.action;
    EXPECT_EQ(fs::exists(entry), s.exists) << s.action;
  }
  settings().app_name = "quibex";
}

TEST(AutostartEntry, Content) {
  EXPECT_EQ(autostart_entry("My \"App\"\nX", "/opt/A b$%.app/Contents/MacOS/quibex"),
            "[Desktop Entry]\nType=Application\nName=My \"App\" X\n"
            "Exec=\"/opt/A b\\\\$%%.app/Contents/MacOS/quibex\"\n"
            "X-GNOME-Autostart-enabled=true\n");
}

TEST_F(DesktopCommandTest, PowerHoldsAtMostOneInhibition) {
  struct Step {
    bool on, display;
    std::string reason, want;
    size_t held;
  };
  const std::vector<Step> steps = {
      {false, false, "", R"({"ok":true,"active":false})", 0},
      {true, false, "", R"({"ok":true,"active":true})", 1},
      {true, true, "video", R"({"ok":true,"active":true})", 1},  // replaces the first
      {false, false, "", R"({"ok":true,"active":false})", 0},
  };
  for (const Step& s : steps) {
    do_power(nullptr, std::make_unique<PowerReq>("p1", s.reason, s.on, s.display));
    EXPECT_EQ(one(), "GOT p1 " + s.want);
    EXPECT_EQ(shell.held.size(), s.held);
  }
  ASSERT_EQ(shell.inhibit_asks.size(), 2u);
  EXPECT_EQ(shell.inhibit_asks[0].reason, "quibex app");
  EXPECT_FALSE(shell.inhibit_asks[0].display);
  EXPECT_EQ(shell.inhibit_asks[1].reason, "video");
  EXPECT_TRUE(shell.inhibit_asks[1].display);

  shell.refuse_inhibit = true;
  do_power(nullptr, std::make_unique<PowerReq>("p2", "", true, false));
  EXPECT_EQ(one(), R"(GOT p2 {"ok":false,"active":false})");
}

TEST_F(DesktopCommandTest, PowerOffWhileOnIsBeingSetUpHoldsNothing) {
  shell.hold_inhibit = true;
  do_power(nullptr, std::make_unique<PowerReq>("p1", "", true, false));
  do_power(nullptr, std::make_unique<PowerReq>("p2", "", false, false));
  EXPECT_EQ(one(), R"(GOT p2 {"ok":true,"active":false})");
  shell.answer_inhibit(0);
  EXPECT_EQ(one(), R"(GOT p1 {"ok":true,"active":false})");
  EXPECT_TRUE(shell.held.empty());
}

// Text for the desktop's D-Bus services must be UTF-8: an "on" whose reason is
// not is refused whole (what is held stays held); the application's name and a
// search are mended instead.
TEST_F(DesktopCommandTest, PowerAndSearchTextThatIsNotUtf8) {
  settings().app_name = "App\xff";
  do_power(nullptr, std::make_unique<PowerReq>("p1", "", true, false));
  EXPECT_EQ(one(), R"(GOT p1 {"ok":true,"active":true})");
  EXPECT_EQ(shell.inhibit_asks.back().who, "App\xef\xbf\xbd");
  settings().app_name = "quibex";
  do_power(nullptr, std::make_unique<PowerReq>("p2", "back\xc3up", true, true));
  EXPECT_EQ(one(), R"(GOT p2 {"ok":false,"active":true})");
  EXPECT_EQ(shell.inhibit_asks.size(), 1u);
  EXPECT_EQ(shell.held.size(), 1u);
  do_power(nullptr, std::make_unique<PowerReq>("p3", "\xff", false, false));  // off sends no reason
  EXPECT_EQ(one(), R"(GOT p3 {"ok":true,"active":false})");

  do_spotlight(nullptr, std::make_unique<SpotlightReq>("q1", "r\xe9sum\xe9"));
  one();
  EXPECT_EQ(shell.searches.back(), "r\xef\xbf\xbdsum\xef\xbf\xbd");
}

TEST_F(DesktopCommandTest, SoundsAndSearch) {
  shell.known_sounds = {"bell", "/tmp/x.oga"};
  const std::vector<std::pair<std::string, std::string>> sounds = {
      {"", R"(GOT s1 {"ok":true})"}, {"bell", R"(GOT s1 {"ok":true})"},
      {"/tmp/x.oga", R"(GOT s1 {"ok":true})"}, {"NoSuchSound", R"(GOT s1 {"ok":false})"}};
  for (const auto& [name, want] : sounds) {
    do_sound(nullptr, std::make_unique<SoundReq>("s1", name));
    EXPECT_EQ(one(), want) << name;
  }

  for (int i = 0; i < 250; ++i) shell.search_results.push_back("/h/f" + std::to_string(i));
  shell.search_results[1] = "/h/\"q\"";
  do_spotlight(nullptr, std::make_unique<SpotlightReq>("q1", "f"));
  const std::string line = one();
  EXPECT_EQ(line.rfind(R"(GOT q1 {"ok":true,"paths":["/h/f0","/h/\"q\"","/h/f2",)", 0), 0u) << line;
  EXPECT_NE(line.find(R"("/h/f99"]})"), std::string::npos);  // at most 100
  EXPECT_EQ(line.find("/h/f100"), std::string::npos);
  EXPECT_EQ(shell.search_limits.back(), 100);

  do_spotlight(nullptr, std::make_unique<SpotlightReq>("q2", ""));
  EXPECT_EQ(one(), R"(GOT q2 {"ok":true,"paths":[]})");
}

// A sound server that answers late, or never: each SOUND is answered once, false
// when the sound had not started within the limit.
TEST_F(DesktopCommandTest, SoundsAreAnsweredOnceAndInTime) {
  shell.known_sounds = {"bell"};
  shell.hold_sounds = true;
  do_sound(nullptr, std::make_unique<SoundReq>("late", "bell"));
  do_sound(nullptr, std::make_unique<SoundReq>("never", "bell"));
  do_sound(nullptr, std::make_unique<SoundReq>("soon", "bell"));
  EXPECT_TRUE(wire.lines().empty());  // nothing waits on the main thread, nothing is answered yet
  shell.answer_sound(2);
  EXPECT_EQ(one(), R"(GOT soon {"ok":true})");
  desktop.clock.advance(kSoundAnswerLimitMs);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{R"(GOT late {"ok":false})", R"(GOT never {"ok":false})"}));
  shell.answer_sound(0);  // started after all: it was answered already
  shell.sound_answers.clear();  // the desktop lets go of the other one
  desktop.clock.advance(kSoundAnswerLimitMs);
  EXPECT_TRUE(wire.lines().empty());
  // A desktop that drops the question without a word still gets it answered.
  do_sound(nullptr, std::make_unique<SoundReq>("dropped", "bell"));
  shell.sound_answers.clear();
  EXPECT_EQ(one(), R"(GOT dropped {"ok":false})");
}

TEST_F(DesktopCommandTest, WithoutTheDesktopEveryCommandAnswers) {
  platform::install_desktop_shell(nullptr);
  do_shell(nullptr, std::make_unique<ShellReq>("a", "open", "https://x"));
  do_power(nullptr, std::make_unique<PowerReq>("b", "", true, false));
  do_sound(nullptr, std::make_unique<SoundReq>("c", "bell"));
  do_spotlight(nullptr, std::make_unique<SpotlightReq>("d", "x"));
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{
                              R"(GOT a {"ok":false,"error":"unsupported"})", R"(GOT b {"ok":false,"active":false})",
                              R"(GOT c {"ok":false})", R"(GOT d {"ok":true,"paths":[]})"}));
}

}  // namespace
