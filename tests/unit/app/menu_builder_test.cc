// Menu, tray and context-menu descriptions as the reader hands them over.

#include "tests/unit/core/test_support.h"
#include "core/menu_model.h"
#include "webui/context_menu.h"
#include "webui/menu_bar.h"
#include "webui/tray.h"

namespace {

class MenuLines : public FakeDesktopTest {
 protected:
  std::vector<Handed> feed(const std::vector<std::string>& lines) {
    for (const auto& l : lines) reader.handle_line(l);
    auto h = take_handed(desktop);
    kept.insert(kept.end(), h.begin(), h.end());
    return h;
  }
  void TearDown() override {
    for (auto& h : kept) h.release();
    FakeDesktopTest::TearDown();
  }
  CommandReader reader;
  std::vector<Handed> kept;
};

std::vector<std::string> labels(const std::vector<MenuItemSpec>& items) {
  std::vector<std::string> out;
  for (auto& i : items) out.push_back(i.separator ? "---" : !i.role.empty() ? "role:" + i.role : i.label);
  return out;
}

TEST_F(MenuLines, ABarWithNestedSubmenusRolesAndFlags) {
  auto h = feed({"MENUBEGIN", "ITEM lost\tLost", "MENU File", "ITEM new\tNew\tcmd+n", "SEP", "SUB recent\tRecent",
                 "ITEM r1\tOne", "SUB deeper", "ITEM r2\tTwo\t\tcd", "SUBEND", "SUBEND", "ITEM quit",
                 "MENUROLE edit\tnostd", "ROLEITEM copy", "ITEM x\t", "MENUROLE help", "MENUEND"});
  ASSERT_EQ(h.size(), 1u);
  ASSERT_EQ(h[0].handler, typed<apply_menus>);
  auto& menus = h[0].as<std::vector<MenuSpec>>();
  ASSERT_EQ(menus.size(), 3u);
  EXPECT_EQ(menus[0].title, "File");
  EXPECT_EQ(labels(menus[0].items), (std::vector<std::string>{"New", "---", "Recent", "quit"}));
  EXPECT_EQ(menus[0].items[0].accel, "cmd+n");
  const MenuItemSpec& recent = menus[0].items[2];
  EXPECT_EQ(recent.id, "recent");
  EXPECT_EQ(labels(recent.submenu), (std::vector<std::string>{"One", "deeper"}));
  const MenuItemSpec& deeper = recent.submenu[1];
  EXPECT_EQ(deeper.label, "deeper");  // label defaults to the id
  ASSERT_EQ(deeper.submenu.size(), 1u);
  EXPECT_TRUE(deeper.submenu[0].checked);
  EXPECT_TRUE(deeper.submenu[0].disabled);
  EXPECT_EQ(menus[1].role, "edit");
  EXPECT_TRUE(menus[1].nostd);
  EXPECT_EQ(menus[1].title, "");
  EXPECT_EQ(labels(menus[1].items), (std::vector<std::string>{"role:copy", ""}));  // empty label kept
  EXPECT_EQ(menus[2].role, "help");
  EXPECT_FALSE(menus[2].nostd);
}

TEST_F(MenuLines, OpenSubmenusAreFoldedAtTheNextMenuAndAtTheEnd) {
  auto h = feed({"MENUBEGIN", "MENU A", "SUB s", "ITEM a1", "MENU B", "SUB t", "SUB u", "ITEM b1", "MENUEND"});
  auto& menus = h.at(0).as<std::vector<MenuSpec>>();
  ASSERT_EQ(menus.size(), 2u);
  ASSERT_EQ(menus[0].items.size(), 1u);
  EXPECT_EQ(labels(menus[0].items[0].submenu), (std::vector<std::string>{"a1"}));
  ASSERT_EQ(menus[1].items.size(), 1u);
  const MenuItemSpec& t = menus[1].items[0];
  ASSERT_EQ(t.submenu.size(), 1u);
  EXPECT_EQ(t.submenu[0].id, "u");
  EXPECT_EQ(labels(t.submenu[0].submenu), (std::vector<std::string>{"b1"}));
}

TEST_F(MenuLines, AWindowBarGoesToItsWindowAndASubendWithoutSubIsIgnored) {
  auto h = feed({"MENUBEGIN@w2", "MENU View", "SUBEND", "ITEM z", "MENUEND"});
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0].handler, typed<do_win_menu_set>);
  auto& r = h[0].as<WinMenuReq>();
  EXPECT_EQ(r.window, "w2");
  ASSERT_EQ(r.menus.size(), 1u);
  EXPECT_EQ(labels(r.menus[0].items), (std::vector<std::string>{"z"}));
}

