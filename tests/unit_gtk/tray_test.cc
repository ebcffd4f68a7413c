// The tray item's own logic on Linux: image sizes and pixels, menu labels, what
// a click does, and the menu as exported dbusmenu items. No desktop is needed.

#include <gtest/gtest.h>
#include <libdbusmenu-glib/client.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/gtk_tray.h"

namespace {

using namespace platform::gtk::tray;
using platform::MenuNode;

TEST(TrayImage, IsEighteenPointsHighWithItsProportionsKept) {
  struct Case {
    int w, h, scale;
    PixelSize want;
  };
  const Case cases[] = {
      {36, 18, 1, {36, 18}},      {18, 36, 1, {9, 18}},        {36, 18, 2, {72, 36}},
      {18, 36, 2, {18, 36}},      {1, 1, 1, {18, 18}},         {7, 3, 1, {42, 18}},
      {10, 3, 1, {60, 18}},       {5, 3, 2, {60, 36}},
      {10, 0, 1, {18, 18}},       {10, -4, 1, {18, 18}},       // no height: a square
      {0, 18, 1, {1, 18}},        {-5, 10, 1, {1, 18}},        // never narrower than a pixel
      {100000, 1, 1, {512, 18}},  {100000, 1, 2, {1024, 36}},  // nor wider than the limit
  };
  for (const Case& c : cases)
    EXPECT_EQ(image_size(c.w, c.h, c.scale), c.want) << c.w << "x" << c.h << " @" << c.scale;
}

std::vector<std::uint8_t> pixels_of(int w, int h, bool alpha, int stride, std::vector<guchar> data) {
  GdkPixbuf* p = gdk_pixbuf_new_from_data(data.data(), GDK_COLORSPACE_RGB, alpha, 8, w, h, stride, nullptr, nullptr);
  std::vector<std::uint8_t> out = argb32(p);
  g_object_unref(p);
  return out;
}

TEST(TrayImage, PixelsAreArgbInNetworkOrderRowByRow) {
  // RGBA, two pixels in a row.
  EXPECT_EQ(pixels_of(2, 1, true, 8, {10, 20, 30, 40, 50, 60, 70, 80}),
            (std::vector<std::uint8_t>{40, 10, 20, 30, 80, 50, 60, 70}));
  // RGB without alpha is opaque; the padding at each row's end is no pixel.
  EXPECT_EQ(pixels_of(1, 2, false, 4, {1, 2, 3, 99, 4, 5, 6, 99}),
            (std::vector<std::uint8_t>{255, 1, 2, 3, 255, 4, 5, 6}));
  EXPECT_TRUE(argb32(nullptr).empty());
}

TEST(TrayMenuLabel, UnderscoresAreLiteral) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"Open", "Open"}, {"_File", "__File"}, {"a_b_c", "a__b__c"}, {"__", "____"}, {"Ünï_", "Ünï__"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(dbusmenu_label(in), want) << in;
}

TEST(TrayClick, TheItemsOwnMenuOpensOnEitherButtonElseTheHostHearsTheClick) {
  struct Case {
    Click click;
    bool has_menu;
    ClickAction want;
  };
  const Case cases[] = {
      {Click::kPrimary, false, ClickAction::kHostPrimary},   {Click::kSecondary, false, ClickAction::kHostSecondary},
      {Click::kMiddle, false, ClickAction::kNothing},         {Click::kPrimary, true, ClickAction::kOpenMenu},
      {Click::kSecondary, true, ClickAction::kOpenMenu},      {Click::kMiddle, true, ClickAction::kNothing},
  };
  for (const Case& c : cases)
    EXPECT_EQ(click_action(c.click, c.has_menu), c.want) << int(c.click) << " menu " << c.has_menu;
}

std::shared_ptr<MenuNode> item(const std::string& id, const std::string& title) {
  auto n = std::make_shared<MenuNode>();
  n->id = id;
  n->title = title;
  return n;
}

std::string prop(DbusmenuMenuitem* mi, const char* name) {
  const gchar* v = dbusmenu_menuitem_property_get(mi, name);
  return v ? v : "(none)";
}

class TrayMenuExport : public ::testing::Test {
 protected:
  void SetUp() override {
    menu = std::make_shared<MenuNode>();
    alpha = item("a", "Alpha");
    auto sep = std::make_shared<MenuNode>();
    sep->separator = true;
    more = item("s", "More");
    beta = item("b", "Beta_x");
    beta->checked = true;
    beta->key = "b";
    beta->modifiers = platform::kModCommand | platform::kModShift;
    delta = item("d", "Delta");
    delta->enabled = false;
    refused = item("r", "Refused");
    refused->tag = 1;
    more->items = {beta, alpha};  // alpha shown twice
    menu->items = {alpha, sep, more, delta, refused};
    tree = std::make_unique<DbusmenuTree>(menu, [this](const MenuNode& n) { chosen.push_back(n.id); });
  }
  std::vector<DbusmenuMenuitem*> children(DbusmenuMenuitem* mi) {
    std::vector<DbusmenuMenuitem*> out;
    for (GList* l = dbusmenu_menuitem_get_children(mi); l; l = l->next) out.push_back(DBUSMENU_MENUITEM(l->data));
    return out;
  }
  void click(DbusmenuMenuitem* mi) {
    dbusmenu_menuitem_handle_event(mi, DBUSMENU_MENUITEM_EVENT_ACTIVATED, g_variant_new_int32(0), 0);
  }

