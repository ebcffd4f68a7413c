// CHROME, the chrome fields of WINOPEN and the QuibexChrome setting.

#include "core/reader.h"
#include "window_test_support.h"

namespace {

using platform::WindowButton;

class Chrome : public WindowTest {
 protected:
  void command(const std::string& line) {
    CommandReader reader;
    reader.handle_line(line);
    desktop.queue.drain();
  }
  static std::string buttons(FakeWindow* w) {
    std::string s;
    if (w->button_visible(WindowButton::kClose)) s += "c";
    if (w->button_visible(WindowButton::kMinimize)) s += "m";
    if (w->button_visible(WindowButton::kZoom)) s += "z";
    return s;
  }
  static void give_buttons(FakeWindow* w) {
    w->button_frames[0] = Rect{7, 6, 14, 14};
    w->button_frames[1] = Rect{27, 6, 14, 14};
    w->button_frames[2] = Rect{47, 6, 14, 14};
  }
};

TEST_F(Chrome, ButtonsShowByNameAllOrNone) {
  FakeWindow* w2 = open("w2");
  struct Case {
    const char* value;
    const char* shown;
  } cases[] = {{"close", "c"}, {"close,maximize", "cz"}, {"everything", ""}, {"all", "cmz"}, {"none", ""},
               {"minimize", "m"}, {"maximize close", "cz"}, {"All", ""}};
  for (const Case& c : cases) {
    chrome("w2", {"", c.value});
    EXPECT_EQ(buttons(w2), c.shown) << c.value;
  }
}

TEST_F(Chrome, TheMainWindowRemembersBothHalvesOfAHiddenTitleBar) {
  chrome("main", {"0"});
  EXPECT_FALSE(main_window()->titlebar_hidden()) << "its buttons still show";
  chrome("main", {"", "none"});
  EXPECT_TRUE(main_window()->titlebar_hidden());
  chrome("main", {"", "close"});
  EXPECT_FALSE(main_window()->titlebar_hidden());

  FakeWindow* w2 = open("w2");
  chrome("w2", {"0"});
  chrome("w2", {"", "none"});
  EXPECT_FALSE(w2->titlebar_hidden()) << "a further window needs both in one request";
  chrome("w2", {"0", "none"});
  EXPECT_TRUE(w2->titlebar_hidden());
}

TEST_F(Chrome, HidingAndShowingTheTitleBarKeepsTheContentAndTheTopEdge) {
  FakeWindow* w2 = open("w2");
  w2->set_frame({100, 100, 600, 428});
  const Rect content = content_of(w2);
  chrome("w2", {"0"});
  EXPECT_TRUE(w2->style_mask() & platform::kStyleFullSizeContentView);
  EXPECT_TRUE(w2->titlebar_appears_transparent());
  EXPECT_FALSE(w2->title_visible());
  EXPECT_EQ(content_of(w2).w, content.w);
  EXPECT_EQ(content_of(w2).h, content.h);
  EXPECT_EQ(w2->frame().y + w2->frame().h, 528);
  chrome("w2", {"1"});
  EXPECT_FALSE(w2->style_mask() & platform::kStyleFullSizeContentView);
  EXPECT_TRUE(w2->title_visible());
  EXPECT_EQ(content_of(w2), content);
  EXPECT_EQ(w2->frame(), (Rect{100, 100, 600, 428}));
}

TEST_F(Chrome, AHiddenTitleBarContainerComingBackKeepsTheContent) {
  for (const char* id : {"main", "w2"}) {
    SCOPED_TRACE(id);
    FakeWindow* win = std::string(id) == "main" ? main_window() : open(id);
    win->set_frame({100, 100, 600, 428});
    const Rect content = content_of(win);
    for (int round = 0; round < 3; round++) {
      chrome(id, {"0", "none"});
      EXPECT_TRUE(win->titlebar_hidden());
      EXPECT_EQ(content_of(win).w, content.w);
      EXPECT_EQ(content_of(win).h, content.h);
      chrome(id, {"1", "all"});
      EXPECT_FALSE(win->titlebar_hidden());
      EXPECT_EQ(content_of(win), content) << "round " << round;
    }
  }
}

TEST_F(Chrome, ButtonPositionsRecordTheDefaultOnceAndReturnToIt) {
  FakeWindow* w2 = open("w2");
  give_buttons(w2);
  chrome("w2", {"", "", "", "", "", "", "default"});
  EXPECT_EQ(w2->button_frame(WindowButton::kClose)->x, 7);
  EXPECT_FALSE(g_traffic_pos.count("w2"));
  chrome("w2", {"", "", "", "", "", "", "20,30"});
  EXPECT_EQ(*w2->button_frame(WindowButton::kZoom), (Rect{60, 30, 14, 14})) << "the buttons keep their spacing";
  chrome("w2", {"", "", "", "", "", "", "40.5,8"});
  EXPECT_EQ((g_traffic_default["w2"]), (std::pair<double, double>{7, 6})) << "measured before the first position only";
  EXPECT_EQ((g_traffic_pos["w2"]), (std::pair<double, double>{40.5, 8}));
  chrome("w2", {"", "", "", "", "", "", "default"});
  EXPECT_EQ(*w2->button_frame(WindowButton::kClose), (Rect{7, 6, 14, 14}));
  EXPECT_FALSE(g_traffic_pos.count("w2"));
}

TEST_F(Chrome, PositionsThatAreNoFiniteNumbersAreNeverStored) {
  FakeWindow* w2 = open("w2");
  give_buttons(w2);
  for (const char* bad : {"nan,1", "1,inf", "-inf,2", "NAN,NAN", "x,y", "12", ""}) {
    chrome("w2", {"", "", "", "", "", "", bad});
    EXPECT_FALSE(g_traffic_pos.count("w2")) << bad;
    EXPECT_FALSE(g_traffic_default.count("w2")) << bad;
    EXPECT_EQ(w2->button_frame(WindowButton::kClose)->x, 7) << bad;
  }
}

TEST_F(Chrome, APositionWaitsOutFullScreenAndComesBackAfterIt) {
  FakeWindow* w2 = open("w2");
  winop("w2", "fullscreen 1");
  give_buttons(w2);
  chrome("w2", {"", "", "", "", "", "", "20,30"});
  EXPECT_EQ(w2->button_frame(WindowButton::kClose)->x, 7);
  winop("w2", "fullscreen 0");
  EXPECT_EQ(w2->button_frame(WindowButton::kClose)->x, 20);
}

TEST_F(Chrome, WhereTheDesktopDrawsTheButtonsThePositionIsKeptOnly) {
  chrome("main", {"", "", "", "", "", "", "20,30"});
  EXPECT_EQ((g_traffic_pos["main"]), (std::pair<double, double>{20, 30}));
  EXPECT_FALSE(g_traffic_default.count("main")) << "no button of its own to measure";
}

TEST_F(Chrome, TransparencyTurnsOffBackgroundShadowAndOpacityTogether) {
  FakeWindow* w2 = open("w2");
  chrome("w2", {"", "", "1"});
  EXPECT_FALSE(w2->is_opaque());
  EXPECT_TRUE(w2->background_clear());
  EXPECT_FALSE(w2->has_shadow());
  EXPECT_FALSE(w2->content_draws_background);
  EXPECT_TRUE(g_windows["w2"].transparent);
  EXPECT_FALSE(g_chrome_transparent);
  chrome("w2", {"", "", "0"});
  EXPECT_TRUE(w2->is_opaque());
  EXPECT_FALSE(w2->background_clear());
  EXPECT_TRUE(w2->has_shadow());
  EXPECT_TRUE(w2->content_draws_background);
  chrome("main", {"", "", "1"});
  EXPECT_TRUE(g_chrome_transparent);
}

TEST_F(Chrome, MaterialsAreKeptAsStateAndChangeNothingOnScreen) {
  chrome("main", {"", "", "", "hud"});
  EXPECT_EQ(g_chrome_vibrancy, "hud");
  ASSERT_TRUE(g_effect_view);
  EXPECT_EQ(g_effect_view->material, 13);
  EXPECT_TRUE(main_window()->is_opaque());
  EXPECT_FALSE(main_window()->background_clear());
  EXPECT_TRUE(main_window()->content_draws_background);
  chrome("main", {"", "", "", "glass"});
  EXPECT_EQ(g_effect_view->material, 7);
  chrome("main", {"", "", "", "none"});
  EXPECT_EQ(g_chrome_vibrancy, "");
  EXPECT_FALSE(g_effect_view);

  FakeWindow* w2 = open("w2");
  chrome("w2", {"", "", "1", "sidebar"});
  EXPECT_EQ(g_windows["w2"].effectView->name, "sidebar");
  EXPECT_EQ(g_chrome_vibrancy, "") << "only the main window's material is reported";
  chrome("w2", {"", "", "", "none"});
  EXPECT_FALSE(g_windows["w2"].effectView);
  EXPECT_FALSE(w2->content_draws_background) << "still transparent";
}

TEST_F(Chrome, MaterialValues) {
  struct Case {
    const char* name;
    int value;
  } cases[] = {{"titlebar", 3}, {"selection", 4}, {"menu", 5},     {"popover", 6},      {"sidebar", 7},
               {"header", 10},  {"sheet", 11},    {"window", 12},  {"hud", 13},         {"fullscreen", 15},
               {"tooltip", 17}, {"content", 18},  {"underwindow", 21}, {"underpage", 22}, {"HUD", 7}, {"", 7}};
  for (const Case& c : cases) EXPECT_EQ(material_for(c.name), c.value) << c.name;
}

TEST_F(Chrome, SquareCornersOnAFixedSizeWindowStayFixedSizeAndCanStillTakeTheFocus) {
  FakeWindow* w2 = open("w2");
  winop("w2", "resizable 0");
  w2->set_frame({100, 100, 600, 428});
  w2->set_can_become_key(false);
  winop("w2", "hidewin");
  chrome("w2", {"", "", "", "", "1"});
  EXPECT_EQ(w2->style_mask(), 0u) << "borderless, and not resizable";
  EXPECT_TRUE(w2->can_become_key());
  EXPECT_TRUE(w2->has_shadow());
  EXPECT_TRUE(w2->visible());
  EXPECT_TRUE(w2->is_key());
  EXPECT_EQ(w2->collection_behavior(), platform::kBehaviorManaged | platform::kBehaviorParticipatesInCycle);
  EXPECT_EQ(content_of(w2), (Rect{100, 128, 600, 400})) << "the content is the whole window now";
  EXPECT_EQ(w2->frame().y + w2->frame().h, 528);
  chrome("w2", {"", "", "", "", "0"});
  EXPECT_EQ(w2->style_mask(), platform::kStyleStandard & ~platform::kStyleResizable);
  EXPECT_EQ(content_of(w2).h, 400);
}

TEST_F(Chrome, FirstMouseBelongsToTheWebView) {
  open("w2");
  chrome("w2", {"", "", "", "", "", "1"});
  EXPECT_TRUE(get_accepts_first_mouse(view("w2")));
  EXPECT_FALSE(get_accepts_first_mouse(main_view()));
  chrome("w2", {"", "", "", "", "", "0"});
  EXPECT_FALSE(get_accepts_first_mouse(view("w2")));
  EXPECT_FALSE(get_accepts_first_mouse(nullptr));
}

TEST_F(Chrome, UnknownWindowsGetNothing) {
  chrome("w9", {"0", "none", "1"});
  EXPECT_TRUE(g_windows.empty());
  EXPECT_FALSE(g_chrome_frameless);
}

TEST_F(Chrome, TheThreeFieldLayoutsEachPutTheButtonPositionInTheirOwnPlace) {
  // CHROME: traffic is the eighth field, the seventh is skipped.
  command("CHROME \t\t\t\t\t\t20,30");
  EXPECT_FALSE(g_traffic_pos.count("main"));
  command("CHROME \t\t\t\t\t\tskip\t20,30");
  EXPECT_EQ((g_traffic_pos["main"]), (std::pair<double, double>{20, 30}));
  // WINOPEN: the seven chrome fields are the fifth to tenth and the fourteenth.
  command("WINOPEN w2\t\t\t\t0\tclose\t\t\t\t1\t\t\t\t5,6");
  EXPECT_EQ((g_traffic_pos["w2"]), (std::pair<double, double>{5, 6}));
  EXPECT_TRUE(win("w2")->style_mask() & platform::kStyleFullSizeContentView);
  EXPECT_EQ(buttons(win("w2")), "c");
  EXPECT_TRUE(get_accepts_first_mouse(view("w2")));
  // QuibexChrome: seven fields in order, traffic last.
  ChromeReq setting = chrome_req_from_setting("0\tnone\t1\thud\t1\t0\t7,8");
  EXPECT_EQ(setting.window, "main");
  EXPECT_EQ(setting.titlebar, "0");
  EXPECT_EQ(setting.buttons, "none");
  EXPECT_EQ(setting.transparent, "1");
  EXPECT_EQ(setting.material, "hud");
  EXPECT_EQ(setting.square, "1");
  EXPECT_EQ(setting.firstMouse, "0");
  EXPECT_EQ(setting.traffic, "7,8");
  ChromeReq short_one = chrome_req_from_setting("0");
  EXPECT_EQ(short_one.titlebar, "0");
  EXPECT_EQ(short_one.traffic, "");
}

class WindowlessChrome : public WindowlessTest {};

TEST_F(WindowlessChrome, MainWithoutAMainWindowGetsNothing) {
  chrome("main", {"0", "none", "", "hud"});
  EXPECT_FALSE(g_chrome_frameless);
  EXPECT_EQ(g_chrome_vibrancy, "");
}

}  // namespace
