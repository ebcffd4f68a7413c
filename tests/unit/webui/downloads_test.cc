// Downloads and file drops on the fake desktop: the names downloads get, the
// modes, the DOWNLOAD events in order with their progress throttle, and DROP.

#include "webui/downloads.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/settings.h"
#include "platform/fake/fake_download.h"
#include "tests/unit/core/test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::DownloadResponse;
using platform::fake::FakeDownload;
using platform::fake::FakeWebView;
using V = std::vector<std::string>;

std::string make_temp_dir() {
  char tmpl[] = "/tmp/qbx-dl-XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "";
}

void touch(const std::string& path) { std::ofstream(path) << "x"; }

class Downloads : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    downloads_reset_for_tests();
    unsetenv("QUIBEX_TEST_AUTODLG");
    saved_mode_ = settings().downloads;
    settings().downloads = "";
    dir = make_temp_dir();
    desktop.downloads_folder = dir;
    desktop.mime_extensions = {{"application/pdf", "pdf"}, {"text/plain", "txt"}, {"x/evil", "../x"}};
    desktop.clock.advance(10000);  // a clock that has been running a while
    apply_download_delegate(&view);
  }
  void TearDown() override {
    downloads_reset_for_tests();
    settings().downloads = saved_mode_;
    fs::remove_all(dir);
    FakeDesktopTest::TearDown();
  }
  // A download of url whose response suggests `name`.
  std::unique_ptr<FakeDownload> start(const std::string& name, const std::string& mime = "",
                                      const std::string& url = "http://127.0.0.1/f") {
    auto d = std::make_unique<FakeDownload>(&view);
    d->respond(DownloadResponse{url, mime, name});
    return d;
  }
  // The DOWNLOAD lines written since the last call, without the keyword.
  V events() {
    V out;
    for (const std::string& l : wire.lines())
      if (l.rfind("DOWNLOAD ", 0) == 0) out.push_back(l.substr(9));
    return out;
  }

  WireCapture wire;
  FakeWebView view;
  std::string dir;

 private:
  std::string saved_mode_;
};

// ---- names

TEST(DownloadNames, SuggestedNamesAreFileNamesNeverPaths) {
  const struct {
    std::string suggested, name;
  } cases[] = {
      {"report.pdf", "report.pdf"},
      {"", "download"},
      {"../../.bashrc", ".bashrc"},
      {"/etc/passwd", "passwd"},
      {"a/b/c.txt", "c.txt"},
      {"..\\..\\evil.exe", "evil.exe"},
      {".", "download"},
      {"..", "download"},
      {"dir/..", "download"},
      {"/", "download"},
      {std::string("a\0b.txt", 7), "ab.txt"},
      {"line\nbreak\r\t.txt", "linebreak.txt"},
      {"del\x7f.txt", "del.txt"},
      {"\x01\x02", "download"},
      {"c1\xc2\x85\xc2\x9f.txt", "c1.txt"},
      {"nbsp\xc2\xa0.txt", "nbsp\xc2\xa0.txt"},  // not a control character
      {".\n.", "download"},                      // becomes ".." once the control character goes
      {"r\xc3\xa9sum\xc3\xa9 (final).pdf", "r\xc3\xa9sum\xc3\xa9 (final).pdf"},
  };
  for (const auto& c : cases) EXPECT_EQ(download_safe_name(c.suggested), c.name) << c.suggested;
}

TEST(DownloadNames, ExistingFilesGetTheNextFreeNumber) {
  const std::string dir = make_temp_dir();
  const struct {
    V existing;
    std::string name, want;
  } cases[] = {
      {{}, "report.pdf", "report.pdf"},
      {{"report.pdf"}, "report.pdf", "report (2).pdf"},
      {{"report.pdf", "report (2).pdf"}, "report.pdf", "report (3).pdf"},
      {{"report.pdf", "report (3).pdf"}, "report.pdf", "report (2).pdf"},
      {{"README"}, "README", "README (2)"},
      {{"archive.tar.gz"}, "archive.tar.gz", "archive.tar (2).gz"},
      {{".profile"}, ".profile", ".profile (2)"},
      {{"notes."}, "notes.", "notes. (2)"},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const std::string& f : c.existing) touch(dir + "/" + f);
    EXPECT_EQ(unique_download_name(dir, c.name), c.want) << c.name;
  }
  fs::remove_all(dir);
}

