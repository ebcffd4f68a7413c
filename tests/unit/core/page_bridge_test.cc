// Page messages into CALL lines, answers into pages, scripts into windows.

#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/page_scripts.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "platform/webview_lib.h"
#include "test_support.h"

namespace {

using platform::ScriptMessage;
using platform::fake::FakeWebView;
using platform::fake::FakeAnswer;
using V = std::vector<std::string>;
using A = std::vector<FakeAnswer>;

class PageBridge : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    quib_bridge_reset_for_tests();
    g_w.store(webview_create(false, {}));
    main_view = static_cast<FakeWebView*>(webview_view(g_w.load()));
    attach_quib_bridge(main_view, "main");
  }
  void TearDown() override {
    for (auto& [id, qw] : g_windows) detach_quib_bridge(qw.webview.get());
    g_windows.clear();
    detach_quib_bridge(main_view);
    webview_destroy(g_w.exchange(nullptr));
    FakeDesktopTest::TearDown();
  }
  FakeWebView* add_window(const std::string& id) {
    auto v = std::make_unique<FakeWebView>();
    FakeWebView* raw = v.get();
    g_windows[id].webview = std::move(v);
    attach_quib_bridge(raw, id);
    return raw;
  }
  // As a closed window goes: the bridge lets go of its view, the registry forgets it.
  void close_window(const std::string& id) {
    detach_quib_bridge(g_windows[id].webview.get());
    g_windows.erase(id);
  }
  static void post(FakeWebView* v, const std::string& body, const std::string& origin = "file://",
                   bool main_frame = true, const std::string& doc = "d1") {
    v->post_message("quib", ScriptMessage{body, origin, main_frame, doc});
  }
  static const A& answers(FakeWebView* v) { return *v->answers; }
  void ret(const std::string& line) { ret_together({line}); }
  // Answers that arrive together: the main queue runs them in one go.
  void ret_together(const V& lines) {
    CommandReader reader;
    for (const std::string& line : lines) reader.handle_line(line);
    desktop.queue.drain();
  }
  WireCapture wire;
  FakeWebView* main_view = nullptr;
};

