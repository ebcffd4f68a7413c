// Pages asking for new windows, against the fake desktop: the popup modes, the
// questions and their defaults, popup windows (ids, size, place, showing), and the
// POPUP event.

#include "nav_test_support.h"

namespace {

using V = std::vector<std::string>;

class Popups : public NavTest {
 protected:
  FakeWebView* window_open(const std::string& url = "https://example.com/pop") {
    return main_view()->window_open(url);
  }
};

// ---- the modes

struct ModeRow {
  std::string mode;
  bool makes_window;
  std::string fallback;     // the POPUPQ default of window.open
  std::string link_default;  // the POPUPQ default of a link to a new window
  bool opens;               // silence hands an http(s) URL to the desktop
};

TEST_F(Popups, EachModeDecidesWhatWindowOpenAndLinksToNewWindowsDo) {
  const ModeRow rows[] = {
      {"", false, "external", "external", true},
      {"external", false, "external", "external", true},
      {"deny", false, "deny", "deny", false},
      {"window", true, "window", "external", false},
      {"keep it", false, "keep it", "external", false},
  };
  for (const ModeRow& r : rows) {
    SCOPED_TRACE("mode \"" + r.mode + "\"");
    settings().popups = r.mode;
    desktop.opened.clear();
    lines();
    const size_t windows = g_windows.size();

    FakeWebView* v = window_open("https://example.com/a");
    EXPECT_EQ(v != nullptr, r.makes_window);
    const std::string id = r.makes_window ? "popup" + std::to_string(g_popup_seq) : "-";
    EXPECT_EQ(g_windows.size(), windows + (r.makes_window ? 1 : 0));
    EXPECT_EQ(lines_starting("POPUPQ"),
              V{"POPUPQ p" + std::to_string(g_popup_qseq) + " " + id + "\tmain\thttps://example.com/a\t" + r.fallback});
    advance(400);
    const std::string window = r.makes_window ? "\"" + id + "\"" : "null";
    EXPECT_EQ(lines_starting("POPUP "),
              V{"POPUP {\"window\":" + window + ",\"url\":\"https://example.com/a\",\"action\":\"" + r.fallback +
                "\"}"});
    EXPECT_EQ(opened(), r.opens ? V{"https://example.com/a"} : V{});
    if (r.makes_window) {
      EXPECT_NE(win(id), nullptr);  // registered like a WINOPEN window
    }

    // A link that names no frame: cancelled, then asked.
    desktop.opened.clear();
    NavigationAction link;
    link.url = "https://example.com/b";
    link.new_window = true;
    EXPECT_EQ(main_view()->navigate_action(link)->policy, Policy::kCancel);
    EXPECT_EQ(lines_starting("POPUPQ"),
              V{"POPUPQ p" + std::to_string(g_popup_qseq) + " -\tmain\thttps://example.com/b\t" + r.link_default});
    advance(400);
    EXPECT_EQ(lines_starting("POPUP "), V{"POPUP {\"window\":null,\"url\":\"https://example.com/b\",\"action\":\"" +
                                         r.link_default + "\"}"});
    EXPECT_EQ(opened(), r.link_default == "external" ? V{"https://example.com/b"} : V{});
  }
}

TEST_F(Popups, TheBackendsExternalOrDenyOverridesTheDefaultAndAnyOtherAnswerMeansTheDefault) {
  struct Case {
    std::string mode, answer, action;
    bool opens;
  } cases[] = {
      {"", "deny", "deny", false},          {"", "window", "external", true},
      {"deny", "external", "external", true}, {"deny", "allow", "deny", false},
      {"keep", "external", "external", true}, {"keep", "", "keep", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode + " / " + c.answer);
    settings().popups = c.mode;
    desktop.opened.clear();
    lines();
    EXPECT_EQ(window_open("https://example.com/c"), nullptr);
    command("POPUPR p" + std::to_string(g_popup_qseq) + " " + c.answer);
    EXPECT_EQ(lines_starting("POPUP "),
              V{"POPUP {\"window\":null,\"url\":\"https://example.com/c\",\"action\":\"" + c.action + "\"}"});
    EXPECT_EQ(opened(), c.opens ? V{"https://example.com/c"} : V{});
  }
}

TEST_F(Popups, OnlyWebAddressesAreHandedToTheDesktop) {
  for (const char* url : {"mailto:a@b", "file:///etc/passwd", "myapp://x", ""}) {
    window_open(url);
    advance(400);
    EXPECT_EQ(lines_starting("POPUP ").size(), 1u) << url;
  }
  EXPECT_TRUE(opened().empty());
}

TEST_F(Popups, ThePopupActionIsAJsonStringWhateverTheModeText) {
  settings().popups = "say \"no\" \\ thanks\t\xe2\x9c\x93 \xff";
  window_open("https://example.com/q");
  advance(400);
  EXPECT_EQ(lines_starting("POPUP "), V{"POPUP {\"window\":null,\"url\":\"https://example.com/q\",\"action\":"
                                        "\"say \\\"no\\\" \\\\ thanks\\t\xe2\x9c\x93 \xef\xbf\xbd\"}"});
}

TEST_F(Popups, WithoutABackendTheDefaultAppliesAtOnceAndNothingIsCounted) {
  disconnect();
  settings().popups = "window";
  FakeWebView* v = window_open();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(g_popup_qseq, 0);
  EXPECT_EQ(g_popup_seq, 1);
  EXPECT_EQ(waiting_lines(), V{"POPUP {\"window\":\"popup1\",\"url\":\"https://example.com/pop\","
                               "\"action\":\"window\"}"});
  EXPECT_FALSE(win("popup1")->visible()) << "shown once its page is ready";
  v->ready({});
  EXPECT_TRUE(win("popup1")->visible());
  settings().popups = "";
  window_open();
  EXPECT_EQ(opened(), V{"https://example.com/pop"});
}

// ---- popup windows

TEST_F(Popups, APopupIsARegistryWindowWithItsOwnBridgeSharingItsOpenersProcess) {
  settings().popups = "window";
  settings().user_agent = "Agent/2";
  FakeWebView* v = window_open();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->opener, main_view());
  EXPECT_EQ(view("popup1"), v);
  EXPECT_EQ(win("popup1")->content, v);
  EXPECT_EQ(v->user_agent, "Agent/2");
  ASSERT_FALSE(v->user_scripts.empty());
  EXPECT_EQ(v->user_scripts[0], quib_shim_js("popup1"));
  EXPECT_TRUE(v->handlers.count("quib"));
  EXPECT_TRUE(v->urls.empty()) << "WebKit loads the request itself";
  EXPECT_FALSE(win("popup1")->visible()) << "hidden until its question settles";
  // Its navigation questions name it.
  v->page_navigates("https://example.com/pop");
  EXPECT_EQ(lines_starting("NAVQ"), V{"NAVQ n1 popup1\thttps://example.com/pop\tmain"});
  // It closes as any registry window does.
  command("WINCLOSE popup1");
  EXPECT_EQ(lines_starting("WINCLOSED"), V{"WINCLOSED popup1"});
  EXPECT_EQ(g_windows.count("popup1"), 0u);
}

