// DLG's panels and alerts, pages' dialogs and file inputs, and the test
// auto-dialog, against the fake desktop's dialogs.

#include <cstdlib>
#include <functional>

#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/settings.h"
#include "core/window_observers.h"
#include "platform/webview_lib.h"
#include "tests/unit/core/test_support.h"
#include "webui/auto_dialog.h"
#include "webui/context_menu.h"
#include "webui/dialogs.h"

namespace {

using platform::AlertSpec;
using platform::FilePanelKind;
using platform::PageDialog;
using platform::PageDialogKind;
using platform::fake::FakeDialog;
using platform::fake::FakeWebView;
using Button = platform::ModalDialog::Button;
using V = std::vector<std::string>;

class Dialogs : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    unsetenv("QUIBEX_TEST_AUTODLG");
    quib_bridge_reset_for_tests();
    context_menu_reset_for_tests();
    saved_name_ = settings().app_name;
    settings().app_name = "Appy";
    g_w.store(webview_create(false, {}));
    main_view = static_cast<FakeWebView*>(webview_view(g_w.load()));
    attach_quib_bridge(main_view, "main");
    quib_apply_web_delegates(main_view);
  }
  void TearDown() override {
    unsetenv("QUIBEX_TEST_AUTODLG");
    for (auto& [id, qw] : g_windows) detach_quib_bridge(qw.webview.get());
    g_windows.clear();
    detach_quib_bridge(main_view);
    webview_destroy(g_w.exchange(nullptr));
    context_menu_reset_for_tests();
    settings().app_name = saved_name_;
    FakeDesktopTest::TearDown();
  }
  void command(const std::string& line) {
    CommandReader reader;
    reader.handle_line(line);
    desktop.queue.drain();
  }
  // The dialog the last command opened.
  FakeDialog& opened() {
    FakeDialog* d = desktop.dialog_box.last();
    if (!d) throw std::runtime_error("no dialog opened");
    return *d;
  }
  FakeWebView* add_window(const std::string& id) {
    auto v = std::make_unique<FakeWebView>();
    FakeWebView* raw = v.get();
    g_windows[id].webview = std::move(v);
    g_windows[id].window = desktop.make_window({});
    attach_quib_bridge(raw, id);
    quib_apply_web_delegates(raw);
    return raw;
  }
  platform::NativeWindow* win(const std::string& id) { return window_for_id(g_w.load(), id); }
  void advance(double ms) { desktop.clock.advance(ms); }

  WireCapture wire;
  FakeWebView* main_view = nullptr;

 private:
  std::string saved_name_;
};

// What a person does with a panel.
using PanelAction = std::function<void(FakeDialog&)>;
const PanelAction kCancel = [](FakeDialog& d) { d.cancel(); };
const PanelAction kOkAsProposed = [](FakeDialog& d) { d.accept(); };
PanelAction choose(V paths) {
  return [paths](FakeDialog& d) {
    d.chosen = paths;
    d.accept();
  };
}

