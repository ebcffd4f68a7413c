// The GTK dialogs on a private X server (Xvfb, started here): extension filters
// as GTK matches them, the buttons and keys the auto-dialog sees, answers given
// once, dialogs that go with their window, and what WebKit's page dialogs carry.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/gtk_dialogs.h"
#include "platform/gtk/gtk_platform.h"
#include "private_display.h"

namespace {

using platform::AlertSpec;
using platform::DialogPlace;
using platform::FilePanelKind;
using platform::FilePanelSpec;
using platform::ModalDialog;
using Button = platform::ModalDialog::Button;

class GtkDialogsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    display_ = new PrivateDisplay;
    if (!display_->start()) return;
    desktop_ = new platform::gtk::GtkPlatform;
    ready_ = desktop_->init_display();
  }
  static void TearDownTestSuite() {
    delete display_;
    display_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "no private X server (Xvfb)";
  }
  void TearDown() override {
    // Nothing is left open for the next test.
    for (int i = 0; i < 20; ++i) {
      ModalDialog* d = dialogs().modal_dialog();
      if (!d) break;
      d->is_file_panel() ? d->cancel() : d->click(0);
    }
    settle();
  }
  static platform::Dialogs& dialogs() { return desktop_->dialogs(); }
  // Runs what is ready now; bounded, as an animation may always have more.
  static void settle() {
    for (int i = 0; i < 10000 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
  }
  // Runs the main loop until done() holds, for at most ms.
  static bool spin_until(const std::function<bool()>& done, int ms = 20000) {
    const gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
    const guint tick = g_timeout_add(20, +[](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return done();
  }
  // An alert whose answer lands in response/field; count says how often it answered.
  struct Answer {
    int count = 0;
    long response = 0;
    std::string field;
  };
  static std::shared_ptr<Answer> alert(const AlertSpec& spec, const DialogPlace& place = {}) {
    auto a = std::make_shared<Answer>();
    dialogs().run_alert(spec, place, [a](long r, const std::string& f) {
      ++a->count;
      a->response = r;
      a->field = f;
    });
    settle();
    return a;
  }
  static GtkWidget* front_widget() {
    for (GList* l = gtk_window_list_toplevels(), *i = l; i; i = i->next)
      if (GTK_IS_DIALOG(i->data) && gtk_widget_get_visible(GTK_WIDGET(i->data))) {
        GtkWidget* w = GTK_WIDGET(i->data);
        g_list_free(l);
        return w;
      }
    return nullptr;
  }

  static inline PrivateDisplay* display_ = nullptr;
  static inline platform::gtk::GtkPlatform* desktop_ = nullptr;
  static inline bool ready_ = false;
};

TEST_F(GtkDialogsTest, AnExtensionMatchesEveryCaseOfItAndNothingElse) {
  struct Case {
    std::string extension;
    std::vector<std::string> match, miss;
  } cases[] = {
      {"png", {"a.png", "A.PNG", "b.Png", ".x.pNg"}, {"a.pngx", "apng", "a.png.txt", "a.jpg"}},
      {"tar.gz", {"x.tar.gz", "X.TAR.GZ"}, {"x.targz", "x.gz"}},
      {"c++", {"m.c++", "M.C++"}, {"m.c"}},
      {"[x]*?", {"f.[x]*?", "f.[X]*?"}, {"f.x", "f.[x]ab", "f.[x]*a"}},
      {"\\b", {"f.\\b", "f.\\B"}, {"f.b"}},
      {"\xc3\xa4", {"f.\xc3\xa4", "f.\xc3\x84"}, {"f.a"}},  // ä and Ä
      {" jpg", {"f. jpg", "f. JPG"}, {"f.jpg"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension);
    GtkFileFilter* filter = gtk_file_filter_new();
    g_object_ref_sink(filter);
    gtk_file_filter_add_pattern(filter, platform::gtk::extension_pattern(c.extension).c_str());
    auto matches = [&](const std::string& name) {
      GtkFileFilterInfo info{};
      info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
      info.display_name = name.c_str();
      return gtk_file_filter_filter(filter, &info);
    };
    for (const std::string& n : c.match) EXPECT_TRUE(matches(n)) << n;
    for (const std::string& n : c.miss) EXPECT_FALSE(matches(n)) << n;
    g_object_unref(filter);
  }
}

TEST_F(GtkDialogsTest, AnAlertShowsItsButtonsWithTheirKeysAndAnswersOnce) {
  AlertSpec spec;
  spec.title = "Appy";
  spec.message = "Delete it?";
  spec.informative = "There is no undo.";
  spec.buttons = {"De_lete", "Keep"};
  spec.cancel_button = 1;
  auto a = alert(spec);
  ModalDialog* d = dialogs().modal_dialog();
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->is_file_panel());
  // Laid out with the default on the right; Return is its key, Escape the other's.
  EXPECT_EQ(d->buttons(), (std::vector<Button>{{"Keep", "\x1b"}, {"De_lete", "\r"}}));
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(front_widget())), "Appy");
  d->click(1);
  settle();
  EXPECT_EQ(a->count, 1);
  EXPECT_EQ(a->response, platform::kAlertFirstButtonReturn);
  EXPECT_EQ(dialogs().modal_dialog(), nullptr);
  EXPECT_EQ(front_widget(), nullptr);

  // Escape stands for the cancel button; an alert without one answers -1.
  for (const int cancel : {1, -1}) {
    spec.cancel_button = cancel;
    spec.buttons.resize(cancel < 0 ? 1 : 2);
    auto b = alert(spec);
    gtk_dialog_response(GTK_DIALOG(front_widget()), GTK_RESPONSE_DELETE_EVENT);
    settle();
    EXPECT_EQ(b->count, 1);
    EXPECT_EQ(b->response, cancel < 0 ? -1 : platform::kAlertFirstButtonReturn + 1);
  }
}