TEST(DownloadNames, FoldersLinksAndDownloadsUnderWayCountAsTaken) {
  const std::string dir = make_temp_dir();
  fs::create_directory(dir + "/a.txt");
  EXPECT_EQ(unique_download_name(dir, "a.txt"), "a (2).txt");
  // A dangling link: writing there would create its target elsewhere.
  ASSERT_EQ(symlink("/nonexistent/target", (dir + "/b.txt").c_str()), 0);
  EXPECT_EQ(unique_download_name(dir, "b.txt"), "b (2).txt");
  EXPECT_EQ(unique_download_name(dir, "c.txt", {dir + "/c.txt"}), "c (2).txt");
  fs::remove_all(dir);
}

TEST(DownloadNames, NamesTooLongAreCutAtACharacterKeepingTheExtensionAndTheNumber) {
  const std::string dir = make_temp_dir();
  const std::string e = "\xc3\xa9";  // é, two bytes
  std::string accented;
  for (int i = 0; i < 3000; ++i) accented += e;
  const struct {
    std::string name;
    V want;  // the free name, then with the first file there, then with both
  } cases[] = {
      {std::string(10000, 'a') + ".pdf", {"aaaaaaaaaaaaaaaa.pdf", "aaaaaaaaaaaa (2).pdf", "aaaaaaaaaaaa (3).pdf"}},
      {accented + ".txt", {e + e + e + e + e + e + e + e + ".txt", e + e + e + e + e + e + " (2).txt",
                           e + e + e + e + e + e + " (3).txt"}},
      {std::string(10000, 'b'), {std::string(20, 'b'), std::string(16, 'b') + " (2)", std::string(16, 'b') + " (3)"}},
      // No extension could stand beside a name: the whole is cut.
      {"c." + std::string(10000, 'd'), {"c." + std::string(18, 'd'), "c." + std::string(14, 'd') + " (2)",
                                         "c." + std::string(14, 'd') + " (3)"}},
      {"short.txt", {"short.txt", "short (2).txt", "short (3).txt"}},
  };
  for (const auto& c : cases) {
    V got;
    for (size_t i = 0; i < c.want.size(); ++i) {
      got.push_back(unique_download_name(dir, c.name, {}, 20));
      touch(dir + "/" + got.back());
    }
    EXPECT_EQ(got, c.want) << c.name.substr(0, 12);
    EXPECT_EQ(fit_download_name(c.name, 20), c.want[0]);
  }
  // One byte short of a whole character is left out.
  EXPECT_EQ(fit_download_name(accented + ".txt", 21), cases[1].want[0]);
  fs::remove_all(dir);
}

TEST(DownloadNames, SearchEndsAtNineHundredNinetyNine) {
  const std::string dir = make_temp_dir();
  touch(dir + "/x.bin");
  for (int n = 2; n <= 998; ++n) touch(dir + "/x (" + std::to_string(n) + ").bin");
  EXPECT_EQ(unique_download_name(dir, "x.bin"), "x (999).bin");
  touch(dir + "/x (999).bin");
  EXPECT_EQ(unique_download_name(dir, "x.bin"), "x (999).bin");
  fs::remove_all(dir);
}

// ---- modes

