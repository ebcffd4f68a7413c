// Menu bars, the tray item, the context menu and item updates, driven by wire
// lines through the reader against the fake desktop.

#include "core/reader.h"
#include "tests/unit/core/window_test_support.h"
#include "webui/context_menu.h"
#include "webui/menu_bar.h"
#include "webui/menu_state.h"
#include "webui/tray.h"

namespace {

using platform::MenuCommand;
using platform::MenuNode;
using platform::fake::FakeStatusItem;
using V = std::vector<std::string>;

// A menu as text: titles, "---" for separators, "[title]" for submenus, "*" before a
// checked item, "~" before a disabled one, "^key" after an item with a key.
std::string outline(const MenuNode& menu) {
  std::string out;
  for (const auto& n : menu.items) {
    if (!out.empty()) out += "|";
    if (n->separator) {
      out += "---";
      continue;
    }
    if (n->checked) out += "*";
    if (!n->enabled || n->tag) out += "~";
    out += n->items.empty() ? n->title : "[" + n->title + ":" + outline(*n) + "]";
    if (!n->key.empty()) out += "^" + n->key;
  }
  return out;
}

V titles(const MenuNode& bar) {
  V out;
  for (const auto& m : bar.items) out.push_back(m->title);
  return out;
}

const MenuNode* menu_named(const MenuNode& bar, const std::string& title) {
  for (const auto& m : bar.items)
    if (m->title == title) return m.get();
  return nullptr;
}

class Menus : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    reset();
    settings().app_name = "Demo";
    install_ctx_hook();
    apply_ctx_hook(main_view());
    install_key_window_observer();
    apply_menus(w(), std::make_unique<std::vector<MenuSpec>>());
    wire.lines();
  }
  void TearDown() override {
    WindowTest::TearDown();
    reset();
  }
  static void reset() {
    menu_bars_reset_for_tests();
    tray_reset_for_tests();
    context_menu_reset_for_tests();
    settings().help_book.clear();
    g_about_to_app.store(false);
    settings().app_name = "quibex";
  }
  void feed(const V& lines) {
    for (const std::string& l : lines) reader.handle_line(l);
    desktop.queue.drain();
  }
  const MenuNode& bar_of(FakeWindow* win) {
    EXPECT_NE(win->menu_bar, nullptr);
    return *win->menu_bar;
  }
  FakeStatusItem* tray() { return desktop.status_items.empty() ? nullptr : desktop.status_items.back(); }
  CommandReader reader;
};

TEST_F(Menus, AnEmptyBlockGivesTheDefaultBar) {
  feed({"MENUBEGIN", "MENUEND"});
  const MenuNode& bar = bar_of(main_window());
  EXPECT_EQ(titles(bar), (V{"Demo", "Edit"}));
  EXPECT_EQ(outline(*bar.items[0]), "About Demo|---|Quit Demo^q");
  EXPECT_EQ(outline(*bar.items[1]), "Undo^z|Redo^Z|---|Cut^x|Copy^c|Paste^v|Select All^a");
  EXPECT_EQ(bar.items[1]->items[0]->modifiers, platform::kModCommand);
}

TEST_F(Menus, DebugAddsDevelopAndAHelpBookAddsHelp) {
  settings().debug_on = true;
  settings().help_book = "Demo.help";
  feed({"MENUBEGIN", "MENUROLE help", "ITEM faq\tFAQ", "MENUEND"});
  const MenuNode& bar = bar_of(main_window());
  EXPECT_EQ(titles(bar), (V{"Demo", "Edit", "Develop", "Help"}));
  EXPECT_EQ(outline(*menu_named(bar, "Develop")), "Show Web Inspector^i");
  EXPECT_EQ(menu_named(bar, "Develop")->items[0]->modifiers, platform::kModCommand | platform::kModOption);
  EXPECT_EQ(outline(*menu_named(bar, "Help")), "Demo Help^?|---|FAQ");
  feed({"MENUBEGIN", "MENUROLE help\tnostd", "ITEM faq\tFAQ", "MENUEND"});
  EXPECT_EQ(outline(*menu_named(bar_of(main_window()), "Help")), "FAQ");
  settings().help_book.clear();
  feed({"MENUBEGIN", "MENUROLE help", "MENUEND"});
  EXPECT_EQ(menu_named(bar_of(main_window()), "Help"), nullptr);
}

