// The navigation policy against the fake desktop: the decision table, NAVQ and
// NAVR with the 400 ms default on the fake clock, the response decision, NAV
// events, and bringing back a page whose web process ended.

#include <fstream>

#include "core/launcher.h"
#include "nav_test_support.h"

namespace {

using V = std::vector<std::string>;

class Navigation : public NavTest {};

// ---- which URLs are let through without a question

TEST_F(Navigation, OtherSchemesAreThoseOutsideTheListInAnyCase) {
  struct Case {
    const char* url;
    bool other;
  } cases[] = {
      {"http://a/", false},       {"https://a/", false},       {"file:///x", false},
      {"about:blank", false},     {"data:text/html,x", false}, {"blob:http://a/1", false},
      {"javascript:void(0)", false}, {"quib-media://x", false}, {"HTTPS://A/", false},
      {"Data:x", false},          {"QUIB-MEDIA:x", false},     {"mailto:a@b", true},
      {"tel:123", true},          {"myapp://open", true},      {"ftp://a/", true},
      {"nocolon", false},         {":leading", false},         {"", false},
      {"quib-mediax:y", true},    {"http-x:y", true},
  };
  for (const Case& c : cases) EXPECT_EQ(quib_other_scheme(c.url), c.other) << c.url;
}

// ---- the decision table

struct Row {
  const char* url;
  bool main_frame;
  bool connected;
  bool asks;                 // a NAVQ line
  const char* frame;         // its frame word
  std::optional<Policy> at_once;  // decided without waiting
  std::optional<Policy> after_silence;
};

TEST_F(Navigation, EachNavigationIsDecidedByItsSchemeFrameAndTheBackend) {
  const Row rows[] = {
      {"https://example.com/", true, true, true, "main", std::nullopt, Policy::kAllow},
      {"http://example.com/", true, true, true, "main", std::nullopt, Policy::kAllow},
      {"https://example.com/", false, true, false, "", Policy::kAllow, std::nullopt},
      {"https://example.com/", true, false, false, "", Policy::kAllow, std::nullopt},
      {"file:///app/page.html", true, true, false, "", Policy::kAllow, std::nullopt},
      {"about:blank", true, true, false, "", Policy::kAllow, std::nullopt},
      {"data:text/html,x", true, true, false, "", Policy::kAllow, std::nullopt},
      {"blob:https://a/1", true, true, false, "", Policy::kAllow, std::nullopt},
      {"quib-media://a", true, true, false, "", Policy::kAllow, std::nullopt},
      {"HTTPS://EXAMPLE.COM/", true, true, false, "", Policy::kAllow, std::nullopt},  // exact prefixes only
      {"mailto:a@b.c", true, true, true, "main", std::nullopt, Policy::kCancel},
      {"mailto:a@b.c", false, true, true, "sub", std::nullopt, Policy::kCancel},
      {"myapp://x", true, true, true, "main", std::nullopt, Policy::kCancel},
      {"mailto:a@b.c", true, false, false, "", Policy::kCancel, std::nullopt},
      {"nocolon", true, true, false, "", Policy::kAllow, std::nullopt},
  };
  // Rows with a backend first, then the rows without one.
  for (bool connected : {true, false}) {
    if (!connected) disconnect();
    for (const Row& r : rows) {
      if (r.connected != connected) continue;
      SCOPED_TRACE(std::string(r.url) + (r.main_frame ? " main" : " sub") + (r.connected ? " connected" : ""));
      const size_t before = connected ? 0 : waiting_lines().size();
      auto d = main_view()->page_navigates(r.url, r.main_frame);
      V sent = connected ? wire.lines() : waiting_lines();
      sent.erase(sent.begin(), sent.begin() + long(before));
      if (r.asks) {
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], "NAVQ n" + std::to_string(g_nav_seq) + " main\t" + r.url + "\t" + r.frame);
      } else {
        EXPECT_TRUE(sent.empty()) << sent[0];
      }
      EXPECT_EQ(d->policy, r.at_once);
      if (r.after_silence) {
        advance(399);
        EXPECT_TRUE(d->pending()) << "it waits 400 ms";
        advance(1);
        EXPECT_EQ(d->policy, r.after_silence);
      }
      EXPECT_EQ(d->answers, 1);
      EXPECT_TRUE(opened().empty()) << "silence opens nothing";
    }
  }
}

