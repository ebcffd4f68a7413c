// GTK windows on a private X server (Xvfb, started here; the machine's own display
// is never used): what only the desktop layer keeps, such as a window's family.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/gtk_menu.h"
#include "platform/gtk/gtk_platform.h"
#include "private_display.h"

namespace {

using platform::NativeWindow;

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

// The About panel show_about_panel opened; null when none is open.
GtkAboutDialog* about_panel() {
  GtkAboutDialog* found = nullptr;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (GTK_IS_ABOUT_DIALOG(l->data)) found = GTK_ABOUT_DIALOG(l->data);
  g_list_free(all);
  return found;
}

// The colour at the centre of an image, as 0xRRGGBB.
unsigned centre_rgb(const GdkPixbuf* p) {
  const guchar* px = gdk_pixbuf_read_pixels(p) + gdk_pixbuf_get_height(p) / 2 * gdk_pixbuf_get_rowstride(p) +
                     gdk_pixbuf_get_width(p) / 2 * gdk_pixbuf_get_n_channels(p);
  return unsigned(px[0]) << 16 | unsigned(px[1]) << 8 | px[2];
}

TEST_F(GtkWindows, TheAboutPanelShowsTheApplicationsIconNeverABrokenImage) {
  char dir[] = "/tmp/qbx-gtk-icon-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  const std::string svg = std::string(dir) + "/AppIcon.svg";
  g_file_set_contents(svg.c_str(),
                      "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
                      "<rect width='64' height='64' fill='#20a040'/></svg>",
                      -1, nullptr);
  GtkIconInfo* generic = gtk_icon_theme_lookup_icon(gtk_icon_theme_get_default(), "application-x-executable", 128,
                                                    GTK_ICON_LOOKUP_FORCE_SIZE);
  ASSERT_TRUE(generic) << "the icon theme has no generic application icon";
  GdkPixbuf* generic_logo = gtk_icon_info_load_icon(generic, nullptr);
  // [no icon of its own: the theme's generic application icon; the bundle's icon]
  for (const std::string& icon : {std::string(), svg}) {
    if (!icon.empty()) desktop_->set_identity({"Ident", "", icon});
    desktop_->show_about_panel({"Ident", "Version 1", "", ""});
    settle();
    GtkAboutDialog* d = about_panel();
    ASSERT_TRUE(d);
    const GdkPixbuf* logo = gtk_about_dialog_get_logo(d);
    ASSERT_TRUE(logo) << "logo icon name: " << (gtk_about_dialog_get_logo_icon_name(d) ?: "none");
    EXPECT_EQ(gdk_pixbuf_get_width(logo), 128);
    EXPECT_EQ(centre_rgb(logo), icon.empty() ? centre_rgb(generic_logo) : 0x20a040u) << icon;
    gtk_widget_destroy(GTK_WIDGET(d));
    settle();
  }
  g_object_unref(generic_logo);
  g_object_unref(generic);
  desktop_->set_identity({});
  unlink(svg.c_str());
  rmdir(dir);
}

// Without an icon of its own, every size the windows offer is the theme's generic
// icon exactly as the theme draws it at that size.
TEST_F(GtkWindows, WithoutAnIconOfItsOwnTheWindowsOfferTheThemesGenericIconAtEachSize) {
  desktop_->set_identity({});
  GList* list = gtk_window_get_default_icon_list();
  ASSERT_EQ(g_list_length(list), 5u);
  for (GList* l = list; l; l = l->next) {
    GdkPixbuf* have = GDK_PIXBUF(l->data);
    const int size = gdk_pixbuf_get_width(have);
    GdkPixbuf* want = gtk_icon_theme_load_icon(gtk_icon_theme_get_default(), "application-x-executable", size,
                                               GTK_ICON_LOOKUP_FORCE_SIZE, nullptr);
    ASSERT_TRUE(want) << size;
    EXPECT_EQ(gdk_pixbuf_get_height(have), gdk_pixbuf_get_height(want)) << size;
    EXPECT_EQ(gdk_pixbuf_get_byte_length(have), gdk_pixbuf_get_byte_length(want)) << size;
    if (gdk_pixbuf_get_byte_length(have) == gdk_pixbuf_get_byte_length(want)) {
      EXPECT_EQ(std::memcmp(gdk_pixbuf_read_pixels(have), gdk_pixbuf_read_pixels(want), gdk_pixbuf_get_byte_length(have)), 0)
          << "the pixels at " << size;
    }
    g_object_unref(want);
  }
  g_list_free(list);
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