TEST_F(MenuLines, MenuendWithoutBeginResendsTheLastBlockWithOnlyNewItems) {
  feed({"MENUBEGIN", "MENU A", "ITEM a", "MENU B", "ITEM b", "MENUEND"});
  auto h = feed({"ITEM ignored-outside", "MENUEND"});
  auto& menus = h.at(0).as<std::vector<MenuSpec>>();
  ASSERT_EQ(menus.size(), 2u);
  EXPECT_EQ(labels(menus[0].items), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(menus[1].items.empty());
}

TEST_F(MenuLines, MenuLinesOnlyCountInsideTheirBlock) {
  auto h = feed({"MENU File", "MENUROLE edit", "CTXBEGIN", "MENU Inside", "ITEM c1", "CTXEND"});
  ASSERT_EQ(h.size(), 1u);
  ASSERT_EQ(h[0].handler, typed<apply_ctx>);
  EXPECT_EQ(labels(h[0].as<CtxReq>().items), (std::vector<std::string>{"c1"}));
  EXPECT_TRUE(h[0].as<CtxReq>().active);
}

TEST_F(MenuLines, TrayFieldsAndItems) {
  struct Case {
    std::string begin;
    std::string title, icon, tooltip;
    bool template_, clicks;
  };
  const std::vector<Case> cases = {
      {"TRAYBEGIN", "", "", "", true, false},
      {"TRAYBEGIN ", "", "", "", true, false},
      {"TRAYBEGIN Hi\tsf:star\t0\tTip\t1", "Hi", "sf:star", "Tip", false, true},
      {"TRAYBEGIN Hi\t/i.png\tno\t\t2", "Hi", "/i.png", "", true, false},
      {"TRAYBEGIN_X\t\t0", "X", "", "", false, false},  // the byte after the keyword is skipped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.begin);
    auto h = feed({c.begin, "ITEM a\tA", "ROLEITEM copy", "SUB s", "ITEM b", "TRAYEND"});
    ASSERT_EQ(h.size(), 1u);
    ASSERT_EQ(h[0].handler, typed<apply_tray>);
    auto& t = h[0].as<TraySpec>();
    EXPECT_EQ(t.title, c.title);
    EXPECT_EQ(t.icon, c.icon);
    EXPECT_EQ(t.tooltip, c.tooltip);
    EXPECT_EQ(t.template_, c.template_);
    EXPECT_EQ(t.clickEvents, c.clicks);
    EXPECT_EQ(labels(t.items), (std::vector<std::string>{"A", "role:copy", "s"}));
    EXPECT_EQ(labels(t.items[2].submenu), (std::vector<std::string>{"b"}));
    EXPECT_FALSE(t.remove);
  }
}

TEST_F(MenuLines, TrayremoveAndCtxclearLeaveTheOpenBlockAlone) {
  auto h = feed({"MENUBEGIN", "MENU M", "ITEM one", "TRAYREMOVE", "CTXCLEAR", "ITEM two", "MENUEND"});
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(h[0].handler, typed<apply_tray>);
  EXPECT_TRUE(h[0].as<TraySpec>().remove);
  EXPECT_EQ(h[1].handler, typed<apply_ctx>);
  EXPECT_FALSE(h[1].as<CtxReq>().active);
  auto& menus = h[2].as<std::vector<MenuSpec>>();
  EXPECT_EQ(labels(menus.at(0).items), (std::vector<std::string>{"one", "two"}));
}

TEST_F(MenuLines, ABeginInsideAnotherBlockDiscardsItsCurrentItems) {
  auto h = feed({"MENUBEGIN", "MENU M", "ITEM one", "CTXBEGIN", "ITEM c", "CTXEND", "ITEM two", "MENUEND"});
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(labels(h[0].as<CtxReq>().items), (std::vector<std::string>{"c"}));
  EXPECT_EQ(labels(h[1].as<std::vector<MenuSpec>>().at(0).items), (std::vector<std::string>{"two"}));
}

TEST_F(MenuLines, HandedOverMenusAreCopiesTheReaderNoLongerTouches) {
  auto h1 = feed({"MENUBEGIN", "MENU A", "ITEM a", "MENUEND"});
  auto h2 = feed({"MENUBEGIN", "MENU B", "MENUEND"});
  EXPECT_EQ(h1.at(0).as<std::vector<MenuSpec>>().at(0).title, "A");
  EXPECT_EQ(h1.at(0).as<std::vector<MenuSpec>>().at(0).items.size(), 1u);
  EXPECT_EQ(h2.at(0).as<std::vector<MenuSpec>>().at(0).title, "B");
}

}  // namespace