TEST_F(Navigation, ADownloadIsADownloadAndANewWindowActionIsCancelledThenAsked) {
  NavigationAction a;
  a.url = "https://example.com/file.zip";
  a.should_download = true;
  EXPECT_EQ(main_view()->navigate_action(a)->policy, Policy::kDownload);
  EXPECT_TRUE(lines().empty());

  NavigationAction b;
  b.url = "https://example.com/new";
  b.new_window = true;
  auto d = main_view()->navigate_action(b);
  EXPECT_EQ(d->policy, Policy::kCancel);
  EXPECT_EQ(lines(), V{"POPUPQ p1 -\tmain\thttps://example.com/new\texternal"});
}

// ---- the answers

TEST_F(Navigation, AnswersAllowDenyOrHandTheUrlToTheDesktop) {
  struct Case {
    std::string answer;
    Policy policy;
    bool opens;
  } cases[] = {
      {"allow", Policy::kAllow, false},   {"deny", Policy::kCancel, false},
      {"external", Policy::kCancel, true}, {"whatever it says", Policy::kAllow, false},
      {"", Policy::kAllow, false},         {"DENY", Policy::kAllow, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    desktop.opened.clear();
    auto d = main_view()->page_navigates("https://example.com/a");
    const std::string id = "n" + std::to_string(g_nav_seq);
    command("NAVR " + id + " " + c.answer);
    EXPECT_EQ(d->policy, c.policy);
    EXPECT_EQ(opened(), c.opens ? V{"https://example.com/a"} : V{});
    advance(400);
    EXPECT_EQ(d->answers, 1) << "the timer finds nothing left to decide";
  }
  // Another scheme: every answer cancels; "external" hands it to the desktop.
  for (const char* answer : {"allow", "deny", "external"}) {
    desktop.opened.clear();
    auto d = main_view()->page_navigates("mailto:x@y.z");
    command("NAVR n" + std::to_string(g_nav_seq) + " " + answer);
    EXPECT_EQ(d->policy, Policy::kCancel) << answer;
    EXPECT_EQ(opened(), std::string(answer) == "external" ? V{"mailto:x@y.z"} : V{}) << answer;
  }
}

TEST_F(Navigation, LateRepeatedAndUnknownAnswersDoNothing) {
  auto d = main_view()->page_navigates("https://example.com/");
  EXPECT_EQ(lines(), V{"NAVQ n1 main\thttps://example.com/\tmain"});
  advance(400);
  EXPECT_EQ(d->policy, Policy::kAllow);
  // After the timer decided: a late answer is ignored, and so is any id never asked.
  for (const char* line : {"NAVR n1 deny", "NAVR n1 external", "NAVR n2 deny", "NAVR n0 deny", "NAVR nope deny",
                           "NAVR p1 deny", "POPUPR p1 deny", "POPUPR n1 deny"})
    command(line);
  EXPECT_EQ(d->answers, 1);
  EXPECT_EQ(d->policy, Policy::kAllow);
  EXPECT_TRUE(opened().empty());
  EXPECT_EQ(nav_questions_pending(), 0u);

  // Answered first: the answer counts once; the timer and a second answer find nothing.
  auto e = main_view()->page_navigates("https://example.com/2");
  command("NAVR n2 deny");
  command("NAVR n2 allow");
  advance(1000);
  EXPECT_EQ(e->policy, Policy::kCancel);
  EXPECT_EQ(e->answers, 1);
  EXPECT_EQ(desktop.clock.pending(), 0u) << "an answered question leaves no timer behind";
}

TEST_F(Navigation, QuestionIdsCountOnlyQuestionsReallySent) {
  main_view()->page_navigates("https://a/");
  main_view()->page_navigates("file:///x");
  main_view()->page_navigates("https://a/", false);
  main_view()->window_open("https://popup/");  // a popup question has counters of its own
  main_view()->page_navigates("mailto:a@b");
  V l = lines();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].substr(0, 8), "NAVQ n1 ");
  EXPECT_EQ(l[1].substr(0, 9), "POPUPQ p1");
  EXPECT_EQ(l[2].substr(0, 8), "NAVQ n2 ");
  disconnect();
  main_view()->page_navigates("https://a/");
  main_view()->page_navigates("mailto:a@b");
  EXPECT_EQ(g_nav_seq, 2) << "nothing is asked without a backend";
}

