// GTK windows on a private X server (Xvfb, started here; the machine's own display
// is never used): what only the desktop layer keeps, such as a window's family.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/gtk_menu.h"
#include "platform/gtk/gtk_platform.h"

namespace {

using platform::NativeWindow;

// Xvfb on a display number it picks itself; stopped when the tests end.
class PrivateDisplay {
 public:
  bool start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return false;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
  }
  ~PrivateDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

class GtkWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    display_ = new PrivateDisplay;
    if (!display_->start()) return;
    desktop_ = new platform::gtk::GtkPlatform;
    ready_ = desktop_->init_display();
  }
  static void TearDownTestSuite() {
    // GTK keeps its display to the end of the process; the server goes first.
    delete display_;
    display_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "no private X server (Xvfb)";
  }
  static std::unique_ptr<NativeWindow> window() { return desktop_->make_window({}); }
  static void settle() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  }

  static inline PrivateDisplay* display_ = nullptr;
  static inline platform::gtk::GtkPlatform* desktop_ = nullptr;
  static inline bool ready_ = false;
};

TEST_F(GtkWindows, AWindowReleasedBeforeItsFamilyLeavesNoTraceInIt) {
  // [which one goes first]
  for (const bool child_first : {true, false}) {
    auto parent = window();
    auto child = window();
    auto sibling = window();
    parent->add_child_window(child.get());
    parent->add_child_window(sibling.get());
    ASSERT_EQ(parent->child_windows(), (std::vector<NativeWindow*>{child.get(), sibling.get()}));
    parent->show();
    child->show();
    settle();
    if (child_first) {
      child.reset();
      EXPECT_EQ(parent->child_windows(), (std::vector<NativeWindow*>{sibling.get()}));
      // Moving the parent moves its children: the released one must not be among them.
      const platform::Rect f = parent->frame();
      parent->set_frame({f.x + 30, f.y, f.w, f.h});
      settle();
      parent.reset();
    } else {
      parent.reset();
      // The children outlive it and can join another window.
      auto other = window();
      other->add_child_window(child.get());
      EXPECT_EQ(other->child_windows(), (std::vector<NativeWindow*>{child.get()}));
    }
    settle();
  }
}

// ---- the application's hooks ----

TEST_F(GtkWindows, WhileTheOrderFrontGateIsClosedNoPathMapsAWindow) {
  bool closed = true;
  platform::set_order_front_gate([&] { return closed; });
  platform::Application& app = *platform::application();
  auto a = window();
  auto b = window();
  const auto mapped = [](const std::unique_ptr<NativeWindow>& w) {
    return bool(gtk_widget_get_visible(GTK_WIDGET(w->native_handle())));
  };
  a->show();
  b->order_front_regardless();
  app.hide();
  app.unhide(true);
  app.activate();
  settle();
  EXPECT_FALSE(mapped(a));
  EXPECT_FALSE(mapped(b));
  closed = false;
  a->show();
  b->order_front_regardless();
  settle();
  EXPECT_TRUE(mapped(a));
  EXPECT_TRUE(mapped(b));
  platform::set_order_front_gate(nullptr);
}

TEST_F(GtkWindows, AnAccessoryApplicationsWindowsSkipTaskbarAndPager) {
  platform::Application& app = *platform::application();
  const auto skips = [](const std::unique_ptr<NativeWindow>& w) {
    GtkWindow* g = GTK_WINDOW(w->native_handle());
    return std::make_pair(bool(gtk_window_get_skip_taskbar_hint(g)), bool(gtk_window_get_skip_pager_hint(g)));
  };
  auto before = window();
  app.set_activation_policy(platform::ActivationPolicy::kAccessory);
  auto after = window();
  EXPECT_EQ(skips(before), std::make_pair(true, true));
  EXPECT_EQ(skips(after), std::make_pair(true, true));
  app.set_activation_policy(platform::ActivationPolicy::kRegular);
  EXPECT_EQ(skips(before), std::make_pair(false, false));
  EXPECT_EQ(skips(after), std::make_pair(false, false));
}

TEST_F(GtkWindows, AKeyWithoutACharacterHasItsName) {
  struct Case {
    guint keyval;
    const char* key;
    const char* name;
  } cases[] = {{GDK_KEY_F12, "", "F12"}, {GDK_KEY_F1, "", "F1"}, {GDK_KEY_a, "a", ""}, {GDK_KEY_A, "a", ""}};
  for (const Case& c : cases) {
    GdkEventKey e{};
    e.type = GDK_KEY_PRESS;
    e.keyval = c.keyval;
    const platform::KeyChord k = platform::gtk::key_chord_of(&e);
    EXPECT_EQ(k.key, c.key);
    EXPECT_EQ(k.name, c.name);
  }
}

}  // namespace