namespace {

size_t depth_of(const std::vector<MenuItemSpec>& items) {
  size_t d = 0;
  for (const MenuItemSpec& i : items)
    if (!i.submenu.empty() || i.id.rfind("s", 0) == 0) d = std::max(d, 1 + depth_of(i.submenu));
  return d;
}

// The items of the deepest submenu, following the first submenu at every level.
const std::vector<MenuItemSpec>* deepest(const std::vector<MenuItemSpec>& items) {
  for (const MenuItemSpec& i : items)
    if (!i.submenu.empty()) return deepest(i.submenu);
  return &items;
}

TEST_F(MenuLines, SubmenusPastTheDepthLimitAreIgnoredWithOneDiagnosticPerMenu) {
  struct Case {
    std::vector<std::string> open, close;
  } cases[] = {
      {{"MENUBEGIN", "MENU M"}, {"ITEM after", "MENUEND"}},
      {{"TRAYBEGIN"}, {"ITEM after", "TRAYEND"}},
      {{"CTXBEGIN"}, {"ITEM after", "CTXEND"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = c.open;
    const size_t n = 3 * kMaxMenuDepth;
    for (size_t i = 0; i < n; ++i) lines.push_back("SUB s" + std::to_string(i));
    lines.push_back("ITEM inner");
    for (size_t i = 0; i < n; ++i) lines.push_back("SUBEND");
    lines.insert(lines.end(), c.close.begin(), c.close.end());
    testing::internal::CaptureStderr();
    auto h = feed(lines);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "quibex: submenus nested deeper than 64 levels are ignored\n") << c.open[0];
    ASSERT_EQ(h.size(), 1u);
    const std::vector<MenuItemSpec>& items = h[0].handler == typed<apply_menus> ? h[0].as<std::vector<MenuSpec>>()[0].items
                                             : h[0].handler == typed<apply_tray> ? h[0].as<TraySpec>().items
                                                                          : h[0].as<CtxReq>().items;
    EXPECT_EQ(depth_of(items), kMaxMenuDepth) << c.open[0];
    // The ignored SUBENDs closed nothing that was kept: the inner item sits in the
    // deepest submenu and the item after the block at the top.
    EXPECT_EQ(labels(*deepest(items)), (std::vector<std::string>{"inner"}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].label, "after");
  }
}

TEST_F(MenuLines, AMillionNestedSubmenusNeitherExhaustTheStackNorGrowTheTree) {
  CommandReader r;
  std::string chunk;
  testing::internal::CaptureStderr();
  r.handle_line("CTXBEGIN");
  for (int i = 0; i < 1000000; ++i) r.handle_line("SUB s");
  r.handle_line("CTXEND");
  testing::internal::GetCapturedStderr();
  auto h = take_handed(desktop);
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(depth_of(h[0].as<CtxReq>().items), kMaxMenuDepth);
  h[0].release();
}

}  // namespace
