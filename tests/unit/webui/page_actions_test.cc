// FIND, STOPFIND, PDF, COOKIES, PRINT and RELOAD against the fake desktop.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/json_out.h"
#include "base/wire_text.h"
#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "platform/webview_lib.h"
#include "tests/unit/core/test_support.h"
#include "webui/navigation.h"
#include "webui/page_actions.h"

namespace {

namespace fs = std::filesystem;
using platform::Cookie;
using platform::SameSite;
using platform::fake::FakeWebView;
using V = std::vector<std::string>;

class PageActions : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    quib_bridge_reset_for_tests();
    g_w.store(webview_create(false, {}));
    main_view = static_cast<FakeWebView*>(webview_view(g_w.load()));
    attach_quib_bridge(main_view, "main");
    char tmpl[] = "/tmp/quibex-actions-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override {
    for (auto& [id, qw] : g_windows) detach_quib_bridge(qw.webview.get());
    g_windows.clear();
    detach_quib_bridge(main_view);
    webview_destroy(g_w.exchange(nullptr));
    settings().html_path.clear();
    fs::remove_all(dir);
    FakeDesktopTest::TearDown();
  }
  V send(const std::string& line) {
    CommandReader reader;
    reader.handle_line(line);
    desktop.queue.drain();
    return wire.lines();
  }
  FakeWebView* add_window(const std::string& id, bool with_window = true) {
    QuibWindow& qw = g_windows[id];
    if (with_window) qw.window = desktop.make_window({});
    qw.webview = desktop.make_webview();
    attach_quib_bridge(qw.webview.get(), id);
    return static_cast<FakeWebView*>(qw.webview.get());
  }
  V listing() {
    V out;
    for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  WireCapture wire;
  FakeWebView* main_view = nullptr;
  std::string dir;
};

// ------------------------------------------------------------------ FIND

TEST_F(PageActions, FindAnswersFromWhatThePageAndTheCountGive) {
  const std::string kNoMatch = "{\"found\":false,\"matches\":0,\"activeMatch\":0}";
  struct Case {
    const char* name;
    bool found;
    std::optional<std::string> count;
    std::string answer;
  } cases[] = {
      {"no match", false, std::nullopt, kNoMatch},
      {"counted", true, "{\"found\":true,\"matches\":3,\"activeMatch\":2}", "{\"found\":true,\"matches\":3,\"activeMatch\":2}"},
      {"count failed", true, std::nullopt, "{\"found\":true}"},
      {"line breaks kept off the line", true, "{\"found\":true,\r\n\"matches\":1,\n\"activeMatch\":1}\r\n",
       "{\"found\":true,\"matches\":1,\"activeMatch\":1}"},
      {"escaped line break inside a string", true, "{\"found\":true,\"note\":\"a\\nb\"}",
       "{\"found\":true,\"note\":\"a\\nb\"}"},
      {"raw line break inside a string is no JSON", true, "{\"found\":true,\"note\":\"a\nb\"}", "{\"found\":true}"},
      {"not JSON", true, "found 3", "{\"found\":true}"},
      {"an array", true, "[1,2]", "{\"found\":true}"},
      {"a string", true, "\"{}\"", "{\"found\":true}"},
      {"null", true, "null", "{\"found\":true}"},
      {"an object and more", true, "{}{}", "{\"found\":true}"},
      {"empty", true, "", "{\"found\":true}"},
  };
  int n = 1;
  for (const Case& c : cases) {
    main_view->find_found = c.found;
    main_view->private_result = c.count;
    EXPECT_EQ(send("FIND q" + std::to_string(n) + " ab"), V{"GOT " + std::to_string(n) + " " + c.answer}) << c.name;
    ++n;
  }
}

