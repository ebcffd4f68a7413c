// WINOP verbs as a backend sees them through the fake desktop.

#include "window_test_support.h"

namespace {

using platform::ActivationPolicy;

class WinOp : public WindowTest {};

TEST_F(WinOp, GeomNeedsNoWindowAndUnknownWindowsOrVerbsDoNothing) {
  winop("nowhere", "geom 1");
  EXPECT_TRUE(g_geom_events);
  winop("nowhere", "geom 0");
  EXPECT_FALSE(g_geom_events);
  winop("nowhere", "hideonclose 1");
  EXPECT_FALSE(settings().hide_on_close) << "other verbs need the window";
  const Rect before = main_window()->frame();
  winop("main", "dance");
  winop("main", "pos");
  winop("main", "center ");
  EXPECT_EQ(main_window()->frame(), before);
}

TEST_F(WinOp, MinimumSizeGrowsOnlyWhatIsTooSmallAndKeepsTheTopLeftCorner) {
  FakeWindow* w2 = open("w2", 1000, 500);
  w2->set_frame({50, 100, 1000, 528});
  winop("w2", "minsize 800x600");
  EXPECT_EQ(w2->content_min_size(), (platform::Size{800, 600}));
  EXPECT_EQ(content_of(w2).w, 1000);
  EXPECT_EQ(content_of(w2).h, 600);
  EXPECT_EQ(w2->frame().x, 50);
  EXPECT_EQ(w2->frame().y + w2->frame().h, 628);
  winop("w2", "minsize 300x200");
  EXPECT_EQ(content_of(w2).h, 600) << "a window already large enough keeps its size";
  EXPECT_EQ(w2->content_min_size(), (platform::Size{300, 200}));
}

TEST_F(WinOp, PageZoomOnlyWithinAQuarterAndFiveTimes) {
  struct Case {
    const char* factor;
    double want;
  } cases[] = {{"6", 1.0}, {"0.25", 0.25}, {"5", 5.0}, {"5.01", 5.0}, {"0.2", 5.0}, {"abc", 5.0}, {"nan", 5.0}, {"1.5", 1.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.factor);
    winop("main", std::string("zoomfactor ") + c.factor);
    EXPECT_EQ(main_window()->content_zoom, c.want);
  }
}

TEST_F(WinOp, LevelsAndClickThroughDecideWhetherTheWindowCycles) {
  using namespace platform;
  const std::uint64_t kCycles = kBehaviorManaged | kBehaviorParticipatesInCycle;       // 36
  const std::uint64_t kOutOfCycle = kBehaviorTransient | kBehaviorIgnoresCycle;        // 72
  struct Case {
    std::vector<std::string> ops;
    long level;
    std::uint64_t behavior;
  } cases[] = {
      {{"level floating"}, kLevelFloating, kCycles},
      {{"clickthrough 1", "level floating"}, kLevelFloating, kOutOfCycle},
      {{"level desktop"}, kLevelDesktop, kOutOfCycle},
      {{"level overlay"}, kLevelOverlay, kOutOfCycle},
      {{"level overlay", "level normal"}, kLevelNormal, kCycles},
      {{"level banana"}, kLevelNormal, kCycles},
      {{"clickthrough 1"}, kLevelNormal, kOutOfCycle},
      {{"clickthrough 1", "clickthrough 0"}, kLevelNormal, kCycles},
      {{"ontop 1"}, kLevelFloating, 0},  // a level alone leaves the cycle bits as they were
      {{"allspaces 1", "level overlay"}, kLevelOverlay, 257 | kOutOfCycle},
      {{"allspaces 1", "level overlay", "allspaces 0"}, kLevelOverlay, kOutOfCycle},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string id = "w" + std::to_string(++n);
    SCOPED_TRACE(id);
    FakeWindow* win = open(id);
    for (const std::string& op : c.ops) winop(id, op);
    EXPECT_EQ(win->level(), c.level);
    EXPECT_EQ(win->collection_behavior(), c.behavior);
  }
}

TEST_F(WinOp, FullScreenVerbsToggleOnlyWhenTheStateDiffers) {
  int entered = 0, left = 0;
  int token = platform::add_window_observer([&](platform::NativeWindow*, platform::WindowNote n) {
    entered += n == platform::WindowNote::kDidEnterFullScreen;
    left += n == platform::WindowNote::kDidExitFullScreen;
  });
  winop("main", "fullscreen 0");
  winop("main", "fullscreen 1");
  winop("main", "fullscreen 1");
  EXPECT_TRUE(main_window()->style_mask() & platform::kStyleFullScreen);
  winop("main", "fullscreen");
  winop("main", "fullscreen 0");
  platform::remove_window_observer(token);
  EXPECT_EQ(entered, 1);
  EXPECT_EQ(left, 1);
  EXPECT_FALSE(main_window()->style_mask() & platform::kStyleFullScreen);
}

TEST_F(WinOp, FullScreenOnAnotherScreenLeavesFullScreenFirstAndComesBackThere) {
  winop("main", "fsscreen 70");
  EXPECT_EQ(main_window()->frame(), laptop_screen().frame);
  winop("main", "fsscreen 70");
  EXPECT_EQ(main_window()->frame(), laptop_screen().frame) << "already there: nothing";
  winop("main", "fsscreen 71");
  EXPECT_TRUE(main_window()->style_mask() & platform::kStyleFullScreen);
  EXPECT_EQ(main_window()->frame(), monitor_screen().frame);
  winop("main", "fullscreen 0");
  // Back to the size it had, centred on the second screen's usable area.
  EXPECT_EQ(main_window()->frame(), (Rect{2000, 46, 800, 628}));
}

TEST_F(WinOp, AWindowThatClosesWhileLeavingFullScreenIsNotSentToTheOtherScreen) {
  FakeWindow* w2 = open("w2");
  winop("w2", "fsscreen 70");
  ASSERT_TRUE(w2->style_mask() & platform::kStyleFullScreen);
  w2->answers_full_screen = false;
  winop("w2", "fsscreen 71");  // waits for the window to leave full screen on the first
  do_winclose(w(), std::make_unique<std::string>("w2"));
  desktop.queue.drain();  // released
  // Whatever later leaves full screen at that address is not the closed window.
  FakeWindow* w3 = open("w3");
  const Rect before = w3->frame();
  platform::post_window_note(w2, platform::WindowNote::kDidExitFullScreen);
  platform::post_window_note(w3, platform::WindowNote::kDidExitFullScreen);
  EXPECT_EQ(w3->frame(), before);
  EXPECT_FALSE(w3->style_mask() & platform::kStyleFullScreen);
}

TEST_F(WinOp, FullScreenRequestsForOtherScreensMadeWhileLeavingAreEachCarriedOutInTurn) {
  FakeWindow* m = main_window();
  winop("main", "fsscreen 70");
  ASSERT_TRUE(m->is_full_screen());
  // The screen each entry into full screen lands on.
  std::vector<Rect> entered;
  const int token = platform::add_window_observer([&](platform::NativeWindow* w, platform::WindowNote n) {
    if (w == m && n == platform::WindowNote::kDidEnterFullScreen) entered.push_back(m->frame());
  });
  m->answers_full_screen = false;
  winop("main", "fsscreen 71");
  winop("main", "fsscreen 70");  // while the window is still leaving
  winop("main", "fsscreen 71");
  EXPECT_EQ(m->unanswered_full_screen(), 1u) << "asked to leave once";
  for (int i = 0; i < 20 && m->unanswered_full_screen(); ++i) m->answer_full_screen();
  platform::remove_window_observer(token);
  EXPECT_EQ(entered, (std::vector<Rect>{monitor_screen().frame, laptop_screen().frame, monitor_screen().frame}));
  EXPECT_TRUE(m->is_full_screen());
  EXPECT_EQ(m->unanswered_full_screen(), 0u);
}

TEST_F(WinOp, AWindowStillOnItsWayIntoFullScreenIsAskedOutOnlyOnceItIsIn) {
  FakeWindow* m = main_window();
  m->answers_full_screen = false;
  winop("main", "fsscreen 70");
  winop("main", "fsscreen 71");
  EXPECT_EQ(m->unanswered_full_screen(), 1u) << "no way out asked for before the way in is answered";
  m->answer_full_screen();  // in, on the first screen
  EXPECT_EQ(m->frame(), laptop_screen().frame);
  EXPECT_EQ(m->unanswered_full_screen(), 1u) << "now out";
  m->answer_full_screen();  // out: the second request goes ahead
  m->answer_full_screen();
  EXPECT_TRUE(m->is_full_screen());
  EXPECT_EQ(m->frame(), monitor_screen().frame);
}

TEST_F(WinOp, AWindowThatClosesForgetsEveryRequestWaitingForItToLeaveFullScreen) {
  FakeWindow* w2 = open("w2");
  winop("w2", "fsscreen 70");
  w2->answers_full_screen = false;
  winop("w2", "fsscreen 71");
  winop("w2", "fsscreen 70");
  do_winclose(w(), std::make_unique<std::string>("w2"));
  desktop.queue.drain();
  // Exits posted for the address of the closed window move no window.
  FakeWindow* w3 = open("w3");
  const Rect before = w3->frame();
  platform::post_window_note(w2, platform::WindowNote::kDidExitFullScreen);
  EXPECT_EQ(w3->frame(), before);
  EXPECT_FALSE(w3->style_mask() & platform::kStyleFullScreen);
}

TEST_F(WinOp, HideTheMainWindowHidesTheApplicationHidewinOnlyTheWindow) {
  FakeWindow* w2 = open("w2");
  winop("main", "hidewin");
  EXPECT_FALSE(main_window()->visible());
  EXPECT_TRUE(w2->visible());
  winop("main", "show");
  winop("w2", "hide");
  EXPECT_FALSE(w2->visible());
  EXPECT_TRUE(main_window()->visible());
  winop("w2", "show 0");
  winop("main", "hide");
  EXPECT_FALSE(main_window()->visible());
  EXPECT_FALSE(w2->visible());
  EXPECT_TRUE(desktop.app.hidden());
  winop("main", "show");
  EXPECT_TRUE(main_window()->visible());
  EXPECT_TRUE(w2->visible()) << "unhiding brings back every window hidden with the application";
  EXPECT_TRUE(main_window()->is_key());
}

TEST_F(WinOp, APanelShowsWithoutActivatingTheApplicationAndShow0NeverTakesTheFocus) {
  auto r = std::make_unique<WinOpenReq>();
  r->id = "p";
  r->panel = true;
  do_winopen(w(), std::move(r));
  FakeWindow* p = win("p");
  EXPECT_TRUE(p->style_mask() & platform::kStyleNonactivatingPanel);
  winop("p", "hidewin");
  const int before = desktop.app.activations;
  winop("p", "show");
  EXPECT_TRUE(p->visible());
  EXPECT_TRUE(p->is_key());
  EXPECT_EQ(desktop.app.activations, before);
  winop("main", "show");
  EXPECT_EQ(desktop.app.activations, before + 1);
  winop("p", "hidewin");
  winop("p", "show 0");
  EXPECT_TRUE(p->visible());
  EXPECT_FALSE(p->is_key());
  winop("p", "hide");
  EXPECT_FALSE(p->visible());
  EXPECT_TRUE(main_window()->visible()) << "hiding a panel hides only the panel";
}

TEST_F(WinOp, ShowingTheMainWindowEndsTheDeferredFirstShow) {
  for (const char* op : {"show", "show 1", "show 0"}) {
    settings().defer_show = true;
    winop("main", op);
    EXPECT_FALSE(settings().defer_show) << op;
  }
  FakeWindow* w2 = open("w2");
  (void)w2;
  settings().defer_show = true;
  winop("w2", "show");
  EXPECT_TRUE(settings().defer_show) << "only the main window's show counts";
}

TEST_F(WinOp, PresenceIsTheMainWindowsAndGlobalFlagsAreAnyWindows) {
  FakeWindow* w2 = open("w2");
  (void)w2;
  winop("w2", "presence 0");
  EXPECT_EQ(desktop.app.policy, ActivationPolicy::kRegular);
  winop("main", "presence 0");
  EXPECT_EQ(desktop.app.policy, ActivationPolicy::kAccessory);
  settings().accessory = true;
  winop("main", "presence 1");
  EXPECT_EQ(desktop.app.policy, ActivationPolicy::kRegular);
  EXPECT_FALSE(settings().accessory);
  winop("w2", "hideonclose 1");
  EXPECT_TRUE(settings().hide_on_close);
  winop("w2", "rescue 0");
  EXPECT_FALSE(settings().rescue_on);
  winop("main", "rescue 1");
  EXPECT_TRUE(settings().rescue_on);
}

TEST_F(WinOp, WindowSystemStatesFollowTheirVerbs) {
  FakeWindow* w2 = open("w2");
  winop("w2", "minimize");
  EXPECT_TRUE(w2->miniaturized());
  EXPECT_FALSE(w2->visible());
  winop("w2", "restore");
  EXPECT_FALSE(w2->miniaturized());
  winop("w2", "zoom");
  EXPECT_TRUE(w2->zoomed());
  EXPECT_EQ(w2->frame(), laptop_screen().visible_frame);
  winop("w2", "zoom");
  EXPECT_FALSE(w2->zoomed());
  winop("w2", "resizable 0");
  EXPECT_FALSE(w2->style_mask() & platform::kStyleResizable);
  EXPECT_TRUE(w2->style_mask() & platform::kStyleTitled);
  winop("w2", "resizable 1");
  EXPECT_TRUE(w2->style_mask() & platform::kStyleResizable);
  w2->set_frame({3000, 3000, w2->frame().w, w2->frame().h});
  winop("w2", "center");
  const Rect f = w2->frame();
  EXPECT_EQ(f.x + f.w / 2, 720);
  EXPECT_EQ(f.y + f.h / 2, 438) << "centred on the usable area of the main screen";
}

class WindowlessWinOp : public WindowlessTest {};

TEST_F(WindowlessWinOp, MainAddressesTheApplication) {
  winop("main", "presence 0");
  EXPECT_EQ(desktop.app.policy, ActivationPolicy::kAccessory);
  settings().accessory = true;
  winop("main", "presence 1");
  EXPECT_EQ(desktop.app.policy, ActivationPolicy::kRegular);
  EXPECT_FALSE(settings().accessory);
  FakeWindow* w2 = open("w2");
  winop("main", "hide");
  EXPECT_FALSE(w2->visible());
  const int before = desktop.app.activations;
  winop("main", "show 0");
  EXPECT_TRUE(w2->visible());
  EXPECT_EQ(desktop.app.activations, before);
  winop("main", "hide");
  winop("main", "show");
  EXPECT_EQ(desktop.app.activations, before + 1);
  winop("main", "minimize");
  EXPECT_FALSE(w2->miniaturized()) << "window verbs need a window";
}

}  // namespace