TEST_F(Dialogs, PanelsAnswerThePathsChosenOrNull) {
  struct Case {
    std::string line;
    FilePanelKind kind;
    V extensions;
    std::string name;
    PanelAction act;
    std::string got;
  } cases[] = {
      {"DLG q1 save", FilePanelKind::kSave, {}, "", kOkAsProposed, "GOT 1 \"/home/user/Untitled\""},
      {"DLG q2 save\ttxt,md\treport.txt", FilePanelKind::kSave, {"txt", "md"}, "report.txt", kOkAsProposed,
       "GOT 2 \"/home/user/report.txt\""},
      {"DLG q3 save\ttxt\treport.txt", FilePanelKind::kSave, {"txt"}, "report.txt", kCancel, "GOT 3 null"},
      {"DLG q4 open\tpng,jpg,,txt", FilePanelKind::kOpen, {"png", "jpg", "txt"}, "", choose({"/p/a \"b\".png"}),
       "GOT 4 \"/p/a \\\"b\\\".png\""},
      {"DLG q5 open", FilePanelKind::kOpen, {}, "", kCancel, "GOT 5 null"},
      {"DLG q6 openmulti\tpng", FilePanelKind::kOpenMultiple, {"png"}, "", choose({"/a.png", "/b\n.png"}),
       "GOT 6 [\"/a.png\",\"/b\\n.png\"]"},
      {"DLG q7 openmulti", FilePanelKind::kOpenMultiple, {}, "", choose({"/only"}), "GOT 7 [\"/only\"]"},
      // Cancelled, or OK with nothing chosen: null, never an empty array.
      {"DLG q8 openmulti", FilePanelKind::kOpenMultiple, {}, "", kCancel, "GOT 8 null"},
      {"DLG q9 openmulti", FilePanelKind::kOpenMultiple, {}, "", choose({}), "GOT 9 null"},
      // A folder panel offers no file types.
      {"DLG q10 dir\tpng", FilePanelKind::kDirectory, {}, "", kOkAsProposed, "GOT 10 \"/home/user\""},
      {"DLG q11 dir", FilePanelKind::kDirectory, {}, "", kCancel, "GOT 11 null"},
      // Any other kind is an open panel.
      {"DLG q12 frobnicate\ttxt", FilePanelKind::kOpen, {"txt"}, "", choose({"/x.txt"}), "GOT 12 \"/x.txt\""},
      {"DLG q13 ", FilePanelKind::kOpen, {}, "", choose({"/y"}), "GOT 13 \"/y\""},
      // A path that is not UTF-8 cannot be named in JSON: it is left out.
      {"DLG q14 open", FilePanelKind::kOpen, {}, "", choose({"/bad\xff.txt"}), "GOT 14 null"},
      {"DLG q15 openmulti", FilePanelKind::kOpenMultiple, {}, "", choose({"/bad\xff", "/good"}),
       "GOT 15 [\"/good\"]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    command(c.line);
    FakeDialog& d = opened();
    ASSERT_TRUE(d.panel);
    EXPECT_EQ(d.panel_spec.kind, c.kind);
    EXPECT_EQ(d.panel_spec.extensions, c.extensions);
    EXPECT_EQ(d.panel_spec.name, c.name);
    EXPECT_TRUE(wire.lines().empty()) << "answered before the panel closed";
    c.act(d);
    EXPECT_EQ(wire.lines(), V{c.got});
    EXPECT_EQ(d.answers, 1);
  }
}

TEST_F(Dialogs, AlertsConfirmsAndPromptsAnswerAsDefined) {
  using Act = std::function<void(FakeDialog&)>;
  auto click = [](size_t i, std::string field = "") -> Act {
    return [i, field](FakeDialog& d) {
      if (!field.empty()) d.field = field;
      d.click(i);
    };
  };
  Act dismiss = [](FakeDialog& d) { d.dismiss(); };
  struct Case {
    std::string line;
    std::string message, informative;
    V buttons;
    int cancel_button;
    bool field;
    std::string field_text;
    Act act;
    std::string got;
  } cases[] = {
      // An empty message is the application's name; an alert is true however it closes.
      {"DLG q1 alert", "Appy", "", {"OK"}, -1, false, "", click(0), "GOT 1 true"},
      {"DLG q2 alert\tHi\tMore words\tFine", "Hi", "More words", {"Fine"}, -1, false, "", dismiss, "GOT 2 true"},
      {"DLG q3 confirm\tSure?", "Sure?", "", {"OK", "Cancel"}, 1, false, "", click(0), "GOT 3 true"},
      {"DLG q4 confirm\tSure?\tReally\tYes\tNo", "Sure?", "Really", {"Yes", "No"}, 1, false, "", click(1),
       "GOT 4 false"},
      {"DLG q5 confirm\t\t\t\tKeep", "Appy", "", {"OK", "Keep"}, 1, false, "", dismiss, "GOT 5 false"},
      // A prompt's first button answers the field's text, even when it is empty.
      {"DLG q6 prompt\tName?\t\tRename", "Name?", "", {"Rename", "Cancel"}, 1, true, "", click(0), "GOT 6 \"\""},
      {"DLG q7 prompt\tName?\tdraft", "Name?", "", {"OK", "Cancel"}, 1, true, "draft", click(0),
       "GOT 7 \"draft\""},
      {"DLG q8 prompt\tName?\tdraft", "Name?", "", {"OK", "Cancel"}, 1, true, "draft", click(0, "a \"q\"\n\\"),
       "GOT 8 \"a \\\"q\\\"\\n\\\\\""},
      {"DLG q9 prompt\tName?\tdraft", "Name?", "", {"OK", "Cancel"}, 1, true, "draft", click(1), "GOT 9 null"},
      {"DLG q10 prompt", "Appy", "", {"OK", "Cancel"}, 1, true, "", dismiss, "GOT 10 null"},
      // Text that is not UTF-8 shows with U+FFFD; the desktop would refuse it.
      {"DLG q11 alert\tbad\xff", "bad\xef\xbf\xbd", "", {"OK"}, -1, false, "", click(0), "GOT 11 true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    command(c.line);
    FakeDialog& d = opened();
    ASSERT_FALSE(d.panel);
    EXPECT_EQ(d.alert.title, "Appy");
    EXPECT_EQ(d.alert.message, c.message);
    EXPECT_EQ(d.alert.informative, c.informative);
    EXPECT_EQ(d.alert.buttons, c.buttons);
    EXPECT_EQ(d.alert.cancel_button, c.cancel_button);
    EXPECT_EQ(d.alert.has_field, c.field);
    EXPECT_EQ(d.alert.field_text, c.field_text);
    EXPECT_TRUE(d.alert.selectable);
    EXPECT_TRUE(wire.lines().empty());
    c.act(d);
    EXPECT_EQ(wire.lines(), V{c.got});
    d.click(0);  // a second answer goes nowhere
    EXPECT_TRUE(wire.lines().empty());
  }
}

TEST_F(Dialogs, TheTypeFilterKeepsEveryNonEmptyPieceAsGiven) {
  struct Case {
    std::string text;
    V extensions;
  } cases[] = {
      {"", {}},
      {"png", {"png"}},
      {"png,jpg,,txt", {"png", "jpg", "txt"}},
      {",,", {}},
      {",png,", {"png"}},
      {"png, jpg", {"png", " jpg"}},    // no trimming
      {".png,PNG", {".png", "PNG"}},    // no dot removed, case kept
      {"tar.gz,a/b", {"tar.gz"}},       // no file name ends in "a/b"
      {std::string("x\0y,z", 5), {"z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    platform::FilePanelSpec spec;
    spec.extensions = {"stale"};
    apply_type_filter(spec, c.text);
    EXPECT_EQ(spec.extensions, c.extensions);
  }
}

TEST_F(Dialogs, APageCallsDialogAnswersIntoThePageAndClosesWithItsWindow) {
  main_view->post_message("quib", {"1:{\"method\":\"dialog.confirm\"}", "file://", true, "d1"});
  FakeWebView* w2 = add_window("w2");
  w2->post_message("quib", {"1:{\"method\":\"dialog.prompt\"}", "file://", true, "d1"});
  wire.lines();

  command("DLG main:1 confirm\tSure?");
  FakeDialog& confirm = opened();
  EXPECT_EQ(confirm.place.window, win("main"));
  EXPECT_TRUE(confirm.place.close_with_window);
  confirm.click(0);
  ASSERT_EQ(main_view->answers->size(), 1u);
  EXPECT_TRUE(main_view->answers->at(0).ok);
  EXPECT_EQ(main_view->answers->at(0).json, "true");

  // Its window closes first: the dialog goes with it, answered once, to no one.
  command("DLG w2:1 prompt\tName?");
  FakeDialog& prompt = opened();
  platform::NativeWindow* w2_window = win("w2");
  EXPECT_EQ(prompt.place.window, w2_window);
  auto w2_answers = w2->answers;
  detach_quib_bridge(w2);
  g_windows.erase("w2");
  desktop.dialog_box.window_closed(w2_window);
  EXPECT_FALSE(prompt.open);
  EXPECT_EQ(prompt.answers, 1);
  prompt.click(0);
  EXPECT_EQ(prompt.answers, 1);
  EXPECT_TRUE(w2_answers->empty());
  EXPECT_TRUE(wire.lines().empty());
}

TEST_F(Dialogs, ABackendsDialogShowsOverTheKeyWindowAndOutlivesIt) {
  add_window("w2");
  struct Case {
    std::string id;
    std::string key;  // the key window, "" = none
    std::string over;
    bool closes_with_it;
  } cases[] = {
      {"q1", "", "main", false},
      {"q1", "w2", "w2", false},
      {"q1", "main", "main", false},
      {"w2:3", "main", "w2", true},
      {"main:4", "w2", "main", true},
      {"gone:3", "w2", "w2", false},  // no such window: like a backend's own
      {"w2:s5", "", "w2", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id + " key " + c.key);
    win("main")->hide();
    win("w2")->hide();
    if (!c.key.empty()) win(c.key)->show();
    platform::DialogPlace p = dialog_place_for_call(g_w.load(), c.id);
    EXPECT_EQ(p.window, win(c.over));
    EXPECT_EQ(p.page, nullptr);
    EXPECT_EQ(p.close_with_window, c.closes_with_it);
  }

  // The window it showed over goes: the backend still gets its answer.
  win("w2")->show();
  command("DLG q7 confirm\tSure?");
  FakeDialog& d = opened();
  desktop.dialog_box.window_closed(win("w2"));
  g_windows.erase("w2");
  EXPECT_TRUE(d.open);
  d.click(0);
  EXPECT_EQ(wire.lines(), V{"GOT 7 true"});
}

TEST_F(Dialogs, PageDialogsAreTitledByTheirOriginAndAnswerThePage) {
  struct Case {
    PageDialog dialog;
    std::string title;
    V buttons;
    std::function<void(FakeDialog&)> act;
    bool ok;
    std::string text;
    bool null_text;
  } cases[] = {
      {{PageDialogKind::kAlert, "Hello", "", "example.com"}, "example.com", {"OK"},
       [](FakeDialog& d) { d.click(0); }, true, "", false},
      {{PageDialogKind::kAlert, "", "", ""}, "Appy", {"OK"}, [](FakeDialog& d) { d.dismiss(); }, false, "", true},
      {{PageDialogKind::kConfirm, "Sure?", "", "127.0.0.1"}, "127.0.0.1", {"OK", "Cancel"},
       [](FakeDialog& d) { d.click(0); }, true, "", false},
      {{PageDialogKind::kConfirm, "Sure?", "", ""}, "Appy", {"OK", "Cancel"}, [](FakeDialog& d) { d.click(1); },
       false, "", true},
      {{PageDialogKind::kConfirm, "Sure?", "", ""}, "Appy", {"OK", "Cancel"}, [](FakeDialog& d) { d.dismiss(); },
       false, "", true},
      // A file page's origin has no host: the application's name.
      {{PageDialogKind::kPrompt, "Name?", "draft", ""}, "Appy", {"OK", "Cancel"},
       [](FakeDialog& d) {
         d.field = "mine";
         d.click(0);
       },
       true, "mine", false},
      {{PageDialogKind::kPrompt, "Name?", "", "a.example"}, "a.example", {"OK", "Cancel"},
       [](FakeDialog& d) { d.click(0); }, true, "", false},
      {{PageDialogKind::kPrompt, "Name?", "draft", ""}, "Appy", {"OK", "Cancel"},
       [](FakeDialog& d) { d.click(1); }, false, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog.message + " / " + c.title);
    auto result = main_view->page_dialog(c.dialog);
    FakeDialog& d = opened();
    EXPECT_EQ(d.alert.message, c.title);
    EXPECT_EQ(d.alert.title, c.title);
    EXPECT_EQ(d.alert.informative, c.dialog.message);
    EXPECT_EQ(d.alert.buttons, c.buttons);
    EXPECT_EQ(d.alert.has_field, c.dialog.kind == PageDialogKind::kPrompt);
    EXPECT_EQ(d.alert.field_text, c.dialog.default_text);
    EXPECT_EQ(d.place.page, main_view);
    EXPECT_TRUE(d.place.close_with_window);
    EXPECT_EQ(result->answers, 0);
    c.act(d);
    EXPECT_EQ(result->answers, 1);
    if (c.dialog.kind != PageDialogKind::kAlert) {
      EXPECT_EQ(result->ok, c.ok);
    }
    if (c.dialog.kind == PageDialogKind::kPrompt) {
      EXPECT_EQ(result->null_text, c.null_text);
      EXPECT_EQ(result->text, c.text);
    }
    EXPECT_FALSE(result->dropped);
  }
}

TEST_F(Dialogs, PageTextCannotBeSelectedWhileTheContextMenuIsSuppressed) {
  for (const bool suppress : {false, true}) {
    SCOPED_TRACE(suppress);
    command(std::string("CTXSUPPRESS ") + (suppress ? "1" : "0"));
    main_view->page_dialog({PageDialogKind::kAlert, "x", "", ""});
    EXPECT_EQ(opened().alert.selectable, !suppress);
    opened().click(0);
    command("DLG q1 prompt\tx");
    EXPECT_EQ(opened().alert.selectable, !suppress);
    opened().click(1);
  }
}

TEST_F(Dialogs, FileInputsChooseOneOrSeveralFiles) {
  struct Case {
    bool multiple;
    std::function<void(FakeDialog&)> act;
    V files;
  } cases[] = {
      {false, [](FakeDialog& d) { d.chosen = {"/a.txt"}; d.accept(); }, {"/a.txt"}},
      {true, [](FakeDialog& d) { d.chosen = {"/a", "/b"}; d.accept(); }, {"/a", "/b"}},
      {true, [](FakeDialog& d) { d.chosen = {"/a"}; d.cancel(); }, {}},
      {true, [](FakeDialog& d) { d.chosen = {"/bad\xfe", "/b"}; d.accept(); }, {"/b"}},
      {false, [](FakeDialog& d) { d.dismiss(); }, {}},
  };
  for (const Case& c : cases) {
    auto result = main_view->click_file_input(c.multiple);
    FakeDialog& d = opened();
    ASSERT_TRUE(d.panel);
    EXPECT_EQ(d.panel_spec.kind, c.multiple ? FilePanelKind::kOpenMultiple : FilePanelKind::kOpen);
    EXPECT_TRUE(d.panel_spec.extensions.empty());
    EXPECT_EQ(d.place.page, main_view);
    EXPECT_TRUE(d.place.close_with_window);
    c.act(d);
    EXPECT_EQ(result->answers, 1);
    EXPECT_EQ(result->files, c.files);
  }
}

TEST_F(Dialogs, EveryWebViewGetsThePageDialogsWithOrWithoutAMainWindow) {
  // A window the backend opens.
  command("WINOPEN w3\thttps://example.com/\tThird");
  auto* w3 = static_cast<FakeWebView*>(webview_for_id(g_w.load(), "w3"));
  ASSERT_NE(w3, nullptr);
  EXPECT_TRUE(w3->page_dialogs);
  EXPECT_TRUE(w3->file_chooser);
  // Windowless: no main window at all.
  void* main = g_w.exchange(nullptr);
  FakeWebView lone;
  quib_apply_web_delegates(&lone);
  g_w.store(main);
  ASSERT_TRUE(lone.page_dialogs);
  lone.page_dialog({PageDialogKind::kAlert, "x", "", ""});
  EXPECT_EQ(opened().place.page, &lone);
  opened().click(0);
}

// ---------------------------------------------------------------- the test auto-dialog

TEST_F(Dialogs, TheAutoDialogPicksTheButtonByItsKey) {
  struct Case {
    std::vector<Button> buttons;
    std::optional<size_t> accept, cancel;
  } cases[] = {
      {{{"OK", "\r"}, {"Cancel", "\x1b"}}, 0, 1},
      {{{"Cancel", "\x1b"}, {"OK", "\r"}}, 1, 0},
      {{{"OK", "\r"}}, 0, 0},  // nothing answers Escape: the default button
      {{{"A", ""}, {"B", ""}}, 0, 0},
      {{{"A", ""}, {"B", "\r"}, {"C", "\x1b"}}, 1, 2},
      {{}, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(quib_autodlg_button(c.buttons, false), c.accept);
    EXPECT_EQ(quib_autodlg_button(c.buttons, true), c.cancel);
  }
}

TEST_F(Dialogs, TheAutoDialogAnswersPageDialogsAndSavePanels) {
  struct Case {
    std::string env;
    std::function<std::string()> open;  // opens the dialog; what the answer looks like, read after
  };
  std::shared_ptr<FakeWebView::PageAnswer> page;
  auto page_answer = [&] {
    return page->answers == 1 ? (page->ok ? "ok:" + page->text : std::string(page->null_text ? "no:null" : "no"))
                              : "unanswered";
  };
  Case cases[] = {
      {"ok", [&] { page = main_view->page_dialog({PageDialogKind::kAlert, "m", "", ""}); return "ok:"; }},
      {"ok", [&] { page = main_view->page_dialog({PageDialogKind::kConfirm, "m", "", ""}); return "ok:"; }},
      {"yes please", [&] { page = main_view->page_dialog({PageDialogKind::kPrompt, "m", "d", ""}); return "ok:d"; }},
      {"cancel", [&] { page = main_view->page_dialog({PageDialogKind::kConfirm, "m", "", ""}); return "no:null"; }},
      {"cancel", [&] { page = main_view->page_dialog({PageDialogKind::kPrompt, "m", "d", ""}); return "no:null"; }},
      {"ok", [&] { page = nullptr; command("DLG q1 save\ttxt\tout.txt"); return "GOT 1 \"/home/user/out.txt\""; }},
      {"cancel", [&] { page = nullptr; command("DLG q2 save\ttxt\tout.txt"); return "GOT 2 null"; }},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.env);
    setenv("QUIBEX_TEST_AUTODLG", c.env.c_str(), 1);
    const std::string want = c.open();
    FakeDialog& d = opened();
    advance(199);
    EXPECT_TRUE(d.open) << "answered early";
    advance(1);
    EXPECT_FALSE(d.open);
    EXPECT_EQ(page ? page_answer() : wire.lines().at(0), want);
    EXPECT_EQ(desktop.clock.pending(), 0u) << "the poll goes on after answering";
  }
}

TEST_F(Dialogs, TheBackendsOpenPanelsAndAlertsAreNotArmed) {
  setenv("QUIBEX_TEST_AUTODLG", "ok", 1);
  for (const char* line : {"DLG q1 alert\tx", "DLG q2 confirm\tx", "DLG q3 prompt\tx", "DLG q4 open", "DLG q5 dir",
                           "DLG q6 openmulti"}) {
    SCOPED_TRACE(line);
    command(line);
    EXPECT_EQ(desktop.clock.pending(), 0u);
    advance(10000);
    EXPECT_TRUE(opened().open);
  }
  // A page's file input is not armed either.
  main_view->click_file_input(false);
  EXPECT_EQ(desktop.clock.pending(), 0u);
  // Unset or empty: nothing is armed.
  unsetenv("QUIBEX_TEST_AUTODLG");
  main_view->page_dialog({PageDialogKind::kAlert, "m", "", ""});
  setenv("QUIBEX_TEST_AUTODLG", "", 1);
  command("DLG q7 save");
  EXPECT_EQ(desktop.clock.pending(), 0u);
  EXPECT_TRUE(wire.lines().empty());
}

TEST_F(Dialogs, APollLooksThirtyOneTimesForTheDialogInFront) {
  setenv("QUIBEX_TEST_AUTODLG", "ok", 1);
  // Armed with nothing open yet: its last look is 6.2 s later.
  quib_test_autodlg_arm();
  advance(6000);
  command("DLG q1 confirm\tLate");  // not armed by itself
  advance(199);
  EXPECT_TRUE(opened().open);
  advance(1);
  EXPECT_EQ(wire.lines(), V{"GOT 1 true"});
  EXPECT_EQ(desktop.clock.pending(), 0u);

  quib_test_autodlg_arm();
  advance(6200);
  EXPECT_EQ(desktop.clock.pending(), 0u);
  command("DLG q2 confirm\tToo late");
  advance(1000);
  EXPECT_TRUE(opened().open);
  opened().click(1);
  EXPECT_EQ(wire.lines(), V{"GOT 2 false"});
}

TEST_F(Dialogs, APollAnswersTheDialogInFrontAndStops) {
  setenv("QUIBEX_TEST_AUTODLG", "ok", 1);
  command("DLG q1 alert\tBehind");
  FakeDialog& behind = opened();
  main_view->page_dialog({PageDialogKind::kAlert, "Front", "", ""});
  FakeDialog& front = opened();
  advance(200);
  EXPECT_FALSE(front.open);
  EXPECT_TRUE(behind.open);
  advance(10000);
  EXPECT_TRUE(behind.open);
  // Two polls, two dialogs: each takes the one in front when it looks.
  auto a = main_view->page_dialog({PageDialogKind::kAlert, "A", "", ""});
  auto b = main_view->page_dialog({PageDialogKind::kAlert, "B", "", ""});
  advance(200);
  EXPECT_EQ(a->answers + b->answers, 2);
  EXPECT_TRUE(behind.open);
  EXPECT_EQ(desktop.dialog_box.open_count(), 1u);
  EXPECT_TRUE(wire.lines().empty());
}

TEST_F(Dialogs, AnAcceptedOpenPanelTakesWhatIsChosenOrNothing) {
  setenv("QUIBEX_TEST_AUTODLG", "ok", 1);
  // Return is taken when something is chosen; else OK all the same.
  quib_test_autodlg_arm();
  command("DLG q1 open");
  opened().chosen = {"/picked"};
  advance(200);
  quib_test_autodlg_arm();
  command("DLG q2 open");
  advance(200);
  setenv("QUIBEX_TEST_AUTODLG", "cancel", 1);
  quib_test_autodlg_arm();
  command("DLG q3 open");
  opened().chosen = {"/picked"};
  advance(200);
  EXPECT_EQ(wire.lines(), (V{"GOT 1 \"/picked\"", "GOT 2 null", "GOT 3 null"}));
}

TEST_F(Dialogs, ASavePanelOtherPartsRunAnswersOnceAndIsArmed) {
  setenv("QUIBEX_TEST_AUTODLG", "ok", 1);
  std::vector<std::string> got;
  int calls = 0;
  run_save_panel("pdf", "doc.pdf", {}, [&](const std::string* path) {
    ++calls;
    got.push_back(path ? *path : "<none>");
  });
  EXPECT_EQ(opened().panel_spec.extensions, V{"pdf"});
  advance(200);
  unsetenv("QUIBEX_TEST_AUTODLG");
  run_save_panel("", "", {}, [&](const std::string* path) {
    ++calls;
    got.push_back(path ? *path : "<none>");
  });
  opened().cancel();
  opened().accept();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(got, (V{"/home/user/doc.pdf", "<none>"}));
}

}  // namespace