TEST_F(PageBridge, MessagesBecomeCallLines) {
  struct Case {
    std::string body, origin;
    bool main_frame;
    std::string line;  // "" = ignored
  } cases[] = {
      {"12:{\"method\":\"x\"}", "https://a.example", true, "CALL main:12 [\"{\\\"method\\\":\\\"x\\\"}\",\"https://a.example\"]"},
      {"1:a:b:c", "file://", true, "CALL main:1 [\"a:b:c\",\"file://\"]"},
      {"2:", "null", true, "CALL main:2 [\"\",\"null\"]"},
      {"3:line\nbreak\t", "file://", true, "CALL main:3 [\"line\\nbreak\\t\",\"file://\"]"},
      {"123456789012345:p", "file://", true, "CALL main:123456789012345 [\"p\",\"file://\"]"},
      {"5:p", "https://ads.example:8443", false, "CALL main:s5 [\"p\",\"quib:subframe\",\"https://ads.example:8443\"]"},
      {"no colon", "file://", true, ""},
      {":p", "file://", true, ""},
      {"1234567890123456:p", "file://", true, ""},
      {"1a:p", "file://", true, ""},
      {"-1:p", "file://", true, ""},
      {" 1:p", "file://", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    post(main_view, c.body, c.origin, c.main_frame);
    V got = wire.lines();
    if (c.line.empty())
      EXPECT_TRUE(got.empty());
    else
      EXPECT_EQ(got, V{c.line});
  }
}

TEST_F(PageBridge, AnswersReachTheCallOrTheBackend) {
  post(main_view, "3:{}");
  post(main_view, "4:{}");
  wire.lines();
  ret("RET main:3 0 [1,2]");
  ret("RET main:4 2 {\"error\":\"no\"}");
  EXPECT_EQ(answers(main_view), (A{{"3:{}", "d1", true, "[1,2]"}, {"4:{}", "d1", false, "{\"error\":\"no\"}"}}));

  ret("RET q7 1 {\"a\":1}");
  EXPECT_EQ(wire.lines(), V{"GOT 7 {\"a\":1}"});
  for (const char* dropped : {"RET q 0 {}", "RET q7x 0 {}", "RET main: 0 {}", "RET main:s3 0 {}", "RET nowhere:3 0 {}",
                              "RET main:3x 0 {}", "RET main 0 {}", "RET main:3 0 \"again\"", "RET main:5 0 {}",
                              "RET main:99999999999999999999 0 {}"})
    ret(dropped);
  EXPECT_TRUE(wire.lines().empty());
  EXPECT_EQ(answers(main_view).size(), 2u);
}

TEST_F(PageBridge, SubFrameCallsAreNeverAnswered) {
  FakeWebView* w2 = add_window("w2");
  post(w2, "5:p", "https://other.example", false);
  EXPECT_EQ(wire.lines(), V{"CALL w2:s5 [\"p\",\"quib:subframe\",\"https://other.example\"]"});
  ret("RET w2:s5 0 {}");
  ret("RET w2:5 0 {}");  // no main-frame call 5 was made in w2
  EXPECT_TRUE(answers(w2).empty());
  EXPECT_TRUE(w2->scripts.empty());
}

TEST_F(PageBridge, AnAnswerForAnEarlierDocumentNeverReachesTheNextOne) {
  post(main_view, "1:first", "file://", true, "docA");
  EXPECT_EQ(wire.lines(), V{"CALL main:1 [\"first\",\"file://\"]"});
  // The page reloads before the answer; the new document's counter starts at 1 again.
  post(main_view, "1:second", "file://", true, "docB");
  V lines = wire.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].rfind("CALL main:1 ", 0), 0u) << "the new call reuses the old call's id";
  const std::string new_id = lines[0].substr(5, lines[0].find(' ', 5) - 5);

  ret("RET main:1 0 \"for the old page\"");
  EXPECT_TRUE(answers(main_view).empty());
  ret("RET " + new_id + " 0 \"for the new page\"");
  EXPECT_EQ(answers(main_view), (A{{"1:second", "docB", true, "\"for the new page\""}}));
}

TEST_F(PageBridge, AWindowReopenedUnderItsIdNeverTakesItsPredecessorsAnswers) {
  FakeWebView* first = add_window("w2");
  post(first, "1:first", "file://", true, "d1");
  post(first, "2:first", "file://", true, "d1");
  EXPECT_EQ(wire.lines().size(), 2u);
  auto first_answers = first->answers;  // the view goes with its window
  close_window("w2");
  // The new window's page numbers its calls from 1 again, in a document of the same name.
  FakeWebView* second = add_window("w2");
  post(second, "1:second", "file://", true, "d1");
  V lines = wire.lines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string new_id = lines[0].substr(5, lines[0].find(' ', 5) - 5);
  EXPECT_NE(new_id, "w2:1");
  EXPECT_NE(new_id, "w2:2");

  ret("RET w2:1 0 \"late\"");
  ret("RET w2:2 0 \"late\"");
  ret("RET " + new_id + " 0 \"fresh\"");
  EXPECT_EQ(answers(second), (A{{"1:second", "d1", true, "\"fresh\""}}));
  EXPECT_TRUE(first_answers->empty());
}

// A way back is held only while its call can still be answered.
TEST_F(PageBridge, WaysBackAreLetGoOnceTheyCanNoLongerBeUsed) {
  FakeWebView* w = add_window("w4");
  auto live = w->live_replies;
  for (const char* body : {"1:a", "2:b", "3:c", "x:not a call", "4"}) post(w, body, "file://", true, "docA");
  EXPECT_EQ(*live, 3);
  ret("RET w4:2 0 {}");
  EXPECT_EQ(*live, 2);
  post(w, "1:d", "file://", true, "docB");  // a new document: docA's calls can no longer be answered
  EXPECT_EQ(*live, 1);
  close_window("w4");
  EXPECT_EQ(*live, 0);
}