TEST_F(Popups, IdsCountUpAndSkipIdsThatWindowsAlreadyHave) {
  settings().popups = "window";
  window_open();
  open("popup2");
  open("popup4");
  window_open();
  window_open();
  EXPECT_TRUE(g_windows.count("popup1") && g_windows.count("popup3") && g_windows.count("popup5"));
  EXPECT_EQ(lines_starting("POPUPQ"), (V{"POPUPQ p1 popup1\tmain\thttps://example.com/pop\twindow",
                                         "POPUPQ p2 popup3\tmain\thttps://example.com/pop\twindow",
                                         "POPUPQ p3 popup5\tmain\thttps://example.com/pop\twindow"}));
  // A closed popup's id is never taken again; a live one never.
  command("WINCLOSE popup1");
  window_open();
  EXPECT_EQ(g_windows.count("popup6"), 1u);
  EXPECT_EQ(quib_next_popup_id(), "popup7");
  for (const auto& [id, qw] : g_windows) EXPECT_TRUE(window_id_acceptable(id)) << id;
  // A window that cannot be made takes no number.
  desktop.fail_windows = true;
  EXPECT_EQ(window_open(), nullptr);
  desktop.fail_windows = false;
  EXPECT_EQ(quib_next_popup_id(), "popup7");
}

TEST_F(Popups, DenyOrExternalClosesTheHiddenWindowAndReportsItsId) {
  settings().popups = "window";
  window_open("https://example.com/x");
  lines();
  command("POPUPR p1 deny");
  EXPECT_EQ(lines(), (V{"WINCLOSED popup1",
                        "POPUP {\"window\":\"popup1\",\"url\":\"https://example.com/x\",\"action\":\"deny\"}"}));
  EXPECT_EQ(g_windows.count("popup1"), 0u);
  window_open("https://example.com/y");
  lines();
  command("POPUPR p2 external");
  EXPECT_EQ(lines(), (V{"WINCLOSED popup2",
                        "POPUP {\"window\":\"popup2\",\"url\":\"https://example.com/y\",\"action\":\"external\"}"}));
  EXPECT_EQ(opened(), V{"https://example.com/y"});
  // Any other answer: the window.
  FakeWebView* v = window_open("https://example.com/z");
  v->ready({});
  command("POPUPR p3 whatever");
  EXPECT_TRUE(win("popup3")->visible());
  EXPECT_EQ(lines_starting("POPUP ").back(),
            "POPUP {\"window\":\"popup3\",\"url\":\"https://example.com/z\",\"action\":\"window\"}");
  // Late and unknown answers change nothing.
  command("POPUPR p3 deny");
  command("POPUPR p99 deny");
  EXPECT_TRUE(win("popup3")->visible());
  EXPECT_EQ(popup_questions_pending(), 0u);
}

