// Settings rules, the read-access directory and bundle discovery.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "core/page_files.h"
#include "core/startup.h"

namespace {

namespace fs = std::filesystem;

struct Env {
  std::map<std::string, std::string> vars;
  EnvLookup lookup() const {
    return [this](const char* n) -> const char* {
      auto it = vars.find(n);
      return it == vars.end() ? nullptr : it->second.c_str();
    };
  }
};

TEST(Settings, EachSettingFollowsItsOwnRule) {
  platform::PlistDict info;
  info.strings = {{"QuibexReadAccess", "/srv"}, {"QuibexDebug", "1"}, {"QuibexUserAgent", "UA/plist"},
                  {"QuibexDownloads", "ask"}, {"QuibexActivation", "accessory"}};
  info.bools = {{"QuibexDeferShow", true}, {"QuibexPanel", false}};
  struct Case {
    std::map<std::string, std::string> env;
    std::string read_access, debug, ua, downloads;
    bool accessory, defer, panel;
  } cases[] = {
      {{}, "/srv", "1", "UA/plist", "ask", true, false, false},
      // Set at all, even empty, wins for read access and the user agent.
      {{{"QUIBEX_READ_ACCESS", ""}, {"QUIBEX_UA", ""}}, "", "1", "", "ask", true, false, false},
      // Only non-empty wins for debug and downloads.
      {{{"QUIBEX_DEBUG", ""}, {"QUIBEX_DOWNLOADS", ""}}, "/srv", "1", "UA/plist", "ask", true, false, false},
      {{{"QUIBEX_DEBUG", "open"}}, "/srv", "open", "UA/plist", "ask", true, false, false},
      {{{"QUIBEX_ACTIVATION", "regular"}}, "/srv", "1", "UA/plist", "ask", true, false, false},
      {{{"QUIBEX_PANEL", "1"}}, "/srv", "1", "UA/plist", "ask", true, false, true},
  };
  for (const Case& c : cases) {
    Env env{c.env};
    StartupSettings s = read_settings(env.lookup(), info, "");
    EXPECT_EQ(s.read_access, c.read_access);
    EXPECT_EQ(s.debug, c.debug);
    EXPECT_EQ(s.user_agent, c.ua);
    EXPECT_EQ(s.downloads, c.downloads);
    EXPECT_EQ(s.accessory, c.accessory);
    EXPECT_EQ(s.defer_show, c.defer);  // ignored in accessory mode
    EXPECT_EQ(s.panel, c.panel);
  }
  // Without accessory mode: "0" cannot switch off a true key.
  info.strings.erase("QuibexActivation");
  Env off{{{"QUIBEX_DEFER_SHOW", "0"}}};
  EXPECT_TRUE(read_settings(off.lookup(), info, "").defer_show);
  Env on{{{"QUIBEX_DEFER_SHOW", "1"}}};
  info.bools.clear();
  EXPECT_TRUE(read_settings(on.lookup(), info, "").defer_show);
  EXPECT_FALSE(read_settings(off.lookup(), info, "").defer_show);
}

TEST(Settings, TildeAndInjectFile) {
  setenv("HOME", "/home/u", 1);
  Env env{{{"QUIBEX_READ_ACCESS", "~/docs"}}};
  EXPECT_EQ(read_settings(env.lookup(), {}, "").read_access, "/home/u/docs");

  fs::path app = fs::temp_directory_path() / "quibex-settings-test" / "Demo.app";
  fs::create_directories(app / "Contents/Resources/app");
  std::ofstream(app / "Contents/Resources/app/inject.js") << "window.fromFile = 1;";
  EXPECT_EQ(read_settings(Env{}.lookup(), {}, app.string()).inject_js, "window.fromFile = 1;");
  Env inject{{{"QUIBEX_INJECT", "window.fromEnv = 1;"}}};
  EXPECT_EQ(read_settings(inject.lookup(), {}, app.string()).inject_js, "window.fromEnv = 1;");
  fs::remove_all(app.parent_path());
}

TEST(Plist, BooleansReadLikeBoolValue) {
  platform::PlistDict d;
  d.bools = {{"t", true}, {"f", false}};
  d.strings = {{"yes", "YES"}, {"one", "1"}, {"zero", "0"}, {"no", "no"}, {"sp", "  true"}, {"z9", "009"}};
  EXPECT_TRUE(d.boolean("t"));
  EXPECT_FALSE(d.boolean("f"));
  EXPECT_TRUE(d.boolean("yes"));
  EXPECT_TRUE(d.boolean("one"));
  EXPECT_FALSE(d.boolean("zero"));
  EXPECT_FALSE(d.boolean("no"));
  EXPECT_TRUE(d.boolean("sp"));
  EXPECT_TRUE(d.boolean("z9"));
  EXPECT_FALSE(d.boolean("missing"));
}

class ReadAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / "quibex-ra-test";
    fs::remove_all(root);
    fs::create_directories(root / "app/frontend");
    fs::create_directories(root / "other/deep");
  }
  void TearDown() override { fs::remove_all(root); }
  fs::path root;
};

TEST_F(ReadAccess, TheDirectoryAPageFileMayRead) {
  const std::string page = (root / "app/frontend/index.html").string();
  EXPECT_EQ(quib_read_access_url(page, ""), (root / "app/frontend").string());
  fs::create_directories(root / "app/shared");
  EXPECT_EQ(quib_read_access_url(page, ""), (root / "app").string());
  // A setting that holds the base: the setting.
  EXPECT_EQ(quib_read_access_url(page, root.string()), root.string());
  EXPECT_EQ(quib_read_access_url(page, root.string() + "/"), root.string());
  EXPECT_EQ(quib_read_access_url(page, (root / "app/./").string()), (root / "app").string());
  // One that holds neither: the deepest directory holding both.
  EXPECT_EQ(quib_read_access_url(page, (root / "other/deep").string()), root.string());
  EXPECT_EQ(quib_read_access_url(page, "/nowhere/else"), "/");
}

TEST(Bundle, TheNearestAppAncestorOfTheExecutable) {
  EXPECT_EQ(find_app_bundle("/opt/Hello.app/Contents/MacOS/quibex"), "/opt/Hello.app");
  EXPECT_EQ(find_app_bundle("/a/Outer.app/b/Inner.app/Contents/MacOS/quibex"), "/a/Outer.app/b/Inner.app");
  EXPECT_EQ(find_app_bundle("/usr/bin/quibex"), "");
  EXPECT_EQ(find_app_bundle("/opt/.app/quibex"), "");
}

}  // namespace