TEST_F(PageActions, FindSearchesTheWindowOfTheCallWithItsOptions) {
  FakeWebView* w2 = add_window("w2");
  w2->private_result = "{\"found\":true,\"matches\":1,\"activeMatch\":1}";
  EXPECT_EQ(send("FIND w2:4 needle\t0\t1"), V{});  // answered into w2's page, where no call 4 waits
  ASSERT_EQ(w2->finds.size(), 1u);
  EXPECT_EQ(w2->finds[0].text, "needle");
  EXPECT_TRUE(w2->finds[0].backwards);
  EXPECT_TRUE(w2->finds[0].case_sensitive);
  EXPECT_TRUE(main_view->finds.empty());
  // The count runs out of the page's reach, with the text as a string literal.
  ASSERT_EQ(w2->private_scripts.size(), 1u);
  EXPECT_NE(w2->private_scripts[0].find("(\"needle\", true)"), std::string::npos);

  send("FIND q1 a\"b\\c\n");
  ASSERT_EQ(main_view->finds.size(), 1u);
  EXPECT_FALSE(main_view->finds[0].backwards);
  EXPECT_FALSE(main_view->finds[0].case_sensitive);
  EXPECT_NE(main_view->private_scripts[0].find("(\"a\\\"b\\\\c\\n\", false)"), std::string::npos);
}

TEST_F(PageActions, FindWithoutViewOrTextAnswersNotFoundAndSearchesNothing) {
  EXPECT_EQ(send("FIND q1 "), V{"GOT 1 {\"found\":false}"});
  EXPECT_EQ(send("FIND q2 \t0\t1"), V{"GOT 2 {\"found\":false}"});
  EXPECT_EQ(send("FIND nosuch:3 ab"), V{});
  EXPECT_TRUE(main_view->finds.empty());
  // Answered even when the page goes before its count does.
  main_view->find_found = true;
  main_view->private_result = std::nullopt;
  EXPECT_EQ(send("FIND q4 ab"), V{"GOT 4 {\"found\":true}"});
}

TEST_F(PageActions, FindAndStopFindAnswerAPageCallInThePage) {
  main_view->private_result = "{\"found\":true,\"matches\":2,\"activeMatch\":1}";
  main_view->post_message("quib", {"1:{\"method\":\"find\"}", "file://", true, "d1"});
  main_view->post_message("quib", {"2:{\"method\":\"stop\"}", "file://", true, "d1"});
  send("FIND main:1 ab");
  send("STOPFIND main:2");
  ASSERT_EQ(main_view->answers->size(), 2u);
  EXPECT_EQ((*main_view->answers)[0].json, "{\"found\":true,\"matches\":2,\"activeMatch\":1}");
  EXPECT_TRUE((*main_view->answers)[0].ok);
  EXPECT_EQ((*main_view->answers)[1].json, "true");
  EXPECT_EQ(main_view->private_scripts.back(), "window.getSelection().removeAllRanges()");
}

TEST_F(PageActions, StopFindAlwaysAnswersTrue) {
  EXPECT_EQ(send("STOPFIND q9"), V{"GOT 9 true"});
  EXPECT_EQ(send("STOPFIND nosuch:1"), V{});
  EXPECT_EQ(main_view->private_scripts, V{"window.getSelection().removeAllRanges()"});
}

// ------------------------------------------------------------------ PDF