  std::shared_ptr<MenuNode> menu, alpha, more, beta, delta, refused;
  std::unique_ptr<DbusmenuTree> tree;
  std::vector<std::string> chosen;
};

TEST_F(TrayMenuExport, ItemsCarryTheNodesTitlesMarksStateAndKeys) {
  DbusmenuMenuitem* root = tree->root();
  EXPECT_EQ(dbusmenu_menuitem_get_id(root), 0);
  std::vector<DbusmenuMenuitem*> top = children(root);
  ASSERT_EQ(top.size(), 5u);
  EXPECT_EQ(prop(top[0], "label"), "Alpha");
  EXPECT_EQ(prop(top[0], "toggle-type"), "(none)") << "no mark while unchecked";
  EXPECT_EQ(prop(top[1], "type"), "separator");
  EXPECT_EQ(prop(top[2], "children-display"), "submenu");
  EXPECT_TRUE(dbusmenu_menuitem_property_get_bool(top[2], "enabled"));
  EXPECT_FALSE(dbusmenu_menuitem_property_get_bool(top[3], "enabled"));
  EXPECT_FALSE(dbusmenu_menuitem_property_get_bool(top[4], "enabled")) << "refused by validation";

  std::vector<DbusmenuMenuitem*> sub = children(top[2]);
  ASSERT_EQ(sub.size(), 2u);
  EXPECT_EQ(prop(sub[0], "label"), "Beta__x");
  EXPECT_EQ(prop(sub[0], "toggle-type"), "checkmark");
  EXPECT_EQ(dbusmenu_menuitem_property_get_int(sub[0], "toggle-state"), 1);
  GVariant* keys = dbusmenu_menuitem_property_get_variant(sub[0], "shortcut");
  ASSERT_NE(keys, nullptr);
  gchar* text = g_variant_print(keys, FALSE);
  EXPECT_STREQ(text, "[['Control', 'Shift', 'b']]");
  g_free(text);
  EXPECT_EQ(dbusmenu_menuitem_property_get_variant(top[0], "shortcut"), nullptr);
}

TEST_F(TrayMenuExport, OnlyEnabledLeavesAreChosen) {
  std::vector<DbusmenuMenuitem*> top = children(tree->root());
  std::vector<DbusmenuMenuitem*> sub = children(top[2]);
  for (DbusmenuMenuitem* mi : {top[0], top[1], top[2], top[3], top[4], sub[0], sub[1]}) click(mi);
  EXPECT_EQ(chosen, (std::vector<std::string>{"a", "b", "a"}));
}

TEST_F(TrayMenuExport, PostedChangesReachEveryItemOfTheNode) {
  alpha->title = "Aleph_1";
  alpha->checked = true;
  alpha->enabled = false;
  platform::post_menu_change(alpha.get());
  std::vector<DbusmenuMenuitem*> top = children(tree->root());
  DbusmenuMenuitem* again = children(top[2])[1];
  for (DbusmenuMenuitem* mi : {top[0], again}) {
    EXPECT_EQ(prop(mi, "label"), "Aleph__1");
    EXPECT_EQ(prop(mi, "toggle-type"), "checkmark");
    EXPECT_FALSE(dbusmenu_menuitem_property_get_bool(mi, "enabled"));
  }
  click(top[0]);
  EXPECT_TRUE(chosen.empty()) << "a disabled item chooses nothing";

  alpha->checked = false;
  alpha->enabled = true;
  platform::post_menu_change(alpha.get());
  EXPECT_EQ(prop(top[0], "toggle-type"), "(none)");
  EXPECT_TRUE(dbusmenu_menuitem_property_get_bool(top[0], "enabled"));
  click(top[0]);
  EXPECT_EQ(chosen, std::vector<std::string>{"a"});
}

TEST_F(TrayMenuExport, ItemsKeptAfterTheTreeIsGoneCallNothing) {
  DbusmenuMenuitem* kept = DBUSMENU_MENUITEM(g_object_ref(children(tree->root())[0]));
  tree.reset();
  click(kept);
  alpha->title = "Later";
  platform::post_menu_change(alpha.get());
  EXPECT_EQ(prop(kept, "label"), "Alpha");
  EXPECT_TRUE(chosen.empty());
  g_object_unref(kept);
}

TEST(TrayMenuExportEmpty, NoMenuIsAnEmptyRoot) {
  DbusmenuTree tree(nullptr, nullptr);
  EXPECT_EQ(dbusmenu_menuitem_get_children(tree.root()), nullptr);
}

}  // namespace