// One answer of a text handed to window.__quibAnswers.
struct Settled {
  std::uint64_t seq;
  bool ok;
  std::string json;
  bool operator==(const Settled&) const = default;
};
struct Answers {
  char more = 0;  // '+': the host holds no way back for calls still open
  std::vector<Settled> list;
  bool operator==(const Answers&) const = default;
};

// Reads an answer text as the shim does; lengths in UTF-16 units.
Answers read_answers(const std::string& t) {
  Answers out;
  if (t.empty()) return out;
  out.more = t[0];
  for (size_t i = 1; i < t.size();) {
    const size_t a = t.find(':', i), b = t.find(':', a + 1);
    size_t left = std::stoul(t.substr(a + 1, b - a - 1)), p = b + 1;
    for (; left > 0 && p < t.size(); --left) {
      const auto c = static_cast<unsigned char>(t[p]);
      const size_t len = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
      if (len == 4) --left;
      p += len;
    }
    out.list.push_back({std::stoull(t.substr(i + 1, a - i - 1)), t[i] == '1', t.substr(b + 1, p - b - 1)});
    i = p;
  }
  return out;
}

// The id a CALL line gives its call.
std::string call_id(const std::string& line) { return line.substr(5, line.find(' ', 5) - 5); }

TEST_F(PageBridge, TheCallsOfATurnGoOutTogetherAndTheirAnswersComeBackTogetherInOrder) {
  const std::string smile = "\xf0\x9f\x98\x80";
  post(main_view, "*1:2:{}2:3:\"b\"3:1:c");
  EXPECT_EQ(wire.lines(), (V{"CALL main:1 [\"{}\",\"file://\"]", "CALL main:2 [\"\\\"b\\\"\",\"file://\"]",
                             "CALL main:3 [\"c\",\"file://\"]"}));
  EXPECT_EQ(*main_view->live_replies, 1);
  ret_together({"RET main:3 0 [3]", "RET main:1 1 {\"e\":1}", "RET main:3 0 \"again\"",
                "RET main:2 0 \"" + smile + "\""});
  ASSERT_EQ(answers(main_view).size(), 1u);
  EXPECT_EQ(read_answers(answers(main_view)[0].batch),
            (Answers{'-', {{3, true, "[3]"}, {1, false, "{\"e\":1}"}, {2, true, "\"" + smile + "\""}}}));
  ret("RET main:2 0 \"late\"");
  EXPECT_EQ(answers(main_view).size(), 1u);
  EXPECT_EQ(*main_view->live_replies, 0);
}

TEST_F(PageBridge, AnswersTakenTogetherGoOnlyToTheirOwnWindows) {
  FakeWebView* w2 = add_window("w2");
  post(main_view, "*1:1:a2:1:b");
  post(w2, "*1:1:a2:1:b");
  wire.lines();
  ret_together({"RET w2:2 0 \"w2 two\"", "RET main:1 0 \"main one\"", "RET w2:1 1 \"w2 one\"",
                "RET main:2 0 \"main two\""});
  ASSERT_EQ(answers(main_view).size(), 1u);
  ASSERT_EQ(answers(w2).size(), 1u);
  EXPECT_EQ(read_answers(answers(main_view)[0].batch).list,
            (std::vector<Settled>{{1, true, "\"main one\""}, {2, true, "\"main two\""}}));
  EXPECT_EQ(read_answers(w2->answers->at(0).batch).list,
            (std::vector<Settled>{{2, true, "\"w2 two\""}, {1, false, "\"w2 one\""}}));
}

