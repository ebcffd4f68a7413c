// What debug mode says about the backend's lines the host lets go, once per
// command word, and how pages' console messages reach stderr; and that without
// debug mode nothing is said.

#include <thread>

#include "core/debug_notes.h"
#include "tests/unit/core/test_support.h"

namespace {

class DebugNotes : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    debug_notes_reset_for_tests();
    settings().debug_on = true;
  }
  void TearDown() override {
    settings().debug_on = false;
    FakeDesktopTest::TearDown();
  }
  // What reading these lines (and running what they hand over) writes to stderr.
  std::string said(const std::vector<std::string>& lines) {
    testing::internal::CaptureStderr();
    CommandReader reader;
    for (const std::string& l : lines) reader.handle_line(l);
    desktop.queue.drain();
    return testing::internal::GetCapturedStderr();
  }
};

const std::string kOnce = " (said once per command)\n";

struct Case {
  std::string line;
  std::string said;  // after "quibex: debug: "
};

const std::vector<Case>& unusable_lines() {
  static const std::vector<Case> cases = {
      {"FROB 1 2", "FROB 1 2: unknown command"},
      {"", "(empty line): no command word"},
      {"GET q1", "GET q1: missing fields"},
      {"GET ", "GET : missing id"},
      {"RET q1 0", "RET q1 0: missing fields"},
      {"HKREG r1 save", "HKREG r1 save: missing fields"},
      {"PDF@w2 q1", "PDF@w2 q1: missing fields"},
      {"EVAL", "EVAL: missing fields"},
      {"QUIT now", "QUIT now: not a form this command takes"},
      {"MENU File", "MENU File: outside MENUBEGIN...MENUEND"},
      {"ITEM new\tNew", "ITEM new\\tNew: outside MENUBEGIN, TRAYBEGIN or CTXBEGIN"},
      {"WINOP@w9 show", "WINOP@w9: no window \"w9\""},
      {"TITLE@w9 x", "TITLE@w9: no window \"w9\""},
      {"FROB \x1b[2J" + std::string(100, 'y'), "FROB \\x1b[2J" + std::string(39, 'y') + "...: unknown command"},
  };
  return cases;
}

TEST_F(DebugNotes, EachUnusableLineSaysWhatIsWrong) {
  for (const Case& c : unusable_lines()) {
    SCOPED_TRACE("line: " + c.line);
    debug_notes_reset_for_tests();
    EXPECT_EQ(said({c.line}), "quibex: debug: " + c.said + kOnce);
  }
}

TEST_F(DebugNotes, NothingIsSaidWithoutDebugMode) {
  settings().debug_on = false;
  std::vector<std::string> lines;
  for (const Case& c : unusable_lines()) lines.push_back(c.line);
  EXPECT_EQ(said(lines), "");
}

TEST_F(DebugNotes, UsableLinesAndProbesSayNothing) {
  // A menu bar kept for a window that opens later, EVAL to every window without a
  // main window, a DLG placed without any window, menus built as they should be.
  EXPECT_EQ(said({"TITLE x", "MENUBEGIN@w9", "MENU File", "ITEM a\tA", "MENUEND", "MENURESET@w9", "EVAL@* x()",
                  "DLG q1 alert", "CTXBEGIN", "SEP", "CTXEND", "QUIT"}),
            "");
}

TEST_F(DebugNotes, EachCommandWordIsSpokenOfOnce) {
  EXPECT_EQ(said({"RET q1 0", "RET q2", "FROB", "FROB x", "RET q3 1"}),
            "quibex: debug: RET q1 0: missing fields" + kOnce + "quibex: debug: FROB: unknown command" + kOnce);
  // The reader's notes and the main thread's share the words.
  EXPECT_EQ(said({"WINOP@w9 show", "WINOP@w8 hide"}), "quibex: debug: WINOP@w9: no window \"w9\"" + kOnce);
  EXPECT_EQ(said({"WINOP@w7", "RET q4"}), "");
}

TEST_F(DebugNotes, ThreadsSpeakingOfOneWordSayItOnce) {
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) note_dropped("RET x", "missing fields");
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "quibex: debug: RET x: missing fields" + kOnce);
}

TEST_F(DebugNotes, QuotesAreShortAndPrintable) {
  const std::vector<std::tuple<std::string, size_t, std::string>> cases = {
      {"a\tb", 10, "a\\tb"},
      {"\x1b[31m\x7f", 10, "\\x1b[31m\\x7f"},
      {"abcdef", 3, "abc..."},
      {"a\xc3\xa9z", 2, "a..."},  // never half a character
      {"a\xc3\xa9z", 3, "a\xc3\xa9..."},
      {"\xff\xc3", 8, "\\xff\\xc3"},  // not UTF-8
      {"a\xc2\x9b" "1m", 8, "a\\xc2\\x9b1m"},  // a C1 control
  };
  for (const auto& [in, max, out] : cases) EXPECT_EQ(printable_prefix(in, max), out) << in;
}

TEST_F(DebugNotes, PageConsoleLinesAreLabelledWithTheirWindow) {
  using L = platform::ConsoleMessage::Level;
  const std::vector<std::pair<platform::ConsoleMessage, std::string>> cases = {
      {{L::kLog, false, "hello", "file:///a/index.html", 12}, "quibex: page w2: log: hello (file:///a/index.html:12)\n"},
      {{L::kWarning, false, "two\nlines", "", 0}, "quibex: page w2: warning: two\nquibex: page w2:   lines\n"},
      {{L::kError, true, "Unhandled Promise Rejection: Error: no", "", 0},
       "quibex: page w2: uncaught: Unhandled Promise Rejection: Error: no\n"},
      {{L::kInfo, false, "\x1b[2Jwiped\tcol", "x.js", 0}, "quibex: page w2: info: \\x1b[2Jwiped\tcol (x.js)\n"},
      {{L::kDebug, false, std::string(5000, 'z'), "", 0}, "quibex: page w2: debug: " + std::string(4000, 'z') + "...\n"},
  };
  platform::fake::FakeWebView view;
  forward_page_console(&view, "w2");
  for (const auto& [m, out] : cases) {
    testing::internal::CaptureStderr();
    view.page_console(m);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), out);
  }
  settings().debug_on = false;
  platform::fake::FakeWebView quiet;
  forward_page_console(&quiet, "w3");
  EXPECT_FALSE(quiet.console);
}

}  // namespace