TEST_F(Navigation, QuestionsNameTheWindowOfTheView) {
  open("w2");
  view("w2")->page_navigates("https://a/");
  EXPECT_EQ(lines_starting("NAVQ"), V{"NAVQ n1 w2\thttps://a/\tmain"});
}

// ---- the response

TEST_F(Navigation, AResponseIsShownWhenItCanBeElseDownloaded) {
  NavigationResponse r;
  r.url = "file:///x.pdf";
  EXPECT_EQ(main_view()->respond(r)->policy, Policy::kAllow);
  r.can_show = false;
  EXPECT_EQ(main_view()->respond(r)->policy, Policy::kDownload);
  r.url = "https://sub/frame";
  r.main_frame_main_resource = false;
  EXPECT_EQ(main_view()->respond(r)->policy, Policy::kDownload);
  EXPECT_TRUE(lines().empty());
}

TEST_F(Navigation, AMainFrameDocumentNoQuestionLetThroughIsAskedAboutAtItsResponse) {
  // The desktop could not tell this navigation from a sub-frame's when it began.
  auto a = main_view()->page_navigates("https://example.com/page#top", false);
  EXPECT_EQ(a->policy, Policy::kAllow);
  EXPECT_TRUE(lines().empty());
  NavigationResponse r;
  r.url = "https://example.com/page";
  auto d = main_view()->respond(r);
  EXPECT_EQ(lines(), V{"NAVQ n1 main\thttps://example.com/page\tmain"});
  EXPECT_TRUE(d->pending());
  command("NAVR n1 deny");
  EXPECT_EQ(d->policy, Policy::kCancel);

  // Silence shows it; "external" hands it to the desktop instead; a download stays one.
  auto s = main_view()->respond(r);
  advance(400);
  EXPECT_EQ(s->policy, Policy::kAllow);
  auto e = main_view()->respond(r);
  command("NAVR n3 external");
  EXPECT_EQ(e->policy, Policy::kCancel);
  EXPECT_EQ(opened(), V{"https://example.com/page"});
  r.can_show = false;
  auto dl = main_view()->respond(r);
  command("NAVR n4 allow");
  EXPECT_EQ(dl->policy, Policy::kDownload);
}

TEST_F(Navigation, AMainFrameDocumentAlreadyAskedAboutIsShownOnceWithoutAskingAgain) {
  auto a = main_view()->page_navigates("https://example.com/page#part");
  command("NAVR n1 allow");
  EXPECT_EQ(a->policy, Policy::kAllow);
  NavigationResponse r;
  r.url = "https://example.com/page";
  EXPECT_EQ(main_view()->respond(r)->policy, Policy::kAllow);
  EXPECT_EQ(lines(), V{"NAVQ n1 main\thttps://example.com/page#part\tmain"});
  // The answer let that one load through, not the next one.
  EXPECT_TRUE(main_view()->respond(r)->pending());
  // A denied or diverted question lets nothing through.
  main_view()->page_navigates("https://example.com/no");
  command("NAVR n3 deny");
  r.url = "https://example.com/no";
  EXPECT_TRUE(main_view()->respond(r)->pending());
  // A let-through is forgotten after a minute.
  main_view()->page_navigates("https://example.com/old");
  const std::string id = "n" + std::to_string(g_nav_seq);
  command("NAVR " + id + " allow");
  advance(61000);
  r.url = "https://example.com/old";
  EXPECT_TRUE(main_view()->respond(r)->pending());
}

TEST_F(Navigation, WithoutABackendNothingIsAskedAtTheResponseEither) {
  disconnect();
  main_view()->page_navigates("https://example.com/offline", false);
  NavigationResponse r;
  r.url = "https://example.com/offline";
  EXPECT_EQ(main_view()->respond(r)->policy, Policy::kAllow);
  EXPECT_TRUE(waiting_lines().empty());
}

// ---- NAV events