// The answer was taken, and the page reloaded before the answers of the turn went out.
TEST_F(PageBridge, AnAnswerTakenBeforeAReloadIsNotSettledInTheNewDocument) {
  post(main_view, "*1:1:a2:1:b", "file://", true, "docA");
  wire.lines();
  CommandReader reader;
  reader.handle_line("RET main:1 0 \"for the old page\"");
  auto items = desktop.queue.take();
  ASSERT_EQ(items.size(), 1u);
  items[0].handler(items[0].w, items[0].record);  // taken; the delivery waits behind it
  post(main_view, "*1:1:c", "file://", true, "docB");
  const V lines = wire.lines();
  ASSERT_EQ(lines.size(), 1u);
  desktop.queue.drain();
  EXPECT_TRUE(answers(main_view).empty());
  ret_together({"RET main:2 0 \"for the old page\"", "RET " + call_id(lines[0]) + " 0 \"for the new page\""});
  ASSERT_EQ(answers(main_view).size(), 1u);
  EXPECT_EQ(answers(main_view)[0].document, "docB");
  EXPECT_EQ(read_answers(answers(main_view)[0].batch).list, (std::vector<Settled>{{1, true, "\"for the new page\""}}));
}

// Each way back answers once: when the last one for open calls goes, the page is
// asked for another, and answers wait for it.
TEST_F(PageBridge, AnswersWaitForTheWayBackThePageIsAskedFor) {
  post(main_view, "*1:1:a2:1:b3:1:c");
  wire.lines();
  ret("RET main:1 0 1");
  ASSERT_EQ(answers(main_view).size(), 1u);
  EXPECT_EQ(read_answers(answers(main_view)[0].batch), (Answers{'+', {{1, true, "1"}}}));
  ret("RET main:3 0 3");
  EXPECT_EQ(answers(main_view).size(), 1u);
  post(main_view, "*");
  ASSERT_EQ(answers(main_view).size(), 2u);
  EXPECT_EQ(answers(main_view)[1].body, "*");
  EXPECT_EQ(read_answers(answers(main_view)[1].batch), (Answers{'+', {{3, true, "3"}}}));
  post(main_view, "*");
  post(main_view, "*");  // one way back is enough for the one call still open
  EXPECT_EQ(*main_view->live_replies, 1);
  ret("RET main:2 0 2");
  EXPECT_EQ(read_answers(answers(main_view).back().batch), (Answers{'-', {{2, true, "2"}}}));
  post(main_view, "*");  // nothing open: let go at once
  EXPECT_EQ(*main_view->live_replies, 0);
  EXPECT_TRUE(wire.lines().empty());
}

// An answer given at once goes with those of the turn taken before it, in order;
// the way back of a call that came alone serves the others.
TEST_F(PageBridge, AnAnswerGivenAtOnceGoesWithTheAnswersTakenBeforeIt) {
  post(main_view, "*1:1:a2:1:b");
  post(main_view, "3:c");
  wire.lines();
  CommandReader reader;
  reader.handle_line("RET main:2 0 \"two\"");
  auto items = desktop.queue.take();
  ASSERT_EQ(items.size(), 1u);
  items[0].handler(items[0].w, items[0].record);
  reply_to_call(g_w.load(), "main:3", 0, "\"three\"");
  ASSERT_EQ(answers(main_view).size(), 1u);
  EXPECT_EQ(answers(main_view)[0].body, "3:c");
  EXPECT_EQ(read_answers(answers(main_view)[0].batch),
            (Answers{'-', {{2, true, "\"two\""}, {3, true, "\"three\""}}}));
  desktop.queue.drain();
  EXPECT_EQ(answers(main_view).size(), 1u);
  ret("RET main:1 0 \"one\"");
  EXPECT_EQ(read_answers(answers(main_view).back().batch), (Answers{'-', {{1, true, "\"one\""}}}));
  EXPECT_EQ(*main_view->live_replies, 0);
}