TEST_F(Menus, ItemsTakeTheirFieldsAndMenusTheirRoles) {
  feed({"MENUBEGIN", "ITEM lost", "MENU File", "ITEM solo", "ITEM empty\t", "ITEM both\tBoth\tcmd+shift+k\tcd",
        "SUB open\tOpen Recent", "ITEM r1\tOne", "MENUROLE window", "ITEM w\tW", "MENUROLE app", "ITEM prefs\tPrefs",
        "MENUEND"});
  const MenuNode& bar = bar_of(main_window());
  EXPECT_EQ(titles(bar), (V{"Demo", "Edit", "File"}));
  EXPECT_EQ(outline(*bar.items[0]), "About Demo|---|Prefs|---|Quit Demo^q");
  EXPECT_EQ(outline(*bar.items[2]), "solo||*~Both^k|[Open Recent:One]");
  const MenuNode& both = *bar.items[2]->items[2];
  EXPECT_EQ(both.modifiers, platform::kModCommand | platform::kModShift);
  EXPECT_EQ(both.tag, 1);
  EXPECT_EQ(both.id, "both");
}

TEST_F(Menus, TheEditDescriptionDecidesTheEditMenu) {
  struct Case {
    V lines;
    std::string edit;  // "" = no Edit menu
    V bar;
  } cases[] = {
      {{"MENUROLE edit", "ROLEITEM copy", "ITEM x\tX"}, "Copy^c|X", {"Demo", "Edit"}},
      {{"MENUROLE edit\tnostd"}, "", {"Demo"}},
      {{"MENUROLE edit", "ITEM x\tX"}, "Undo^z|Redo^Z|---|Cut^x|Copy^c|Paste^v|Select All^a|---|X", {"Demo", "Edit"}},
      // The first edit description counts, placed where it stands.
      {{"MENU A", "MENUROLE edit\tnostd", "ITEM one\tOne", "MENUROLE edit", "ITEM two\tTwo", "MENU B"},
       "One",
       {"Demo", "A", "Edit", "B"}},
      // Role items that name no stock item still keep the standard group out.
      {{"MENUROLE edit", "ROLEITEM nosuch", "ROLEITEM Copy"}, "", {"Demo", "Edit"}},
  };
  for (const Case& c : cases) {
    V lines{"MENUBEGIN"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    lines.push_back("MENUEND");
    feed(lines);
    const MenuNode& bar = bar_of(main_window());
    EXPECT_EQ(titles(bar), c.bar) << c.lines[0];
    const MenuNode* edit = menu_named(bar, "Edit");
    EXPECT_EQ(edit ? outline(*edit) : "", c.edit) << c.lines.back();
  }
}

TEST_F(Menus, SplitAccel) {
  using platform::kModCommand;
  using platform::kModControl;
  using platform::kModOption;
  using platform::kModShift;
  struct Case {
    std::string accel, key;
    std::uint64_t mask;
  } cases[] = {
      {"cmd+shift+k", "k", kModCommand | kModShift},
      {"Alt+X", "X", kModCommand | kModOption},
      {"k", "k", kModCommand},
      {"cmd++", "+", kModCommand},
      {"+", "+", kModCommand},
      {"hyper+k", "hyper+k", kModCommand},
      {"ctrl+hyper+k", "hyper+k", kModCommand | kModControl},
      {"CONTROL+opt+super+meta+command+f", "f", kModCommand | kModControl | kModOption},
      {"", "", kModCommand},
  };
  for (const Case& c : cases) {
    std::string key;
    EXPECT_EQ(split_accel(c.accel, key), c.mask) << c.accel;
    EXPECT_EQ(key, c.key) << c.accel;
  }
  feed({"MENUBEGIN", "MENU M", "ITEM a\tA\t", "MENUEND"});
  EXPECT_EQ(menu_named(bar_of(main_window()), "M")->items[0]->modifiers, 0u) << "no key, no mask";
}

TEST_F(Menus, ChoosingItemsSendsMenuAboutQuitAndTheInspector) {
  settings().debug_on = true;
  feed({"MENUBEGIN", "MENU File", "ITEM new\tNew", "ITEM off\tOff\t\td", "ITEM \tNameless", "MENUEND"});
  FakeWindow* main = main_window();
  EXPECT_TRUE(main->choose({"File", "New"}));
  EXPECT_FALSE(main->choose({"File", "Off"}));
  EXPECT_TRUE(main->choose({"File", "Nameless"}));
  EXPECT_EQ(lines(), (V{"MENU new", "MENU "}));
  EXPECT_TRUE(main->choose({"Demo", "About Demo"}));
  ASSERT_EQ(desktop.abouts.size(), 1u);
  EXPECT_EQ(desktop.abouts[0].name, "Demo");
  g_about_to_app.store(true);
  main->choose({"Demo", "About Demo"});
  EXPECT_EQ(desktop.abouts.size(), 1u);
  EXPECT_EQ(lines(), (V{"MENU about"}));
  EXPECT_TRUE(main->choose({"Develop", "Show Web Inspector"}));
  EXPECT_TRUE(main_view()->inspector_opened);
  EXPECT_TRUE(main->choose({"Edit", "Copy"}));
  EXPECT_EQ(main->editing, (std::vector<MenuCommand>{MenuCommand::kCopy}));
}

TEST_F(Menus, AWindowShowsItsOwnBarElseTheApplicationBar) {
  FakeWindow* w2 = open("w2");
  FakeWindow* w3 = open("w3");
  feed({"MENUBEGIN", "MENU App", "ITEM a\tA", "MENUEND"});
  feed({"MENUBEGIN@w2", "MENU Own", "ITEM o\tO", "MENUEND"});
  EXPECT_EQ(titles(bar_of(w2)), (V{"Demo", "Edit", "Own"}));
  EXPECT_EQ(titles(bar_of(w3)), (V{"Demo", "Edit", "App"}));
  EXPECT_EQ(titles(bar_of(main_window())), (V{"Demo", "Edit", "App"}));
  // A new application bar reaches every window without one of its own.
  feed({"MENUBEGIN", "MENU Again", "MENUEND"});
  EXPECT_EQ(titles(bar_of(w3)), (V{"Demo", "Edit", "Again"}));
  EXPECT_EQ(titles(bar_of(w2)), (V{"Demo", "Edit", "Own"}));
  w2->choose({"Own", "O"});
  EXPECT_EQ(lines_starting("MENU"), (V{"MENU o"}));
  feed({"MENURESET@w2"});
  EXPECT_EQ(titles(bar_of(w2)), (V{"Demo", "Edit", "Again"}));
  // A new window starts with the application bar.
  EXPECT_EQ(titles(bar_of(open("w4"))), (V{"Demo", "Edit", "Again"}));
}

TEST_F(Menus, ABarSentBeforeItsWindowOpensIsKeptForItsId) {
  // One bar per id: a later description replaces the kept one.
  feed({"MENUBEGIN@later", "MENU Old", "ITEM e\tOld", "MENUEND"});
  feed({"MENUBEGIN@later", "MENU Early", "ITEM e\tEarly", "MENUEND", "WINOPEN later"});
  EXPECT_EQ(g_win_bars.size(), 1u);
  FakeWindow* later = win("later");
  ASSERT_NE(later, nullptr);
  EXPECT_EQ(titles(bar_of(later)), (V{"Demo", "Edit", "Early"}));
  EXPECT_EQ(menu_item_state_json("later", "e"), R"({"exists":true,"label":"Early","checked":false,"enabled":true})");
  EXPECT_TRUE(later->choose({"Early", "Early"}));
  EXPECT_EQ(lines_starting("MENU"), (V{"MENU e"}));
  // A closed window's bar goes with it: the id opened again starts with the application bar.
  feed({"WINCLOSE later"});
  EXPECT_TRUE(g_win_bars.empty());
  EXPECT_EQ(titles(bar_of(open("later"))), (V{"Demo", "Edit"}));
  // MENURESET@ forgets a kept bar; an id no window can have keeps none, and says so.
  testing::internal::CaptureStderr();
  feed({"MENUBEGIN@soon", "MENU S", "MENUEND", "MENURESET@soon", "MENUBEGIN@a b", "MENU X", "MENUEND"});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "quibex: the menu bar for the window id \"a b\" is dropped: no window can have that id\n");
  EXPECT_TRUE(g_win_bars.empty());
}