TEST_F(Popups, APopupClosesWhenItsPageAsksOtherWindowsStay) {
  settings().popups = "window";
  FakeWebView* popup = window_open();
  advance(400);
  open("w1");
  lines();
  for (FakeWebView* v : {main_view(), view("w1")}) v->page_closes();
  desktop.queue.drain();
  EXPECT_TRUE(lines().empty());
  EXPECT_TRUE(g_windows.count("w1"));
  popup->page_closes();
  desktop.queue.drain();
  EXPECT_EQ(lines(), V{"WINCLOSED popup1"});
  EXPECT_EQ(g_windows.count("popup1"), 0u);
}

TEST_F(Popups, AWindowClosedBeforeItsQuestionSettlesIsOnlyReported) {
  settings().popups = "window";
  window_open("https://example.com/gone");
  command("WINCLOSE popup1");
  advance(400);
  EXPECT_EQ(lines_starting("POPUP "),
            V{"POPUP {\"window\":\"popup1\",\"url\":\"https://example.com/gone\",\"action\":\"window\"}"});
  EXPECT_EQ(g_windows.count("popup1"), 0u);
}

TEST_F(Popups, AWindowShowsWhenItsQuestionSettlesAndItsPageIsReady) {
  settings().popups = "window";
  // Ready first, then settled.
  FakeWebView* a = window_open();
  a->ready({0, 0, 300, 200});
  EXPECT_FALSE(win("popup1")->visible());
  advance(400);
  EXPECT_TRUE(win("popup1")->visible());
  // Settled first, then ready.
  FakeWebView* b = window_open();
  command("POPUPR p2 window");
  EXPECT_FALSE(win("popup2")->visible());
  b->ready({});
  EXPECT_TRUE(win("popup2")->visible());
  // Settled and never ready: shown a second later all the same.
  window_open();
  command("POPUPR p3 window");
  advance(999);
  EXPECT_FALSE(win("popup3")->visible());
  advance(1);
  EXPECT_TRUE(win("popup3")->visible());
}

TEST_F(Popups, TheWindowTakesThePagesSizeAtLeast120By90) {
  settings().popups = "window";
  struct Case {
    WindowFeatures f;
    double w, h;
  } cases[] = {
      {{0, 0, 100, 80}, 900, 600}, {{0, 0, 120, 90}, 120, 90}, {{0, 0, 0, 0}, 900, 600},
      {{0, 0, 119, 400}, 900, 400}, {{0, 0, 500, 89}, 500, 600}, {{0, 0, 640, 480}, 640, 480},
  };
  for (const Case& c : cases) {
    FakeWebView* v = window_open();
    const std::string id = "popup" + std::to_string(g_popup_seq);
    v->ready(c.f);
    const Rect content = content_of(win(id));
    EXPECT_EQ(content.w, c.w) << c.f.width << "x" << c.f.height;
    EXPECT_EQ(content.h, c.h) << c.f.width << "x" << c.f.height;
  }
}

TEST_F(Popups, TheWindowTakesThePagesPlaceElseItIsCentred) {
  settings().popups = "window";
  // The first screen is 1440 x 900 with its top at y = 900 in host coordinates.
  FakeWebView* a = window_open();
  a->ready({40, 50, 300, 200});
  const Rect fa = win("popup1")->frame();
  EXPECT_EQ(fa.x, 40);
  EXPECT_EQ(fa.y + fa.h, 900 - 50);
  FakeWebView* b = window_open();
  b->ready({0, 0, 300, 200});
  const Rect fb = win("popup2")->frame();
  EXPECT_NEAR(fb.x + fb.w / 2, 720, 1);
  // A page's second ready changes nothing.
  win("popup1")->set_frame({10, 10, 320, 240});
  a->ready({300, 300, 500, 500});
  EXPECT_EQ(win("popup1")->frame().x, 10);
}

TEST_F(Popups, APopupsPopupIsOpenedByThePopup) {
  settings().popups = "window";
  FakeWebView* v = window_open();
  FakeWebView* child = v->window_open("https://example.com/child");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->opener, v);
  EXPECT_EQ(lines_starting("POPUPQ").back(), "POPUPQ p2 popup2\tpopup1\thttps://example.com/child\twindow");
}

}  // namespace