TEST_F(PageActions, PdfIsWrittenWholeBesideAnyOldFile) {
  const std::string file = dir + "/out \"1\".pdf";
  std::ofstream(file) << "old";
  EXPECT_EQ(send("PDF p1 " + wire_escape(file)),
            V{"GOT p1 {\"ok\":true,\"path\":" + json_escape(file) + ",\"error\":null}"});
  EXPECT_EQ(read(file), main_view->pdf_bytes);
  EXPECT_EQ(listing(), V{"out \"1\".pdf"});
  // Rendered into a file of its own in the same folder, never at the path itself.
  ASSERT_EQ(main_view->pdf_paths.size(), 1u);
  EXPECT_EQ(fs::path(main_view->pdf_paths[0]).parent_path(), fs::path(dir));
  EXPECT_NE(main_view->pdf_paths[0], file);
  // Made with the usual permissions, not a temporary file's owner-only ones.
  mode_t mask = umask(022);
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_F(PageActions, PdfFailuresLeaveNothingBehind) {
  fs::create_directory(dir + "/taken");
  std::ofstream(dir + "/taken/x") << "x";
  std::ofstream(dir + "/keep.pdf") << "keep";
  struct Case {
    const char* name;
    std::string path, render_error, bytes, answer;
    size_t renders;
  } cases[] = {
      {"render fails", dir + "/keep.pdf", "Printer not found", "", "{\"ok\":false,\"error\":\"Printer not found\"}", 1},
      {"rendered no PDF", dir + "/keep.pdf", "", "<html>", "{\"ok\":false,\"error\":\"pdf write failed\"}", 1},
      {"missing folder", dir + "/no/such.pdf", "", "", "{\"ok\":false,\"error\":\"pdf write failed\"}", 0},
      {"a folder at the path", dir + "/taken", "", "", "{\"ok\":false,\"error\":\"pdf write failed\"}", 1},
      {"no name", dir + "/", "", "", "{\"ok\":false,\"error\":\"pdf write failed\"}", 0},
      {"empty path", "", "", "", "{\"ok\":false,\"error\":\"pdf write failed\"}", 0},
  };
  for (const Case& c : cases) {
    main_view->pdf_paths.clear();
    main_view->pdf_error = c.render_error;
    main_view->pdf_bytes = c.bytes.empty() ? "%PDF-1.7\n" : c.bytes;
    EXPECT_EQ(send("PDF p " + wire_escape(c.path)), V{"GOT p " + c.answer}) << c.name;
    EXPECT_EQ(main_view->pdf_paths.size(), c.renders) << c.name;
    EXPECT_EQ(listing(), (V{"keep.pdf", "taken"})) << c.name;
    EXPECT_EQ(read(dir + "/keep.pdf"), "keep") << c.name;
  }
}

TEST_F(PageActions, PdfOfAWindowWithoutViewAnswersNoWebview) {
  add_window("w2");
  EXPECT_EQ(send("PDF@w3 p1 " + dir + "/a.pdf"), V{"GOT p1 {\"ok\":false,\"error\":\"no webview\"}"});
  EXPECT_EQ(send("PDF@w2 p2 " + dir + "/a.pdf"),
            V{"GOT p2 {\"ok\":true,\"path\":" + json_escape(dir + "/a.pdf") + ",\"error\":null}"});
  EXPECT_TRUE(main_view->pdf_paths.empty());
}

// ------------------------------------------------------------------ COOKIES

TEST_F(PageActions, CookieSetReadsEveryField) {
  struct Case {
    std::string fields;
    std::optional<double> expires;
    bool secure, http_only;
    SameSite same_site;
    std::string path;
  } cases[] = {
      {"n\tv\td.example\t/p\t1700000000123\t1\t1\tlax", 1700000000123.0, true, true, SameSite::Lax, "/p"},
      {"n\tv\td.example\t/p\t0\t0\t0\tstrict", 0.0, false, false, SameSite::Strict, "/p"},
      {"n\tv\td.example\t/p\t-1.5e3\ttrue\tyes\tLax", -1500.0, false, false, SameSite::NoPolicy, "/p"},
      {"n\tv\td.example", std::nullopt, false, false, SameSite::NoPolicy, ""},
      {"n\tv\td.example\t\t\t1\t\tnone", std::nullopt, true, false, SameSite::NoPolicy, ""},
  };
  for (const Case& c : cases) {
    desktop.cookies.sets.clear();
    EXPECT_EQ(send("COOKIES c1 set\t" + c.fields), V{"GOT c1 {\"ok\":true}"}) << c.fields;
    ASSERT_EQ(desktop.cookies.sets.size(), 1u) << c.fields;
    const Cookie& k = desktop.cookies.sets[0];
    EXPECT_EQ(k.name, "n");
    EXPECT_EQ(k.value, "v");
    EXPECT_EQ(k.domain, "d.example");
    EXPECT_EQ(k.path, c.path) << c.fields;
    EXPECT_EQ(k.expires_ms, c.expires) << c.fields;
    EXPECT_EQ(k.secure, c.secure) << c.fields;
    EXPECT_EQ(k.http_only, c.http_only) << c.fields;
    EXPECT_EQ(k.same_site, c.same_site) << c.fields;
  }
  // Fields after the operation are wire-escaped.
  desktop.cookies.sets.clear();
  send("COOKIES c2 set\tn\\x\ta\\\\b c\td.exampl\\e");
  ASSERT_EQ(desktop.cookies.sets.size(), 1u);
  EXPECT_EQ(desktop.cookies.sets[0].name, "nx");
  EXPECT_EQ(desktop.cookies.sets[0].value, "a\\b c");
  EXPECT_EQ(desktop.cookies.sets[0].domain, "d.example");
}

TEST_F(PageActions, CookieSetRefusesWhatWouldBeDroppedOrBreakAHeader) {
  const char* cases[] = {
      // an expiry that is no number: the cookie would be stored already expired
      "n\tv\td.example\t/\tsoon", "n\tv\td.example\t/\t12abc", "n\tv\td.example\t/\tnan",
      "n\tv\td.example\t/\tinf", "n\tv\td.example\t/\t1e999", "n\tv\td.example\t/\t ",
      // missing or unsafe texts
      "\tv\td.example", "n\tv\t", "n;x\tv\td.example", "n=x\tv\td.example", "n\tv;Domain=evil\td.example",
      "n\tv\\nSet\td.example", "n\tv\td.example;x", "n\tv\td.example\t/\\r",
  };
  for (const char* fields : cases) {
    EXPECT_EQ(send(std::string("COOKIES c1 set\t") + fields), V{"GOT c1 {\"ok\":false,\"error\":\"invalid cookie\"}"})
        << fields;
  }
  EXPECT_TRUE(desktop.cookies.sets.empty());
  desktop.cookies.refuse = true;
  EXPECT_EQ(send("COOKIES c2 set\tn\tv\td.example"), V{"GOT c2 {\"ok\":false,\"error\":\"invalid cookie\"}"});
}

TEST_F(PageActions, CookieSetAnswersWhenTheStoreIsDone) {
  desktop.cookies.hold = true;
  EXPECT_EQ(send("COOKIES c1 set\tn\tv\td.example"), V{});
  desktop.cookies.release();
  EXPECT_EQ(wire.lines(), V{"GOT c1 {\"ok\":true}"});
}

TEST_F(PageActions, CookieGetListsEveryCookieInOrder) {
  EXPECT_EQ(send("COOKIES g0 get"), V{"GOT g0 {\"ok\":true,\"cookies\":[]}"});
  desktop.cookies.cookies = {
      {"a", "1", "x.example", "/", std::nullopt, false, false, SameSite::NoPolicy},
      {"b\"q", "v\n", "", "", 1500.9, true, true, SameSite::Lax},
      {"c", "", ".x.example", "/p", -2.5, false, true, SameSite::Strict},
  };
  EXPECT_EQ(send("COOKIES g1 get"),
            V{"GOT g1 {\"ok\":true,\"cookies\":["
              "{\"name\":\"a\",\"value\":\"1\",\"domain\":\"x.example\",\"path\":\"/\",\"expires\":null,"
              "\"secure\":false,\"httpOnly\":false,\"sameSite\":\"none\"},"
              "{\"name\":\"b\\\"q\",\"value\":\"v\\n\",\"domain\":\"\",\"path\":\"/\",\"expires\":1500,"
              "\"secure\":true,\"httpOnly\":true,\"sameSite\":\"lax\"},"
              "{\"name\":\"c\",\"value\":\"\",\"domain\":\".x.example\",\"path\":\"/p\",\"expires\":-2,"
              "\"secure\":false,\"httpOnly\":true,\"sameSite\":\"strict\"}]}"});
}

TEST_F(PageActions, CookieDeleteMatchesNameDomainAndPathExactly) {
  desktop.cookies.cookies = {
      {"s", "1", "x.example", "/", {}, false, false, SameSite::NoPolicy},
      {"s", "2", "x.example", "/", {}, false, false, SameSite::NoPolicy},
      {"s", "3", ".x.example", "/", {}, false, false, SameSite::NoPolicy},
      {"s", "4", "x.example", "/p", {}, false, false, SameSite::NoPolicy},
  };
  EXPECT_EQ(send("COOKIES d1 delete\ts"), V{"GOT d1 {\"ok\":true,\"removed\":0}"});
  EXPECT_EQ(send("COOKIES d2 delete\ts\tX.example\t/"), V{"GOT d2 {\"ok\":true,\"removed\":0}"});
  EXPECT_TRUE(desktop.cookies.removes.empty());

  // The answer waits for the last of the deletions.
  desktop.cookies.hold = true;
  EXPECT_EQ(send("COOKIES d3 delete\ts\tx.example\t/"), V{});
  desktop.cookies.release();  // the listing
  ASSERT_EQ(desktop.cookies.removes.size(), 2u);
  EXPECT_EQ(wire.lines(), V{});
  desktop.cookies.held.front()();
  desktop.cookies.held.erase(desktop.cookies.held.begin());
  EXPECT_EQ(wire.lines(), V{});
  desktop.cookies.release();
  EXPECT_EQ(wire.lines(), V{"GOT d3 {\"ok\":true,\"removed\":2}"});
  ASSERT_EQ(desktop.cookies.cookies.size(), 2u);
  EXPECT_EQ(desktop.cookies.cookies[0].value, "3");
}

TEST_F(PageActions, CookieOperationsOtherThanGetSetDeleteAreRefused) {
  for (const char* rest : {"", "GET", "eat", "get ", "\tget", "remove\tn"}) {
    EXPECT_EQ(send(std::string("COOKIES c9 ") + rest), V{"GOT c9 {\"ok\":false,\"error\":\"bad cookies op\"}"})
        << rest;
  }
  // A set without fields is a cookie without a name.
  EXPECT_EQ(send("COOKIES c9 set"), V{"GOT c9 {\"ok\":false,\"error\":\"invalid cookie\"}"});
}

// ------------------------------------------------------------------ PRINT and RELOAD

TEST_F(PageActions, PrintShowsTheDialogOfAWindowThatHasOne) {
  FakeWebView* w2 = add_window("w2");
  FakeWebView* bare = add_window("w3", false);  // a view without a window
  send("PRINT");
  send("PRINT@w2");
  send("PRINT@w3");
  send("PRINT@nosuch");
  EXPECT_EQ(main_view->print_dialogs, 1);
  EXPECT_EQ(w2->print_dialogs, 1);
  EXPECT_EQ(bare->print_dialogs, 0);
  EXPECT_EQ(wire.lines(), V{});
}

TEST_F(PageActions, ReloadReloadsTheMainPageOrItsFile) {
  FakeWebView* w2 = add_window("w2");
  main_view->current_url = "about:blank";  // how WebKit shows text loaded without an address
  send("RELOAD");  // text without an address and no file: nothing
  EXPECT_EQ(main_view->reloads, 0);
  EXPECT_TRUE(main_view->files.empty());

  const std::string page = dir + "/index.html";
  std::ofstream(page) << "<p>hi</p>";
  settings().html_path = page;
  send("RELOAD");
  ASSERT_EQ(main_view->files.size(), 1u);
  EXPECT_EQ(main_view->files[0].first, page);

  main_view->current_url = "http://127.0.0.1/x";
  send("RELOAD");
  EXPECT_EQ(main_view->reloads, 1);
  EXPECT_EQ(main_view->files.size(), 1u);
  EXPECT_EQ(w2->reloads, 0);
  EXPECT_EQ(wire.lines(), V{});
}

TEST_F(PageActions, ReloadWithoutMainWindowReloadsEveryWindow) {
  FakeWebView* w2 = add_window("w2");
  FakeWebView* w3 = add_window("w3");
  settings().html_path = "/nonexistent.html";
  do_reload(nullptr);
  EXPECT_EQ(w2->reloads, 1);
  EXPECT_EQ(w3->reloads, 1);
  EXPECT_EQ(main_view->reloads, 0);
}

}  // namespace
