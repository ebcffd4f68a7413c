// GET: the key table, windows, the mouse and the screens.

#include <cmath>
#include <cstdlib>
#include <limits>

#include "get_test_support.h"

namespace {

using platform::Point;
using platform::WindowButton;

const double kNan = std::numeric_limits<double>::quiet_NaN();

TEST_F(GetTest, KeysThatNameNothingKnownAnswerNull) {
  const char* keys[] = {"Windows", "windows ", " windows", "WIN", "win ", "Mouse", "screens ", "battery ",
                        "clipboards", "clipboard:counts", "item", "items:x", "debug:Icon", "fgscreen ", "", "GET",
                        "idle\t", "win:nowhere", "win: main"};
  for (const char* key : keys) EXPECT_EQ(get(key), "null") << '"' << key << '"';
}

TEST_F(GetTest, AudioFiltersAnswersTheEqualizerState) {
  EXPECT_EQ(get("audiofilters"), R"({"available":true,"state":"off","filters":0,"heard":false})");
  EXPECT_EQ(get("audiofilters "), "null");
}

TEST_F(GetTest, MenuKeysArePrefixesAndAnswerTheMenuState) {
  for (const char* key : {"item:", "item:quit", "item@", "item@main:quit", "item@main"})
    EXPECT_EQ(get(key), "{\"exists\":false}") << key;
  EXPECT_EQ(get("debug:tray"), "{\"exists\":false}");
  EXPECT_EQ(get("traypos"), "null");
}

TEST_F(GetTest, TheIdComesBackUnchanged) {
  EXPECT_EQ(get("windows", "r-17:x"), "[\"main\"]");
}

TEST_F(GetTest, WindowsListsMainThenTheRegistryInAscendingOrder) {
  open("zeta");
  open("Alpha");
  open("beta");
  lines();
  EXPECT_EQ(get("windows"), "[\"main\",\"Alpha\",\"beta\",\"zeta\"]");
}

TEST_F(GetTest, TheMainWindowInFull) {
  EXPECT_EQ(get("win"),
            "{\"x\":100,\"y\":72,\"width\":800,\"height\":600,\"outer\":{\"width\":800,\"height\":628},"
            "\"fullscreen\":false,\"minimized\":false,\"visible\":true,\"focused\":true,\"alwaysOnTop\":false,"
            "\"resizable\":true,\"clickThrough\":false,\"level\":\"normal\",\"allSpaces\":false,"
            "\"chrome\":{\"frame\":true,\"windowControls\":[\"close\",\"minimize\",\"maximize\"],"
            "\"windowControlsPos\":null,\"transparent\":false,\"vibrancy\":null,\"squareCorners\":false,"
            "\"acceptsFirstMouse\":false},\"screen\":{\"width\":1440,\"height\":900,\"scale\":2.00},"
            "\"screenId\":70,\"local\":{\"x\":100,\"y\":72},\"pixels\":{\"x\":200,\"y\":144,\"width\":1600,"
            "\"height\":1200}}");
  EXPECT_EQ(get("win:"), get("win")) << "the empty id is the main window";
  EXPECT_EQ(get("win:main"), get("win"));
}

TEST_F(GetTest, ChromeFollowsTheChromeRequests) {
  struct Case {
    std::vector<std::string> fields;  // CHROME fields for the main window
    const char* member;
    const char* value;
  } cases[] = {
      {{"0"}, "frame", "false"},  // full-size content under a transparent title bar
      {{"0"}, "windowControls", "[\"close\",\"minimize\",\"maximize\"]"},
      {{"0"}, "squareCorners", "false"},
      {{"1"}, "frame", "true"},
      {{"", "close,maximize"}, "windowControls", "[\"close\",\"maximize\"]"},
      {{"", "none"}, "windowControls", "[]"},
      {{"", "", "1"}, "transparent", "true"},
      {{"", "", "0"}, "transparent", "false"},
      {{"", "", "", "hud"}, "vibrancy", "\"hud\""},
      {{"", "", "", "none"}, "vibrancy", "null"},
      {{"", "", "", "", "1"}, "frame", "false"},  // square corners: not titled
      {{"", "", "", "", "1"}, "windowControls", "[]"},
      {{"", "", "", "", "1"}, "squareCorners", "true"},
      {{"", "", "", "", "0"}, "squareCorners", "false"},
      {{"", "", "", "", "", "1"}, "acceptsFirstMouse", "true"},
      {{"", "", "", "", "", "", "12.5,8"}, "windowControlsPos", "{\"x\":12.5,\"y\":8}"},
      {{"", "", "", "", "", "", "default"}, "windowControlsPos", "null"},
  };
  main_window()->button_frames[0] = Rect{7, 6, 14, 14};
  for (const Case& c : cases) {
    chrome("main", c.fields);
    EXPECT_EQ(member(member(get("win"), "chrome"), c.member), c.value) << c.member << " after " << c.fields[0] << "|"
                                                                       << (c.fields.size() > 1 ? c.fields[1] : "");
  }
}

TEST_F(GetTest, OnlyTheIdMainReadsTheMainWindowsMaterial) {
  chrome("main", {"", "", "", "sidebar"});
  EXPECT_EQ(member(member(get("win"), "chrome"), "vibrancy"), "\"sidebar\"");
  EXPECT_EQ(member(member(get("win:"), "chrome"), "vibrancy"), "null");
  open("w2");
  chrome("w2", {"", "", "", "sidebar"});
  lines();
  EXPECT_EQ(member(member(get("win:w2"), "chrome"), "vibrancy"), "null");
}

TEST_F(GetTest, LevelNamesAndStates) {
  struct Case {
    long level;
    const char* name;
    const char* on_top;
  } cases[] = {{0, "\"normal\"", "false"},   {3, "\"floating\"", "true"}, {1000, "\"overlay\"", "true"},
               {platform::kLevelDesktop, "\"desktop\"", "true"}, {5, "\"normal\"", "true"}, {-1, "\"normal\"", "true"}};
  for (const Case& c : cases) {
    main_window()->set_level(c.level);
    const std::string json = get("win");
    EXPECT_EQ(member(json, "level"), c.name) << c.level;
    EXPECT_EQ(member(json, "alwaysOnTop"), c.on_top) << c.level;
  }
  main_window()->set_collection_behavior(platform::kBehaviorCanJoinAllSpaces | platform::kBehaviorManaged);
  main_window()->set_ignores_mouse_events(true);
  main_window()->set_style_mask(platform::kStyleTitled | platform::kStyleClosable);
  std::string json = get("win");
  EXPECT_EQ(member(json, "allSpaces"), "true");
  EXPECT_EQ(member(json, "clickThrough"), "true");
  EXPECT_EQ(member(json, "resizable"), "false");

  main_window()->miniaturize();
  json = get("win");
  EXPECT_EQ(member(json, "minimized"), "true");
  EXPECT_EQ(member(json, "visible"), "false");
  main_window()->deminiaturize();
  // Full screen counts once the window system has granted it.
  main_window()->answers_full_screen = false;
  main_window()->toggle_full_screen();
  EXPECT_EQ(member(get("win"), "fullscreen"), "false");
  main_window()->answer_full_screen(true);
  EXPECT_EQ(member(get("win"), "fullscreen"), "true");
}

TEST_F(GetTest, AWindowIsCountedOnTheScreenThatHoldsMostOfIt) {
  FakeWindow* w2 = open("w2", 600, 400);
  w2->set_frame({1300, 100, 600, 428});  // 140 points on the laptop, 460 on the monitor
  w2->screen_override = 70;              // the window system says otherwise
  lines();
  const std::string json = get("win:w2");
  EXPECT_EQ(member(json, "screen"), "{\"width\":1440,\"height\":900,\"scale\":2.00}");
  EXPECT_EQ(member(json, "screenId"), "71");
  // Relative to the monitor's top-left corner (1440, 900 - -180 - 1080 = 0 from the top).
  EXPECT_EQ(member(json, "local"), "{\"x\":-140,\"y\":372}");
  EXPECT_EQ(member(json, "pixels"), "{\"x\":-140,\"y\":372,\"width\":600,\"height\":400}");
  EXPECT_EQ(member(json, "y"), "372");
}

TEST_F(GetTest, CoordinatesAreTruncatedLocalAndPixelsRounded) {
  struct Case {
    Rect frame;
    const char* x;
    const char* y;
    const char* local;
    const char* pixels;
  } cases[] = {
      {{100.9, 200.4, 800, 628.2}, "100", "71", "{\"x\":101,\"y\":71}", "{\"x\":202,\"y\":143,\"width\":1600,\"height\":1200}"},
      {{-0.7, 200, 800, 628}, "0", "72", "{\"x\":-1,\"y\":72}", "{\"x\":-1,\"y\":144,\"width\":1600,\"height\":1200}"},
      {{0.5, 271.5, 800.25, 628}, "0", "0", "{\"x\":1,\"y\":1}", "{\"x\":1,\"y\":1,\"width\":1601,\"height\":1200}"},
      {{kNan, 200, 800, 628}, "null", "72", "{\"x\":null,\"y\":72}", "{\"x\":null,\"y\":144,\"width\":1600,\"height\":1200}"},
      {{1e12, 200, 800, 628}, "2147483647", "72", "{\"x\":1000000000000,\"y\":72}",
       "{\"x\":2000000000000,\"y\":144,\"width\":1600,\"height\":1200}"},
  };
  for (const Case& c : cases) {
    main_window()->user_set_frame(c.frame);
    const std::string json = get("win");
    EXPECT_EQ(member(json, "x"), c.x) << c.frame.x;
    EXPECT_EQ(member(json, "y"), c.y) << c.frame.x;
    EXPECT_EQ(member(json, "local"), c.local) << c.frame.x;
    EXPECT_EQ(member(json, "pixels"), c.pixels) << c.frame.x;
  }
}

TEST_F(GetTest, WindowlessModeHasNoMainWindow) {
  void* w = g_w.exchange(nullptr);
  EXPECT_EQ(get("windows"), "[]");
  EXPECT_EQ(get("win"), "null");
  EXPECT_EQ(get("win:"), "null");
  EXPECT_EQ(member(get("mouse"), "window"), "null");
  EXPECT_EQ(get("debug:trafficpos"), "{\"hidden\":true}");
  open("solo");
  lines();
  EXPECT_EQ(get("windows"), "[\"solo\"]");
  g_w.store(w);
}

TEST_F(GetTest, MouseAnswersItsScreenAndWhereItIsOverTheWindow) {
  // The main window's content is x 100..900, y 200..800 (y upward).
  struct Case {
    Point m;
    const char* answer;
  } cases[] = {
      {{300, 700},
       "{\"x\":300,\"y\":200,\"window\":{\"x\":200,\"y\":100,\"inside\":true},"
       "\"screen\":{\"id\":70,\"x\":0,\"y\":0,\"width\":1440,\"height\":900,\"scale\":2.00}}"},
      {{150, 850},
       "{\"x\":150,\"y\":50,\"window\":{\"x\":50,\"y\":-50,\"inside\":false},"
       "\"screen\":{\"id\":70,\"x\":0,\"y\":0,\"width\":1440,\"height\":900,\"scale\":2.00}}"},
      {{2000.8, 500.2},
       "{\"x\":2000,\"y\":399,\"window\":{\"x\":1900,\"y\":299,\"inside\":false},"
       "\"screen\":{\"id\":71,\"x\":1440,\"y\":0,\"width\":1920,\"height\":1080,\"scale\":1.00}}"},
      // The top edge is inside (pixel rows), the bottom and right edges are not.
      {{100, 800},
       "{\"x\":100,\"y\":100,\"window\":{\"x\":0,\"y\":0,\"inside\":true},"
       "\"screen\":{\"id\":70,\"x\":0,\"y\":0,\"width\":1440,\"height\":900,\"scale\":2.00}}"},
      {{900, 200},
       "{\"x\":900,\"y\":700,\"window\":{\"x\":800,\"y\":600,\"inside\":false},"
       "\"screen\":{\"id\":70,\"x\":0,\"y\":0,\"width\":1440,\"height\":900,\"scale\":2.00}}"},
      {{1440, 450},
       "{\"x\":1440,\"y\":450,\"window\":{\"x\":1340,\"y\":350,\"inside\":false},"
       "\"screen\":{\"id\":71,\"x\":1440,\"y\":0,\"width\":1920,\"height\":1080,\"scale\":1.00}}"},
  };
  for (const Case& c : cases) {
    sys().mouse = c.m;
    EXPECT_EQ(get("mouse"), c.answer) << c.m.x << "," << c.m.y;
  }
}

TEST_F(GetTest, MouseOutsideEveryScreenUsesTheKeyWindowsScreen) {
  sys().mouse = Point{-50, 10};
  FakeWindow* w2 = open("w2");
  w2->set_frame({2000, 100, 300, 300});
  w2->make_key();
  lines();
  EXPECT_EQ(member(get("mouse:w2"), "screen"), "{\"id\":71,\"x\":1440,\"y\":0,\"width\":1920,\"height\":1080,\"scale\":1.00}");
  EXPECT_EQ(member(get("mouse:w2"), "window"), "{\"x\":-2050,\"y\":362,\"inside\":false}");
  EXPECT_EQ(member(get("mouse:nowhere"), "window"), "null") << "an unknown window still answers the mouse";
  EXPECT_EQ(member(get("mouse:"), "window"), member(get("mouse"), "window")) << "the empty id is the main window";
}

TEST_F(GetTest, WithoutScreensOrPointerEverythingReadsZero) {
  desktop.monitors.set({});
  EXPECT_EQ(get("screens"), "[]");
  EXPECT_EQ(get("mouse"), "{\"x\":0,\"y\":0,\"window\":{\"x\":-100,\"y\":800,\"inside\":false},"
                          "\"screen\":{\"id\":0,\"x\":0,\"y\":0,\"width\":0,\"height\":0,\"scale\":0.00}}");
  const std::string json = get("win");
  EXPECT_EQ(member(json, "screen"), "{\"width\":0,\"height\":0,\"scale\":0.00}");
  EXPECT_EQ(member(json, "screenId"), "0");
  EXPECT_EQ(member(json, "pixels"), "{\"x\":0,\"y\":0,\"width\":0,\"height\":0}");
  EXPECT_EQ(get("fgscreen"), "null");
}

TEST_F(GetTest, ScreensInOrderWithTheirDetails) {
  sys().screens[70] = {"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "Built-in \"Retina\" Display", true};
  EXPECT_EQ(get("screens"),
            "[{\"id\":70,\"uid\":\"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\",\"name\":\"Built-in \\\"Retina\\\" Display\","
            "\"x\":0,\"y\":0,\"width\":1440,\"height\":900,\"visible\":{\"x\":0,\"y\":24,\"width\":1440,\"height\":876},"
            "\"scale\":2.00,\"primary\":true,\"internal\":true,\"pixels\":{\"width\":2880,\"height\":1800,"
            "\"visible\":{\"x\":0,\"y\":48,\"width\":2880,\"height\":1752}}},"
            "{\"id\":71,\"uid\":\"71\",\"name\":\"\",\"x\":1440,\"y\":0,\"width\":1920,\"height\":1080,"
            "\"visible\":{\"x\":1440,\"y\":0,\"width\":1920,\"height\":1080},\"scale\":1.00,\"primary\":false,"
            "\"internal\":false,\"pixels\":{\"width\":1920,\"height\":1080,\"visible\":{\"x\":0,\"y\":0,"
            "\"width\":1920,\"height\":1080}}}]");
}

TEST_F(GetTest, ScreenPixelsRoundHalvesAwayFromZero) {
  // 1365 x 767 points at 1.5, a 41-point panel on the left and a 28.5-point one at the bottom.
  desktop.monitors.set({{4000000000u, {0, 0, 1365, 767}, {41, 28.5, 1324, 738.5}, 1.5}, monitor_screen()});
  const std::string json = get("screens");
  EXPECT_EQ(member(json, "id"), "4000000000") << "display ids are unsigned";
  EXPECT_EQ(member(json, "uid"), "\"4000000000\"");
  EXPECT_EQ(member(json, "pixels"),
            "{\"width\":2048,\"height\":1151,\"visible\":{\"x\":62,\"y\":0,\"width\":1986,\"height\":1108}}");
  EXPECT_EQ(member(json, "scale"), "1.50");
}

TEST_F(GetTest, AScreenScaleThatIsNoNumberIsWrittenNull) {
  desktop.monitors.set({{70, {0, 0, 1440, 900}, {0, 0, 1440, 900}, kNan}});
  const std::string json = get("screens");
  EXPECT_EQ(member(json, "scale"), "null");
  EXPECT_EQ(member(json, "pixels"), "{\"width\":null,\"height\":null,\"visible\":{\"x\":null,\"y\":null,"
                                    "\"width\":null,\"height\":null}}");
  EXPECT_EQ(member(member(get("win"), "screen"), "scale"), "null");
}

TEST_F(GetTest, ForegroundScreenIsTheFrontmostApplicationsFrontWindowsElseThePointers) {
  using platform::OnscreenWindow;
  const Rect on_laptop{100, 100, 300, 300}, on_monitor{2000, 100, 300, 300};
  struct Case {
    long front_pid;
    std::optional<std::vector<OnscreenWindow>> list;
    std::optional<Point> mouse;
    const char* answer;
  } cases[] = {
      {42, std::vector<OnscreenWindow>{{7, true, on_laptop}, {42, false, on_laptop}, {42, true, on_monitor}},
       Point{10, 10}, "71"},
      {42, std::vector<OnscreenWindow>{{42, true, std::nullopt}, {42, true, on_laptop}}, Point{2000, 10}, "70"},
      {42, std::vector<OnscreenWindow>{{42, true, Rect{-5000, 0, 10, 10}}, {42, true, on_laptop}}, std::nullopt,
       "70"},  // off every screen: the next window decides
      {42, std::nullopt, Point{2000, 10}, "71"},
      {42, std::vector<OnscreenWindow>{{7, true, on_laptop}}, Point{10, 10}, "70"},
      {0, std::vector<OnscreenWindow>{{0, true, on_monitor}}, Point{10, 10}, "70"},  // unknown owners match no one
      {42, std::vector<OnscreenWindow>{}, Point{-10, 10}, "null"},
      {42, std::vector<OnscreenWindow>{}, std::nullopt, "null"},
  };
  for (const Case& c : cases) {
    sys().frontmost = c.front_pid ? std::optional<platform::AppIdentity>({c.front_pid, "App", std::nullopt})
                                  : std::nullopt;
    sys().onscreen = c.list;
    sys().mouse = c.mouse;
    EXPECT_EQ(get("fgscreen"), c.answer) << &c - cases;
  }
}

TEST_F(GetTest, CloseButtonPositionOfTheMainWindow) {
  EXPECT_EQ(get("debug:trafficpos"), "{\"hidden\":true}") << "the window manager draws the buttons";
  main_window()->button_frames[0] = Rect{7.26, 6, 14, 14};
  EXPECT_EQ(get("debug:trafficpos"), "{\"fromTop\":6.0,\"x\":7.3}");
  main_window()->set_button_visible(WindowButton::kClose, false);
  EXPECT_EQ(get("debug:trafficpos"), "{\"hidden\":true}");
  main_window()->set_button_visible(WindowButton::kClose, true);
  main_window()->set_style_mask(platform::kStyleResizable);
  EXPECT_EQ(get("debug:trafficpos"), "{\"hidden\":true}") << "an untitled window has no buttons";
}

TEST_F(GetTest, DockIconIsNeverSetAndReportsTheVariable) {
  unsetenv("QUIBEX_ICON");
  EXPECT_EQ(get("debug:icon"), "{\"set\":false,\"width\":0,\"height\":0,\"hasDevDefault\":false,\"env\":\"\"}");
  setenv("QUIBEX_ICON", "/tmp/a \"b\".png", 1);
  EXPECT_EQ(member(get("debug:icon"), "env"), "\"/tmp/a \\\"b\\\".png\"");
  unsetenv("QUIBEX_ICON");
}

}  // namespace