TEST_F(Menus, TheKeyWindowDecidesWhichBarIsInstalled) {
  FakeWindow* w2 = open("w2");
  feed({"MENUBEGIN@w2", "MENU Own", "MENUEND"});
  w2->make_key();
  EXPECT_EQ(g_key_win, "w2");
  EXPECT_EQ(g_bar_showing, "w2");
  main_window()->make_key();
  EXPECT_EQ(g_key_win, "main");
  EXPECT_EQ(g_bar_showing, "");
  w2->make_key();
  feed({"MENURESET@w2"});
  EXPECT_EQ(g_bar_showing, "");
}

TEST_F(Menus, KeyEquivalentsChooseEnabledItemsOfTheWindowsBar) {
  feed({"MENUBEGIN", "MENU File", "ITEM k\tK\tcmd+shift+k", "ITEM off\tOff\tcmd+j\td", "ITEM opt\tOpt\talt+o",
        "MENUEND"});
  FakeWindow* main = main_window();
  struct Case {
    std::string key;
    std::uint64_t mods;
    bool shift, consumed;
    V sent;
  } cases[] = {
      {"k", platform::kModCommand | platform::kModShift, true, true, {"MENU k"}},
      {"k", platform::kModCommand, false, false, {}},
      {"j", platform::kModCommand, false, false, {}},  // disabled
      {"o", platform::kModCommand | platform::kModOption, false, true, {"MENU opt"}},
      {"o", platform::kModOption, false, false, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(main->press(c.key, c.mods, c.shift), c.consumed) << c.key;
    EXPECT_EQ(lines(), c.sent) << c.key;
  }
  // Editing commands act on the page of the window that had the key.
  FakeWindow* w2 = open("w2");
  EXPECT_TRUE(w2->press("z", platform::kModCommand | platform::kModShift, true));
  EXPECT_EQ(view("w2")->editing, (std::vector<MenuCommand>{MenuCommand::kRedo}));
  EXPECT_TRUE(main_view()->editing.empty());
}

TEST_F(Menus, ItemsBeforeTheFirstMenuAndTheirSubmenusAreDiscarded) {
  feed({"MENUBEGIN", "SUB s1", "SUB s2", "ITEM lost", "MENU M", "ITEM i\tI", "MENUEND"});
  EXPECT_EQ(outline(*menu_named(bar_of(main_window()), "M")), "I");
}

TEST_F(Menus, UpdatesChangeItemsInPlaceWhereverTheyShow) {
  FakeWindow* w2 = open("w2");
  feed({"MENUBEGIN", "MENU M", "ITEM x\tX", "MENUEND", "MENUBEGIN@w2", "MENU N", "ITEM x\tX2", "MENUEND",
        "TRAYBEGIN", "ITEM x\tTrayX", "TRAYEND", "CTXBEGIN", "ITEM x\tCtxX", "CTXEND"});
  std::vector<const MenuNode*> changed;
  const int token = platform::add_menu_observer([&](const MenuNode* n) { changed.push_back(n); });
  feed({"MENUUPD x\tRenamed"});
  EXPECT_EQ(changed.size(), 3u) << "application bar, window bar and tray";
  EXPECT_EQ(outline(*menu_named(bar_of(main_window()), "M")), "Renamed");
  EXPECT_EQ(outline(*menu_named(bar_of(w2), "N")), "Renamed");
  EXPECT_EQ(outline(*tray()->menu), "Renamed");
  EXPECT_EQ(outline(*main_view()->open_context_menu()), "Renamed");
  // "true" is no "1" for a native item, and no "0" for a context item.
  feed({"MENUUPD x\t\t1\ttrue"});
  EXPECT_EQ(outline(*menu_named(bar_of(main_window()), "M")), "*~Renamed");
  EXPECT_EQ(outline(*main_view()->open_context_menu()), "*Renamed");
  // Addressed to a window without a bar of its own: the application bar.
  changed.clear();
  feed({"MENUUPD@w3 x\tApp Only\t0\t1"});
  EXPECT_EQ(outline(*menu_named(bar_of(main_window()), "M")), "App Only");
  EXPECT_EQ(outline(*menu_named(bar_of(w2), "N")), "*~Renamed");
  EXPECT_EQ(changed.size(), 1u);
  platform::remove_menu_observer(token);
}

TEST_F(Menus, TrayClicksFollowItsItemsAndClickSetting) {
  feed({"TRAYBEGIN", "TRAYEND"});
  ASSERT_NE(tray(), nullptr);
  EXPECT_EQ(tray()->title, "");
  EXPECT_FALSE(tray()->has_image());
  EXPECT_EQ(tray()->menu, nullptr);
  tray()->click();
  tray()->click(true);  // a secondary click is not heard without a menu
  tray()->click(false, true);
  EXPECT_EQ(lines(), (V{"TRAYCLICK", "TRAYCLICK"}));

  feed({"TRAYBEGIN Title\t/icons/t.png\t0\tTip\t1", "ITEM a\tA", "ROLEITEM copy", "TRAYEND"});
  EXPECT_EQ(desktop.status_items.size(), 1u) << "one tray item, updated in place";
  EXPECT_EQ(tray()->title, "Title");
  EXPECT_EQ(tray()->tooltip, "Tip");
  EXPECT_EQ(tray()->image_path, "/icons/t.png");
  EXPECT_FALSE(tray()->template_image);
  EXPECT_EQ(tray()->menu, nullptr);
  tray()->click();
  EXPECT_EQ(lines(), (V{"TRAYCLICK"}));
  tray()->click(true);
  tray()->click(false, true);
  ASSERT_EQ(tray()->popped.size(), 2u);
  EXPECT_EQ(outline(*tray()->popped[0]), "A") << "role items do nothing in a tray menu";
  tray()->chosen(*tray()->popped[0]->items[0]);
  EXPECT_EQ(lines(), (V{"TRAY a"}));

  feed({"TRAYBEGIN T\tsf:star\tfalse", "ITEM b\tB", "TRAYEND"});
  EXPECT_EQ(tray()->icon_name, "star");
  EXPECT_TRUE(tray()->template_image) << "only \"0\" turns the template off";
  ASSERT_NE(tray()->menu, nullptr);
  tray()->click();
  EXPECT_EQ(tray()->opened.size(), 1u);
  EXPECT_TRUE(lines().empty()) << "a menu of its own: no TRAYCLICK";
}

TEST_F(Menus, ARemovedTrayItemNoLongerExists) {
  feed({"TRAYBEGIN Up", "ITEM t\tT", "TRAYEND"});
  EXPECT_EQ(menu_item_state_json("", "t"), "{\"exists\":true,\"label\":\"T\",\"checked\":false,\"enabled\":true}");
  EXPECT_EQ(tray_debug_json(),
            "{\"exists\":true,\"menuAttached\":true,\"menuHeld\":false,\"icon\":false,\"title\":\"Up\"}");
  feed({"TRAYREMOVE"});
  EXPECT_EQ(tray_debug_json(), "{\"exists\":false}");
  EXPECT_EQ(menu_item_state_json("", "t"), "{\"exists\":false}");
  EXPECT_EQ(tray_pos_json(), "null");
}

TEST_F(Menus, ItemStateLooksInTheBarsThenTheTrayThenTheContextMenu) {
  open("w2");
  feed({"MENUBEGIN", "MENU M", "ITEM a\tBar A", "MENUEND", "MENUBEGIN@w2", "MENU N", "ITEM b\tWin B\t\tc",
        "MENUEND", "TRAYBEGIN", "ITEM a\tTray A", "ITEM t\tTray T", "TRAYEND", "CTXBEGIN", "SUB s", "ITEM c\tCtx C\t\td",
        "ITEM t\tCtx T", "CTXEND"});
  struct Case {
    std::string scope, id, want;
  } cases[] = {
      {"", "a", R"({"exists":true,"label":"Bar A","checked":false,"enabled":true})"},
      {"", "b", R"({"exists":true,"label":"Win B","checked":true,"enabled":true})"},
      {"", "t", R"({"exists":true,"label":"Tray T","checked":false,"enabled":true})"},
      {"", "c", R"({"exists":true,"label":"Ctx C","checked":false,"enabled":false})"},
      {"w2", "a", R"({"exists":false})"},
      {"w2", "b", R"({"exists":true,"label":"Win B","checked":true,"enabled":true})"},
      {"w3", "a", R"({"exists":true,"label":"Bar A","checked":false,"enabled":true})"},
      {"w2", "t", R"({"exists":true,"label":"Ctx T","checked":false,"enabled":true})"},
      {"", "none", R"({"exists":false})"},
  };
  for (const Case& c : cases) EXPECT_EQ(menu_item_state_json(c.scope, c.id), c.want) << c.scope << ":" << c.id;
}

TEST_F(Menus, TheContextMenuIsTheBackendsNoneOrThePagesOwn) {
  EXPECT_EQ(main_view()->open_context_menu(), nullptr);
  feed({"CTXBEGIN", "ITEM a\tA", "SEP", "ROLEITEM copy", "SUB s\tMore", "ITEM b\tB", "CTXEND"});
  auto menu = main_view()->open_context_menu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(outline(*menu), "A|---|Copy^c|[More:B]");
  main_view()->ctx_chosen(*menu->items[3]->items[0]);
  EXPECT_EQ(lines(), (V{"CTX b"}));
  FakeWindow* w2 = open("w2");
  ASSERT_NE(w2, nullptr);
  EXPECT_EQ(outline(*view("w2")->open_context_menu()), "A|---|Copy^c|[More:B]") << "the same for every page";
  feed({"CTXSUPPRESS 1"});
  EXPECT_FALSE(main_view()->open_context_menu()->items.empty()) << "a custom menu wins over suppression";
  feed({"CTXCLEAR"});
  ASSERT_NE(main_view()->open_context_menu(), nullptr);
  EXPECT_TRUE(main_view()->open_context_menu()->items.empty());
  feed({"CTXSUPPRESS 0"});
  EXPECT_EQ(main_view()->open_context_menu(), nullptr);
}

class WindowlessMenus : public WindowlessTest {
 protected:
  void TearDown() override {
    WindowlessTest::TearDown();
    menu_bars_reset_for_tests();
    context_menu_reset_for_tests();
  }
};

TEST_F(WindowlessMenus, WindowsOpenedWithoutAMainWindowKeepThePagesContextMenu) {
  context_menu_reset_for_tests();
  CommandReader reader;
  for (const char* l : {"CTXBEGIN", "ITEM a\tA", "CTXEND"}) reader.handle_line(l);
  desktop.queue.drain();
  open("w2");
  EXPECT_EQ(view("w2")->open_context_menu(), nullptr);
}

}  // namespace