TEST_F(Downloads, AutomaticSavesInTheDownloadsFolderUnderAFreeName) {
  touch(dir + "/report.pdf");
  auto d = start("report.pdf", "application/pdf", "http://127.0.0.1:8/r?x=\"1\"");
  EXPECT_EQ(d->destination, dir + "/report (2).pdf");
  EXPECT_FALSE(d->overwrite);  // an existing file is never replaced
  EXPECT_EQ(events(), V{"{\"id\":1,\"url\":\"http://127.0.0.1:8/r?x=\\\"1\\\"\",\"filename\":\"report (2).pdf\","
                        "\"path\":\"" +
                        dir + "/report (2).pdf\",\"state\":\"started\"}"});
}

TEST_F(Downloads, ANameLongerThanTheFolderTakesIsCutToItsLimitAndSoIsTheSavePanelsProposal) {
  desktop.download_name_limit = 12;
  auto d = start(std::string(5000, 'x') + ".pdf");
  EXPECT_EQ(d->destination, dir + "/xxxxxxxx.pdf");
  settings().downloads = "ask";
  start(std::string(5000, 'y') + ".pdf");
  ASSERT_NE(desktop.dialog_box.last(), nullptr);
  EXPECT_EQ(desktop.dialog_box.last()->panel_spec.name, "yyyyyyyy.pdf");
}

TEST_F(Downloads, HostileSuggestedNamesStayInsideTheFolder) {
  for (const std::string& name : V{"../../escape.txt", "/etc/cron.d/job", "..", std::string("a\0/../b", 7)}) {
    auto d = start(name);
    ASSERT_TRUE(d->answered) << name;
    EXPECT_EQ(fs::path(d->destination).parent_path().string(), dir) << name;
    EXPECT_EQ(d->destination.find(".."), std::string::npos) << name;
  }
}

TEST_F(Downloads, NamesWithoutExtensionTakeTheTypesPreferredOne) {
  const struct {
    std::string name, mime, file;
  } cases[] = {
      {"report", "application/pdf", "report.pdf"},
      {"report.bin", "application/pdf", "report.bin"},  // it has one already
      {"", "text/plain", "download.txt"},
      {"data", "", "data"},
      {"data", "application/x-unknown", "data"},
      {"data", "x/evil", "data"},  // an extension that is not a plain name is not used
  };
  for (const auto& c : cases) {
    auto d = start(c.name, c.mime);
    EXPECT_EQ(d->destination, dir + "/" + c.file) << c.name << " " << c.mime;
    d->finish();
    fs::remove(d->destination);
  }
}

TEST_F(Downloads, AnUnnumberedDuplicateWithoutExtensionGetsTheNumberAlone) {
  touch(dir + "/data");
  auto d = start("data");
  EXPECT_EQ(d->destination, dir + "/data (2)");
}

TEST_F(Downloads, TwoDownloadsOfOneNameAtOnceGetTwoNames) {
  auto a = start("same.txt");
  auto b = start("same.txt");
  EXPECT_EQ(a->destination, dir + "/same.txt");
  EXPECT_EQ(b->destination, dir + "/same (2).txt");
}

TEST_F(Downloads, WithoutAFolderNamedDownloadsGoToTheHomeDownloadsFolder) {
  desktop.downloads_folder = "";
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  setenv("HOME", dir.c_str(), 1);
  auto d = start("f.txt");
  if (old)
    setenv("HOME", saved.c_str(), 1);
  else
    unsetenv("HOME");
  EXPECT_EQ(d->destination, dir + "/Downloads/f.txt");
  EXPECT_TRUE(fs::is_directory(dir + "/Downloads"));  // made, so the download can land
}

TEST_F(Downloads, DenyRefusesYetEachRefusalTakesAnId) {
  settings().downloads = "deny";
  auto a = start("", "", "http://h/a");
  auto b = start("b.txt", "", "http://h/b");
  EXPECT_TRUE(a->answered);
  EXPECT_EQ(a->destination, "");
  EXPECT_EQ(b->destination, "");
  settings().downloads = "anything else";
  auto c = start("c.txt", "", "http://h/c");
  EXPECT_EQ(events(),
            (V{"{\"id\":1,\"url\":\"http://h/a\",\"filename\":\"download\",\"path\":null,\"state\":\"denied\"}",
               "{\"id\":2,\"url\":\"http://h/b\",\"filename\":\"b.txt\",\"path\":null,\"state\":\"denied\"}",
               "{\"id\":3,\"url\":\"http://h/c\",\"filename\":\"c.txt\",\"path\":\"" + dir +
                   "/c.txt\",\"state\":\"started\"}"}));
  // A refused download's end is its engine's business: nothing more is said.
  a->fail("cancelled");
  a->finish();
  EXPECT_EQ(events(), V{});
}