TEST_F(Navigation, ASuccessfulLoadReportsStartCommitAndFinishInOrder) {
  auto* v = main_view();
  v->current_url = "https://example.com/";
  // The start names the page being loaded; the view shows it from the commit on.
  v->load_started("https://example.com/next");
  v->current_url = "https://example.com/next";
  v->load_committed();
  v->load_finished();
  EXPECT_EQ(lines(), (V{"NAV {\"window\":\"main\",\"kind\":\"start\",\"url\":\"https://example.com/next\"}",
                        "NAV {\"window\":\"main\",\"kind\":\"commit\",\"url\":\"https://example.com/next\"}",
                        "NAV {\"window\":\"main\",\"kind\":\"finish\",\"url\":\"https://example.com/next\"}"}));
}

TEST_F(Navigation, AFailureReportsItsUrlAndErrorAndACancellationNothing) {
  auto* v = main_view();
  v->current_url = "https://example.com/";
  v->load_started();
  v->load_failed({LoadError::Kind::kFailed, "Could not connect: Connection refused", "http://127.0.0.1:9/x"});
  v->load_started();
  v->load_failed({LoadError::Kind::kFailed, "Quote \" and \\ and\nline", ""});
  v->load_started();
  v->load_failed({LoadError::Kind::kCancelled, "Load request cancelled", "https://example.com/slow"});
  v->load_started();
  v->load_failed({LoadError::Kind::kInterrupted, "Frame load interrupted", "https://example.com/bin"});
  const std::string start = "NAV {\"window\":\"main\",\"kind\":\"start\",\"url\":\"https://example.com/\"}";
  EXPECT_EQ(lines(), (V{start,
                        "NAV {\"window\":\"main\",\"kind\":\"fail\",\"url\":\"http://127.0.0.1:9/x\","
                        "\"error\":\"Could not connect: Connection refused\"}",
                        start,
                        "NAV {\"window\":\"main\",\"kind\":\"fail\",\"url\":\"https://example.com/\","
                        "\"error\":\"Quote \\\" and \\\\ and\\nline\"}",
                        start, start}));
  EXPECT_FALSE(quib_nav_error_is_noise({LoadError::Kind::kFailed, "", ""}));
  EXPECT_TRUE(quib_nav_error_is_noise({LoadError::Kind::kCancelled, "", ""}));
  EXPECT_TRUE(quib_nav_error_is_noise({LoadError::Kind::kInterrupted, "", ""}));
}

TEST_F(Navigation, OnlyWebFileEmptyAndBlankUrlsAreReported) {
  struct Case {
    const char* url;
    bool sent;
  } cases[] = {{"https://a/", true},  {"http://a/", true},        {"file:///x", true},
               {"", true},            {"about:blank", true},      {"about:srcdoc", false},
               {"about:blank#x", false}, {"data:text/html,x", false}, {"blob:https://a/1", false},
               {"myapp://x", false},  {"HTTP://A/", false},       {"quib-media://x", false}};
  for (const Case& c : cases) {
    quib_nav_event(main_view(), "commit", c.url, nullptr);
    const V l = lines();
    EXPECT_EQ(l.size(), c.sent ? 1u : 0u) << c.url;
  }
}

TEST_F(Navigation, APopupTakesItsPageTitleBeforeItsFinishEvent) {
  FakeWindow* w = open("popup9");
  view("popup9")->current_url = "https://a/";
  view("popup9")->current_title = "A title";
  view("popup9")->load_finished();
  EXPECT_EQ(w->title(), "A title");
  view("popup9")->current_title = "";
  view("popup9")->load_finished();
  EXPECT_EQ(w->title(), "A title") << "an empty title leaves it";
  FakeWindow* other = open("w2");
  view("w2")->current_title = "Not a popup";
  view("w2")->load_finished();
  EXPECT_EQ(other->title(), "w2");
  view("w2")->title_changes("Still not");
  EXPECT_EQ(other->title(), "w2");
}

TEST_F(Navigation, APopupTakesATitleThatComesAfterItsLoadFinished) {
  // WebKitGTK may report a document's title only after the finish of its load.
  FakeWindow* w = open("popup9");
  FakeWebView* v = view("popup9");
  v->load_started("https://a/");
  v->title_changes("Loading");
  EXPECT_EQ(w->title(), "popup9") << "a title during the load waits for its finish";
  v->current_title = "";
  v->load_finished();
  EXPECT_EQ(w->title(), "popup9");
  v->title_changes("Late");
  EXPECT_EQ(w->title(), "Late");
  v->title_changes("");
  EXPECT_EQ(w->title(), "Late") << "an empty title leaves it";
  v->load_started("https://b/");
  v->title_changes("Next, loading");
  EXPECT_EQ(w->title(), "Late");
  v->load_finished();
  EXPECT_EQ(w->title(), "Next, loading");
}