TEST_F(GtkDialogsTest, APromptsFieldHasTheKeyboardAndItsTextIsTheAnswer) {
  AlertSpec spec;
  spec.message = "Name?";
  spec.buttons = {"OK", "Cancel"};
  spec.cancel_button = 1;
  spec.has_field = true;
  spec.field_text = "draft";
  auto a = alert(spec);
  GtkWidget* w = front_widget();
  ASSERT_NE(w, nullptr);
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w));
  ASSERT_TRUE(focus && GTK_IS_ENTRY(focus));
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(focus)), "draft");
  gtk_entry_set_text(GTK_ENTRY(focus), "typed");
  g_signal_emit_by_name(focus, "activate");  // Return in the field: the default button
  // GTK shows the button pressed for a moment before it counts as clicked.
  spin_until([&] { return a->count > 0; }, 5000);
  settle();
  EXPECT_EQ(a->count, 1);
  EXPECT_EQ(a->response, platform::kAlertFirstButtonReturn);
  EXPECT_EQ(a->field, "typed");
}

TEST_F(GtkDialogsTest, MessageTextIsSelectableOnlyWhenAskedTo) {
  for (const bool selectable : {true, false}) {
    AlertSpec spec;
    spec.message = "Message";
    spec.informative = "Informative";
    spec.buttons = {"OK"};
    spec.selectable = selectable;
    alert(spec);
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(front_widget()));
    int labels = 0;
    GList* children = gtk_container_get_children(GTK_CONTAINER(area));
    for (GList* c = children; c; c = c->next)
      if (GTK_IS_LABEL(c->data) && gtk_widget_get_visible(GTK_WIDGET(c->data))) {
        ++labels;
        EXPECT_EQ(bool(gtk_label_get_selectable(GTK_LABEL(c->data))), selectable);
      }
    g_list_free(children);
    EXPECT_EQ(labels, 2);
    dialogs().modal_dialog()->click(0);
    settle();
  }
}

TEST_F(GtkDialogsTest, ASavePanelAcceptedAsItStandsSavesUnderItsProposedName) {
  char dir[] = "/tmp/qbx-gtk-dlg-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  for (const std::string name : {"report.txt", ""}) {
    FilePanelSpec spec;
    spec.kind = FilePanelKind::kSave;
    spec.name = name;
    spec.extensions = {"txt", "md"};
    int count = 0;
    bool accepted = false;
    std::vector<std::string> paths;
    dialogs().run_file_panel(spec, {}, [&](bool ok, const std::vector<std::string>& p) {
      ++count;
      accepted = ok;
      paths = p;
    });
    GtkWidget* w = front_widget();
    ASSERT_NE(w, nullptr);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(w), dir);
    GtkFileFilter* filter = gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(w));
    ASSERT_NE(filter, nullptr);
    EXPECT_STREQ(gtk_file_filter_get_name(filter), "*.txt, *.md");
    ModalDialog* d = dialogs().modal_dialog();
    ASSERT_TRUE(d->is_file_panel());
    // GTK takes the folder on a later turn of the main loop.
    ASSERT_TRUE(spin_until([&] {
      char* cur = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(w));
      const bool there = cur && std::string(cur) == dir;
      g_free(cur);
      return there && gtk_widget_get_mapped(w);
    }, 5000)) << "the panel did not take its folder";
    // As the auto-dialog does it: Return first, else OK.
    if (!d->press_return()) d->accept();
    spin_until([&] { return count > 0; }, 5000);
    settle();
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(paths, std::vector<std::string>{std::string(dir) + "/" + (name.empty() ? "Untitled" : name)});
  }
  rmdir(dir);
}

// The auto-dialog answers a panel a moment after it opens, which may be before
// GTK has read the panel's folder: OK then still answers the proposed path.
TEST_F(GtkDialogsTest, APanelAcceptedBeforeItsFolderIsReadAnswersItsProposal) {
  char dir[] = "/tmp/qbx-gtk-dlg-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  struct Case {
    FilePanelKind kind;
    std::string name, want;
  } cases[] = {
      {FilePanelKind::kSave, "early.txt", std::string(dir) + "/early.txt"},
      {FilePanelKind::kDirectory, "", dir},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    FilePanelSpec spec;
    spec.kind = c.kind;
    spec.name = c.name;
    int count = 0;
    bool accepted = false;
    std::vector<std::string> paths;
    dialogs().run_file_panel(spec, {}, [&](bool ok, const std::vector<std::string>& p) {
      ++count;
      accepted = ok;
      paths = p;
    });
    GtkWidget* w = front_widget();
    ASSERT_NE(w, nullptr);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(w), dir);
    dialogs().modal_dialog()->accept();  // no turn of the main loop in between
    EXPECT_TRUE(spin_until([&] { return count > 0; }, 5000));
    settle();
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(paths, std::vector<std::string>{c.want});
    EXPECT_EQ(dialogs().modal_dialog(), nullptr);
  }
  rmdir(dir);
}