TEST_F(Downloads, AskShowsASavePanelWithTheNameAndUsesTheChosenFile) {
  settings().downloads = "ask";
  touch(dir + "/r.pdf");
  auto d = start("../r.pdf", "application/pdf", "http://h/r");
  EXPECT_FALSE(d->answered);  // the download waits for the panel
  platform::fake::FakeDialog* panel = desktop.dialog_box.last();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->panel_spec.kind, platform::FilePanelKind::kSave);
  EXPECT_EQ(panel->panel_spec.name, "r.pdf");
  EXPECT_EQ(panel->panel_spec.directory, dir);  // it opens in the downloads folder
  EXPECT_EQ(events(), V{});
  panel->chosen = {"/home/user/chosen name.pdf"};
  panel->accept();
  EXPECT_EQ(d->destination, "/home/user/chosen name.pdf");
  EXPECT_TRUE(d->overwrite);  // the user chose this file, and the panel asked first
  EXPECT_EQ(events(), V{"{\"id\":1,\"url\":\"http://h/r\",\"filename\":\"chosen name.pdf\","
                        "\"path\":\"/home/user/chosen name.pdf\",\"state\":\"started\"}"});
}

TEST_F(Downloads, AskDismissedOrWithoutAFileCancels) {
  settings().downloads = "ask";
  auto a = start("a.txt", "", "http://h/a");
  desktop.dialog_box.last()->cancel();
  auto b = start("b.txt", "", "http://h/b");
  desktop.dialog_box.last()->chosen.clear();
  desktop.dialog_box.last()->accept();
  EXPECT_TRUE(a->answered);
  EXPECT_EQ(a->destination, "");
  EXPECT_TRUE(b->answered);
  EXPECT_EQ(b->destination, "");
  EXPECT_EQ(events(),
            (V{"{\"id\":1,\"url\":\"http://h/a\",\"filename\":\"a.txt\",\"path\":null,\"state\":\"cancelled\"}",
               "{\"id\":2,\"url\":\"http://h/b\",\"filename\":\"b.txt\",\"path\":null,\"state\":\"cancelled\"}"}));
}

TEST_F(Downloads, ADownloadThatEndedWhileThePanelWasOpenStillEnds) {
  settings().downloads = "ask";
  auto d = start("late.txt", "", "http://h/l");
  d->fail("Connection reset");  // nothing to say yet: it had not started
  d->ended = true;
  desktop.dialog_box.last()->accept();
  const std::string head =
      "{\"id\":1,\"url\":\"http://h/l\",\"filename\":\"late.txt\",\"path\":\"/home/user/late.txt\"";
  EXPECT_EQ(events(), (V{head + ",\"state\":\"started\"}",
                         head + ",\"state\":\"failed\",\"error\":\"the download ended before it could start\"}"}));
  EXPECT_TRUE(g_downloads.empty());
}

TEST_F(Downloads, AskArmsTheTestAutoDialog) {
  settings().downloads = "ask";
  setenv("QUIBEX_TEST_AUTODLG", "ok", 1);
  auto d = start("auto.txt");
  desktop.clock.advance(250);
  unsetenv("QUIBEX_TEST_AUTODLG");
  EXPECT_TRUE(d->answered);
  EXPECT_EQ(d->destination, "/home/user/auto.txt");
}

// ---- events in order