// ---- a page whose web process ended

TEST_F(Navigation, ACrashIsReportedWithThePagesUrl) {
  main_view()->current_url = "https://example.com/app";
  main_view()->process_ends();
  EXPECT_EQ(lines(), V{"NAV {\"window\":\"main\",\"kind\":\"crash\",\"url\":\"https://example.com/app\"}"});
  EXPECT_TRUE(quib_view_crashed(main_view()));
  main_view()->load_started();
  EXPECT_FALSE(quib_view_crashed(main_view())) << "a load brings it back";
}

TEST_F(Navigation, EvalToACrashedPageReloadsItAndRunsOnceItHasLoaded) {
  auto* v = main_view();
  v->current_url = "https://example.com/app";
  v->process_ends();
  command("EVAL first()");
  command("EVAL@main second()");
  command("EVAL@* third()");
  EXPECT_EQ(v->reloads, 1) << "one reload brings it back";
  EXPECT_TRUE(v->scripts.empty());
  v->load_started();
  command("EVAL fourth()");
  v->load_committed();
  EXPECT_TRUE(v->scripts.empty()) << "later scripts wait behind the earlier ones";
  v->load_finished();
  EXPECT_EQ(v->scripts, (V{"first()", "second()", "third()", "fourth()"}));
  command("EVAL fifth()");
  EXPECT_EQ(v->scripts.back(), "fifth()");
  EXPECT_EQ(v->reloads, 1);
}

TEST_F(Navigation, ScriptsWaitingForAPageThatFailsToComeBackAreDropped) {
  auto* v = main_view();
  v->process_ends();
  command("EVAL lost()");
  v->load_started();
  v->load_failed({LoadError::Kind::kFailed, "gone", "https://example.com/"});
  command("EVAL next()");
  EXPECT_EQ(v->scripts, V{"next()"});
}

TEST_F(Navigation, CallsOfACrashedPageAreLetGoAndItsNextDocumentNumbersOn) {
  quib_bridge_reset_for_tests();
  attach_quib_bridge(main_view(), "main");
  auto live = main_view()->live_replies;
  main_view()->post_message("quib", {"1:{}", "https://a", true, "doc1"});
  EXPECT_EQ(*live, 1);
  main_view()->process_ends();
  EXPECT_EQ(*live, 0);
  command("RET main:1 0 {}");
  EXPECT_TRUE(main_view()->answers->empty());
  lines();
  main_view()->post_message("quib", {"1:{}", "https://a", true, "doc2"});
  EXPECT_EQ(lines(), V{"CALL main:2 [\"{}\",\"https://a\"]"});
  quib_bridge_reset_for_tests();
}

TEST_F(Navigation, ReloadReloadsTheMainPageOrLoadsItsFileAgain) {
  main_view()->current_url = "https://example.com/";
  command("RELOAD");
  EXPECT_EQ(main_view()->reloads, 1);
  // A crashed page still has the URL it had.
  main_view()->process_ends();
  command("RELOAD");
  EXPECT_EQ(main_view()->reloads, 2);

  // No URL: the start-up page file again.
  main_view()->current_url.clear();
  command("RELOAD");
  EXPECT_EQ(main_view()->reloads, 2) << "no URL and no file: nothing";
  const std::string file = ::testing::TempDir() + "quibex-reload-page.html";
  std::ofstream(file) << "<p>page</p>";
  settings().html_path = file;
  command("RELOAD");
  ASSERT_EQ(main_view()->files.size(), 1u);
  EXPECT_EQ(main_view()->files[0].first, file);
  std::remove(file.c_str());
}

class WindowlessNavigation : public NavTest {
 protected:
  bool with_main_window() const override { return false; }
  void SetUp() override {
    NavTest::SetUp();
    settings().windowless = true;
  }
};

TEST_F(WindowlessNavigation, ReloadReloadsEveryWindow) {
  open("a");
  open("b");
  command("RELOAD");
  EXPECT_EQ(view("a")->reloads, 1);
  EXPECT_EQ(view("b")->reloads, 1);
}

}  // namespace
