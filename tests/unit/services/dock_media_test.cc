// BADGE, ATTENTION, PROGRESS, APPICON and NOWPLAYING against the fake dock: the
// tile and launcher entry shown, the now-playing values and the media keys.

#include <gtest/gtest.h>

#include <functional>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/settings.h"
#include "platform/fake/fake_dock.h"
#include "services/dock_media.h"
#include "tests/unit/core/test_support.h"

namespace {

using platform::DockTile;
using platform::NowPlaying;
using platform::RemoteCommand;

class DockTest : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    dock_reset_for_tests();
    platform::install_dock(&dock);
    dock.images = {"/icons/a.png", "/icons/dev.png"};
  }
  void TearDown() override {
    platform::install_dock(nullptr);
    dock_reset_for_tests();
    unsetenv("QUIBEX_ICON");
    FakeDesktopTest::TearDown();
  }
  platform::fake::FakeDock dock;
  WireCapture wire;
};

TEST_F(DockTest, TileFollowsIconProgressAndBadge) {
  do_progress(nullptr, std::make_unique<double>(0.4));
  do_appicon(nullptr, std::make_unique<std::string>("/icons/missing.png"));  // unreadable: nothing changes
  do_appicon(nullptr, std::make_unique<std::string>("/icons/a.png"));
  do_badge(nullptr, std::make_unique<std::string>("3"));
  do_progress(nullptr, std::make_unique<double>(-1));
  do_appicon(nullptr, std::make_unique<std::string>(""));  // no start-up icon: the plain one
  do_badge(nullptr, std::make_unique<std::string>(""));
  EXPECT_EQ(dock.tiles, (std::vector<DockTile>{{"", 0.4, ""},
                                               {"/icons/a.png", 0.4, ""},
                                               {"/icons/a.png", 0.4, "3"},
                                               {"/icons/a.png", -1, "3"},
                                               {"", -1, "3"},
                                               {"", -1, ""}}));
  EXPECT_TRUE(wire.lines().empty());  // none of them answers
}

TEST_F(DockTest, StartUpIconIsWhatAnEmptyAppIconRestores) {
  setenv("QUIBEX_ICON", "/icons/dev.png", 1);
  apply_dev_icon();
  do_appicon(nullptr, std::make_unique<std::string>("/icons/a.png"));
  do_appicon(nullptr, std::make_unique<std::string>(""));
  ASSERT_EQ(dock.tiles.size(), 3u);
  EXPECT_EQ(dock.tiles[0].icon, "/icons/dev.png");
  EXPECT_EQ(dock.tiles[2].icon, "/icons/dev.png");
  dock_reset_for_tests();
  setenv("QUIBEX_ICON", "/icons/missing.png", 1);
  apply_dev_icon();
  EXPECT_EQ(dock.tiles.size(), 3u);
}

TEST_F(DockTest, DebugIconReportsTheIconSetAndItsSize) {
  using Step = std::function<void()>;
  const struct {
    const char* what;
    Step step;
    const char* want;
  } steps[] = {
      {"nothing set", [] {}, "{\"set\":false,\"width\":0,\"height\":0,\"hasDevDefault\":false,\"env\":\"\"}"},
      {"an unreadable icon", [] { do_appicon(nullptr, std::make_unique<std::string>("/icons/missing.png")); },
       "{\"set\":false,\"width\":0,\"height\":0,\"hasDevDefault\":false,\"env\":\"\"}"},
      {"an icon", [&] { do_appicon(nullptr, std::make_unique<std::string>("/icons/a.png")); },
       "{\"set\":true,\"width\":128,\"height\":96,\"hasDevDefault\":false,\"env\":\"\"}"},
      {"back to none", [] { do_appicon(nullptr, std::make_unique<std::string>("")); },
       "{\"set\":false,\"width\":0,\"height\":0,\"hasDevDefault\":false,\"env\":\"\"}"},
      {"the start-up icon",
       [&] {
         setenv("QUIBEX_ICON", "/icons/dev.png", 1);
         dock.image_width = 64;
         dock.image_height = 32;
         apply_dev_icon();
       },
       "{\"set\":true,\"width\":64,\"height\":32,\"hasDevDefault\":true,\"env\":\"/icons/dev.png\"}"},
      {"another icon over it",
       [&] {
         dock.image_width = 16;
         dock.image_height = 16;
         do_appicon(nullptr, std::make_unique<std::string>("/icons/a.png"));
       },
       "{\"set\":true,\"width\":16,\"height\":16,\"hasDevDefault\":true,\"env\":\"/icons/dev.png\"}"},
      {"restored", [] { do_appicon(nullptr, std::make_unique<std::string>("")); },
       "{\"set\":true,\"width\":64,\"height\":32,\"hasDevDefault\":true,\"env\":\"/icons/dev.png\"}"},
  };
  for (const auto& s : steps) {
    s.step();
    EXPECT_EQ(dock_icon_json(), s.want) << s.what;
  }
}