TEST_F(Downloads, ProgressIsThrottledToOneEvery250Milliseconds) {
  auto d = start("p.bin");
  const std::string head =
      "{\"id\":1,\"url\":\"http://127.0.0.1/f\",\"filename\":\"p.bin\",\"path\":\"" + dir + "/p.bin\"";
  const struct {
    double after_ms;
    std::int64_t bytes, total;
    bool reported;
  } steps[] = {
      {0, 10, 100, true},                         // the first always passes
      {100, 20, 100, false},                      // 100 ms later: dropped, and never sent later
      {149, 30, 100, false}, {1, 40, 100, true},  // 250 ms after the last one reported
      {249, 50, 0, false},   {1, 60, 0, true},    // size not announced
      {1000, 70, -5, true},
  };
  V want{head + ",\"state\":\"started\"}"};
  for (const auto& s : steps) {
    desktop.clock.advance(s.after_ms);
    d->progress(s.bytes, s.total);
    if (s.reported)
      want.push_back(head + ",\"state\":\"progress\",\"bytes\":" + std::to_string(s.bytes) +
                     ",\"total\":" + std::to_string(s.total > 0 ? s.total : -1) + "}");
  }
  d->finish();
  want.push_back(head + ",\"state\":\"done\"}");
  EXPECT_EQ(events(), want);
}

TEST_F(Downloads, EachDownloadHasItsOwnThrottle) {
  auto a = start("a.bin");
  auto b = start("b.bin");
  a->progress(1, 2);
  b->progress(1, 2);
  const V e = events();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_NE(e[2].find("\"id\":1,"), std::string::npos);
  EXPECT_NE(e[3].find("\"id\":2,"), std::string::npos);
}

TEST_F(Downloads, AFailedDownloadEndsFailedNeverDone) {
  const struct {
    std::string error;
    std::string tail;
  } cases[] = {
      {"Connection terminated unexpectedly", ",\"state\":\"failed\",\"error\":\"Connection terminated unexpectedly\"}"},
      {"", ",\"state\":\"failed\"}"},
      {"bad \"quote\"\n", ",\"state\":\"failed\",\"error\":\"bad \\\"quote\\\"\\n\"}"},
  };
  for (const auto& c : cases) {
    auto d = start("f.bin");
    const std::string head = "{\"id\":" + std::to_string(g_download_seq) +
                             ",\"url\":\"http://127.0.0.1/f\","
                             "\"filename\":\"f.bin\",\"path\":\"" +
                             dir + "/f.bin\"";
    d->fail(c.error);
    d->finish();  // the engine's end after a failure
    d->progress(5, 5);
    EXPECT_EQ(events(), (V{head + ",\"state\":\"started\"}", head + c.tail}));
    EXPECT_TRUE(g_downloads.empty());
  }
}

TEST_F(Downloads, NothingFollowsTheEnd) {
  auto d = start("once.bin");
  d->finish();
  d->finish();
  d->fail("late");
  d->progress(1, 1);
  const V e = events();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_NE(e[1].find("\"state\":\"done\""), std::string::npos);
  // Its name is free again for the next download once it ended.
  auto next = start("once.bin");
  EXPECT_EQ(next->destination, dir + "/once.bin");
}

// ---- drops

TEST_F(Downloads, DropsReachTheBackendOnceTheHookIsInPlace) {
  FakeWebView before;
  apply_drop_hook(&before);  // windowless: no hook
  EXPECT_FALSE(before.drop_handler);
  install_drop_hook();
  FakeWebView after;
  apply_drop_hook(&after);
  after.drop_files({"/tmp/a b.txt", "/tmp/\"q\".png"});
  after.drop_files({});
  after.drop_files({"/tmp/ok", std::string("/tmp/bad\xff")});  // a path JSON cannot carry is left out
  after.drop_files({std::string("/tmp/only\xfe")});
  EXPECT_EQ(wire.lines(), (V{"DROP [\"/tmp/a b.txt\",\"/tmp/\\\"q\\\".png\"]", "DROP [\"/tmp/ok\"]"}));
}

}  // namespace