TEST_F(PageBridge, AMalformedBatchIsRefusedWholeAndTheWindowGoesOn) {
  for (const char* body : {"*1:1:a2:5:b", "*1:1:ab", "*x", "**", "*1:99999999999:a", "*:0:"}) {
    SCOPED_TRACE(body);
    post(main_view, body);
    EXPECT_TRUE(wire.lines().empty());
    EXPECT_EQ(*main_view->live_replies, 0);
  }
  post(main_view, "*1:1:a");
  EXPECT_EQ(wire.lines(), V{"CALL main:1 [\"a\",\"file://\"]"});
  ret("RET main:1 0 {}");
  EXPECT_EQ(read_answers(answers(main_view)[0].batch), (Answers{'-', {{1, true, "{}"}}}));
}

TEST_F(PageBridge, ASubFramesBatchIsNeverAnswered) {
  FakeWebView* w2 = add_window("w2");
  post(w2, "*5:1:p6:1:q", "https://other.example", false);
  post(w2, "*", "https://other.example", false);
  EXPECT_EQ(wire.lines(), (V{"CALL w2:s5 [\"p\",\"quib:subframe\",\"https://other.example\"]",
                             "CALL w2:s6 [\"q\",\"quib:subframe\",\"https://other.example\"]"}));
  EXPECT_EQ(*w2->live_replies, 0);
  ret_together({"RET w2:s5 0 {}", "RET w2:6 0 {}"});
  EXPECT_TRUE(answers(w2).empty());
}

TEST_F(PageBridge, EvalRunsInOneWindowOrInAll) {
  FakeWebView* b = add_window("b");
  FakeWebView* a = add_window("a");
  ret("EVAL@* x()");
  ret("EVAL@b y()");
  ret("EVAL@gone z()");
  ret("EVAL m()");
  EXPECT_EQ(main_view->scripts, (V{"x()", "m()"}));
  EXPECT_EQ(a->scripts, (V{"x()"}));
  EXPECT_EQ(b->scripts, (V{"x()", "y()"}));
}

// Text that is not UTF-8 reaches the page with U+FFFD in place of each bad sequence;
// WebKit would refuse it whole.
TEST_F(PageBridge, TextHandedToThePageIsMadeUtf8) {
  const std::string r = "\xef\xbf\xbd";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"s='\xff'", "s='" + r + "'"},
      {"s='a\xc3'", "s='a" + r + "'"},                    // cut short
      {"s='\xc0\xaf'", "s='" + r + r + "'"},             // overlong
      {"s='\xed\xa0\x80'", "s='" + r + r + r + "'"},     // a surrogate
      {"s='\xf4\x90\x80\x80'", "s='" + r + r + r + r + "'"},  // past U+10FFFF
      {"s='\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\x80'", "s='\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\x80'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    main_view->scripts.clear();
    ret("EVAL " + c.in);
    EXPECT_EQ(main_view->scripts, V{c.out});
  }

  post(main_view, "4:{}");
  ret("RET main:4 0 \"a\xff\"");
  EXPECT_EQ(answers(main_view), (A{{"4:{}", "d1", true, "\"a" + r + "\""}}));

  settings().inject_js = "window.injected = '\xfe';";
  FakeWebView* w = add_window("w3");
  settings().inject_js.clear();
  EXPECT_EQ(w->user_scripts.at(2), "window.injected = '" + r + "';");
}

TEST_F(PageBridge, EveryPageGetsShimLibraryAndInjectScriptInOrder) {
  settings().inject_js = "window.injected = 1;";
  FakeWebView* w = add_window("it's");
  settings().inject_js.clear();
  ASSERT_EQ(w->user_scripts.size(), 3u);
  EXPECT_EQ(w->user_scripts[0], quib_shim_js("it's"));
  EXPECT_NE(w->user_scripts[0].find("window.__QUIB_WIN = 'it\\'s'"), std::string::npos);
  EXPECT_EQ(w->user_scripts[1], QUIB_CLIENT_JS);
  EXPECT_EQ(w->user_scripts[2], "window.injected = 1;");
  EXPECT_EQ(main_view->user_scripts.size(), 2u);
  EXPECT_TRUE(w->handlers.count("quib"));
}

}  // namespace