TEST_F(GtkDialogsTest, ADialogThatBelongsToAWindowGoesWithIt) {
  for (const bool close_with : {true, false}) {
    SCOPED_TRACE(close_with);
    auto parent = desktop_->make_window({});
    parent->show();
    DialogPlace place;
    place.window = parent.get();
    place.close_with_window = close_with;
    AlertSpec spec;
    spec.message = "Sure?";
    spec.buttons = {"OK", "Cancel"};
    spec.cancel_button = 1;
    auto a = alert(spec, place);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(front_widget())), GTK_WINDOW(parent->native_handle()));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(front_widget())));
    parent->close();
    parent.reset();
    settle();
    if (close_with) {
      EXPECT_EQ(a->count, 1);
      EXPECT_EQ(a->response, platform::kAlertFirstButtonReturn + 1);
      EXPECT_EQ(dialogs().modal_dialog(), nullptr);
    } else {
      EXPECT_EQ(a->count, 0);
      ModalDialog* d = dialogs().modal_dialog();
      ASSERT_NE(d, nullptr);
      // Laid out Cancel, OK: the default is on the right.
      ASSERT_EQ(d->buttons().size(), 2u);
      ASSERT_EQ(d->buttons()[1].title, "OK");
      d->click(1);
      settle();
      EXPECT_EQ(a->count, 1);
      EXPECT_EQ(a->response, platform::kAlertFirstButtonReturn);
    }
  }
}

// What WebKit hands over for a page's alert(), confirm() and prompt(), and what
// the page gets back: each script shows what it got in a last alert.
TEST_F(GtkDialogsTest, PageDialogsCarryTheirOriginsHostAndAnswerThePage) {
  struct Case {
    std::string base;
    std::string script;
    std::function<void(std::unique_ptr<platform::PageDialogReply>&)> answer;
    std::string host, shown;
    bool later = false;  // answered after the signal returned, as the host's dialogs do
  } cases[] = {
      {"http://example.test:8080/app/", "alert(confirm('c'))",
       [](auto& r) { r->answer(true, ""); }, "example.test", "true"},
      {"https://example.test/", "alert(confirm('c'))", [](auto& r) { r.reset(); }, "example.test", "false"},
      {"file:///tmp/page.html", "alert(prompt('p', 'd'))", [](auto& r) { r->answer(true, "typed"); }, "", "typed"},
      {"file:///tmp/page.html", "alert(prompt('p', 'd'))", [](auto& r) { r->answer(false, "ignored"); }, "",
       "null"},
      {"file:///tmp/page.html", "alert(JSON.stringify(prompt('p', 'd')))", [](auto& r) { r->answer(true, ""); },
       "", "\"\""},
      {"https://example.test/", "alert(confirm('c'))", [](auto& r) { r->answer(true, ""); }, "example.test", "true",
       true},
      {"file:///tmp/page.html", "alert(prompt('p', 'd'))", [](auto& r) { r->answer(true, "later"); }, "", "later",
       true},
      {"file:///tmp/page.html", "alert(prompt('p', 'd'))", [](auto& r) { r.reset(); }, "", "null", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script + " at " + c.base);
    auto view = desktop_->make_webview();
    std::vector<platform::PageDialog> seen;
    std::unique_ptr<platform::PageDialogReply> held;
    bool answered_first = false;
    view->set_page_dialog_handlers(
        [&](const platform::PageDialog& d, std::unique_ptr<platform::PageDialogReply> reply) {
          seen.push_back(d);
          if (!answered_first) {
            answered_first = true;
            if (c.later)
              held = std::move(reply);
            else
              c.answer(reply);
          }
        },
        nullptr);
    view->load_html("<script>" + c.script + "</script>", c.base);
    if (c.later) {
      ASSERT_TRUE(spin_until([&] { return held != nullptr; })) << "the page's dialog did not come";
      spin_until([] { return false; }, 100);  // the page waits meanwhile
      EXPECT_EQ(seen.size(), 1u);
      c.answer(held);
      held.reset();
    }
    ASSERT_TRUE(spin_until([&] { return seen.size() >= 2; })) << "the page's dialogs did not come";
    EXPECT_EQ(seen[0].origin_host, c.host);
    EXPECT_EQ(seen[1].kind, platform::PageDialogKind::kAlert);
    EXPECT_EQ(seen[1].message, c.shown);
    if (seen[0].kind == platform::PageDialogKind::kPrompt) {
      EXPECT_EQ(seen[0].default_text, "d");
    }
  }
}

}  // namespace