TEST_F(DockTest, LauncherEntryProperties) {
  struct Case {
    std::string badge;
    double progress;
    bool count_visible;
    long long count;
    bool progress_visible;
    double shown;
  };
  const std::vector<Case> cases = {
      {"", -1, false, 0, false, 0}, {"7", 0.25, true, 7, true, 0.25}, {"-2", 1.7, true, -2, true, 1.0},
      {"new", 0, false, 0, true, 0}, {"3 new", -0.5, false, 0, false, 0}, {"99999999999999999999", -1, false, 0, false, 0},
  };
  for (const Case& c : cases) {
    platform::LauncherEntry e = launcher_entry_for(c.badge, c.progress, false);
    EXPECT_EQ(e.count_visible, c.count_visible) << c.badge;
    EXPECT_EQ(e.count, c.count) << c.badge;
    EXPECT_EQ(e.progress_visible, c.progress_visible) << c.progress;
    EXPECT_EQ(e.progress, c.shown) << c.progress;
    EXPECT_EQ(e.app_uri, "application://quibex.desktop");
  }
  // The tile names the application as its windows do: by the identity's id,
  // whatever folder the executable lies in.
  settings().bundle_path = "/a/Foo.app";
  EXPECT_EQ(launcher_entry_for("", -1, false).app_uri, "application://quibex.desktop");
  settings().app_id = "org.example.Foo";
  EXPECT_EQ(launcher_entry_for("", -1, false).app_uri, "application://org.example.Foo.desktop");
  settings().app_id.clear();
  settings().bundle_path.clear();
}

TEST_F(DockTest, AttentionAsksCriticalForAnyNonZero) {
  for (int v : {0, 1, -3}) do_attention(nullptr, std::make_unique<int>(v));
  EXPECT_EQ(dock.attentions, (std::vector<bool>{false, true, true}));
  ASSERT_EQ(dock.entries.size(), 3u);
  EXPECT_TRUE(dock.entries[0].urgent);
  do_badge(nullptr, std::make_unique<std::string>("1"));
  EXPECT_FALSE(dock.entries.back().urgent);  // only attention raises it
}

TEST(NowPlayingJson, Members) {
  struct Case {
    std::string json;
    NowPlaying want;
  };
  auto np = [](std::optional<std::string> t, std::optional<std::string> ar, std::optional<std::string> al,
               std::optional<double> d, std::optional<double> e, bool playing) {
    NowPlaying n;
    n.cleared = false;
    n.title = t, n.artist = ar, n.album = al, n.duration = d, n.elapsed = e, n.playing = playing;
    return n;
  };
  const std::vector<Case> cases = {
      {R"({"title":"Song","artist":"Band","album":"LP","duration":200.5,"elapsed":12,"playing":true})",
       np("Song", "Band", "LP", 200.5, 12, true)},
      {R"({"playing":true})", np({}, {}, {}, {}, {}, true)},
      {R"({"playing":0})", np({}, {}, {}, {}, {}, false)},
      {R"({"playing":2})", np({}, {}, {}, {}, {}, true)},
      {R"({"playing":"yes","title":5,"duration":"long","extra":1})", np({}, {}, {}, {}, {}, false)},
      {"not json", np({}, {}, {}, {}, {}, false)},
      {"[1,2]", np({}, {}, {}, {}, {}, false)},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_now_playing(c.json), c.want) << c.json;
}

TEST_F(DockTest, NowPlayingArmsOnceAndMediaKeysComeBack) {
  do_nowplaying(nullptr, std::make_unique<NowPlayingReq>("clear"));  // before anything: nothing published
  EXPECT_TRUE(dock.playing.empty());
  do_nowplaying(nullptr, std::make_unique<NowPlayingReq>(NowPlayingReq{R"({"title":"A","playing":true})"}));
  do_nowplaying(nullptr, std::make_unique<NowPlayingReq>(""));
  ASSERT_EQ(dock.playing.size(), 2u);
  EXPECT_EQ(dock.playing[0].title, "A");
  EXPECT_TRUE(dock.playing[1].cleared);  // stopped, the entry kept
  EXPECT_EQ(dock.suffix.rfind("quibex.instance", 0), 0u);
  ASSERT_TRUE(dock.command);
  const std::vector<std::pair<RemoteCommand, double>> presses = {
      {RemoteCommand::kPlay, 0}, {RemoteCommand::kPause, 0}, {RemoteCommand::kToggle, 0},
      {RemoteCommand::kNext, 0}, {RemoteCommand::kPrevious, 0}, {RemoteCommand::kSeek, 83.25},
      {RemoteCommand::kSeek, 0.0004}};
  for (auto [c, pos] : presses) dock.command(c, pos);
  EXPECT_EQ(wire.lines(), (std::vector<std::string>{"MEDIAKEY play", "MEDIAKEY pause", "MEDIAKEY toggle",
                                                    "MEDIAKEY next", "MEDIAKEY previous", "MEDIAKEY seek\t83.250",
                                                    "MEDIAKEY seek\t0.000"}));
}

}  // namespace
