// Key combinations, hot keys, posted keys, the editing-key fallback and the
// first-click flag, on the fake desktop.

#include <string>
#include <vector>

#include "core/reader.h"
#include "tests/unit/core/window_test_support.h"
#include "webui/keys.h"
#include "webui/menu_bar.h"

using V = std::vector<std::string>;

TEST(Combo, ReadsModifiersAndExactlyOneKey) {
  struct Case {
    std::string text;
    bool cmd, ctrl, alt, shift, win;
    std::string key;  // "" = not valid
  };
  const std::vector<Case> cases = {
      {"cmd+shift+k", true, false, false, true, false, "k"},
      {"Command+Control+Option+Shift+F12", true, true, true, true, false, "f12"},
      {"meta+opt+alt+ctrl+x", true, true, true, false, false, "x"},
      {"super+k", false, false, false, false, true, "k"},
      {"win+Enter", false, false, false, false, true, "return"},
      {"K", false, false, false, false, false, "k"},
      {"cmd+=", true, false, false, false, false, "equal"},
      {"cmd+pgdn", true, false, false, false, false, "pagedown"},
      {"cmd+", true, false, false, false, false, ""},   // an empty part
      {"cmd++", true, false, false, false, false, ""},
      {"+k", false, false, false, false, false, ""},
      {"cmd+k+j", true, false, false, false, false, ""},  // two keys
      {"cmd", true, false, false, false, false, ""},      // a modifier alone
      {"", false, false, false, false, false, ""},
  };
  for (const auto& c : cases) {
    const Combo r = read_combo(c.text);
    EXPECT_EQ(r.valid, !c.key.empty()) << c.text;
    EXPECT_EQ(r.key, c.key) << c.text;
    EXPECT_EQ(r.cmd, c.cmd) << c.text;
    EXPECT_EQ(r.ctrl, c.ctrl) << c.text;
    EXPECT_EQ(r.alt, c.alt) << c.text;
    EXPECT_EQ(r.shift, c.shift) << c.text;
    EXPECT_EQ(r.win, c.win) << c.text;
  }
}

TEST(Combo, KeyNamesAndCodes) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"'", "quote"}, {",", "comma"}, {"-", "minus"}, {".", "period"}, {"/", "slash"}, {";", "semicolon"},
      {"=", "equal"}, {"[", "bracketleft"}, {"\\", "backslash"}, {"]", "bracketright"}, {"`", "grave"},
      {"a", "a"}, {"enter", "return"}, {"esc", "escape"}, {"delete", "backspace"}, {"del", "backspace"},
      {"apostrophe", "quote"}, {"equals", "equal"}, {"backtick", "grave"}, {"pgup", "pageup"},
      {"pgdn", "pagedown"}, {"f13", "f13"}, {"Enter", "Enter"}};  // the table is lower case only
  for (const auto& [in, want] : names) EXPECT_EQ(canonical_key(in), want) << in;
  const std::vector<std::pair<std::string, int>> codes = {
      {"a", 0}, {"k", 40}, {"z", 6}, {"0", 29}, {"5", 23}, {"return", 36}, {"enter", 36}, {"escape", 53},
      {"space", 49}, {"tab", 48}, {"left", 123}, {"up", 126}, {"f1", 122}, {"f12", 111}, {"f20", 90},
      {"f21", -1}, {"backspace", 51}, {"forwarddelete", 117}, {"home", 115}, {"pagedown", 121},
      {"grave", 50}, {"quote", 39}, {"", -1}, {"K", -1}};
  for (const auto& [name, code] : codes) EXPECT_EQ(keycode_for(name), code) << name;
}

class Keys : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    hotkeys_reset_for_tests();
    menu_bars_reset_for_tests();
    install_key_window_observer();
    apply_menus(w(), std::make_unique<std::vector<MenuSpec>>());
    wire.lines();
  }
  void TearDown() override {
    WindowTest::TearDown();
    hotkeys_reset_for_tests();
    menu_bars_reset_for_tests();
  }
  V feed(const V& lines) {
    for (const std::string& l : lines) reader.handle_line(l);
    desktop.queue.drain();
    return wire.lines();
  }
  std::string hkreg(const std::string& id, const std::string& name, const std::string& combo) {
    V out = feed({"HKREG " + id + " " + name + "\t" + combo});
    return out.size() == 1 ? out[0] : "(" + std::to_string(out.size()) + " lines)";
  }
  platform::fake::FakeDesktopKeys& keys() { return desktop.keys; }
  CommandReader reader;
};

TEST_F(Keys, RegistrationAnswersAndWhatIsGrabbed) {
  using platform::kHotCommand, platform::kHotShift, platform::kHotControl, platform::kHotOption;
  struct Case {
    std::string combo;
    std::string answer;
    int code;
    std::uint32_t mods;
  };
  const std::string ok = "{\"ok\":true}";
  const std::string bad = "{\"ok\":false,\"error\":\"needs exactly one key plus modifiers\"}";
  const std::vector<Case> cases = {
      {"Cmd+Shift+K", ok, 40, kHotCommand | kHotShift},
      {"super+k", ok, 40, kHotCommand},
      {"ctrl+alt+space", ok, 49, kHotControl | kHotOption},
      {"cmd+f12", ok, 111, kHotCommand},
      {"cmd+enter", ok, 36, kHotCommand},
      {"cmd+return", ok, 36, kHotCommand},
      {"cmd+delete", ok, 51, kHotCommand},
      {"cmd+forwarddelete", ok, 117, kHotCommand},
      {"cmd+f21", "{\"ok\":false,\"error\":\"unknown key\"}", -1, 0},
      {"cmd+", bad, -1, 0},
      {"cmd", bad, -1, 0},
      {"cmd+k+j", bad, -1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hkreg("r", "t", c.combo), "GOT r " + c.answer) << c.combo;
    if (c.code < 0) {
      EXPECT_TRUE(keys().grabs.empty()) << c.combo << ": a failed registration leaves the name without a key";
      continue;
    }
    ASSERT_EQ(keys().grabs.size(), 1u) << c.combo << ": the name's earlier key is released";
    EXPECT_EQ(keys().grabs.begin()->second.code, c.code) << c.combo;
    EXPECT_EQ(keys().grabs.begin()->second.modifiers, c.mods) << c.combo;
  }
}

TEST_F(Keys, PressesNameTheirHotKeyUntilItGoes) {
  EXPECT_EQ(hkreg("a", "toggle", "cmd+shift+k"), "GOT a {\"ok\":true}");
  EXPECT_EQ(hkreg("b", "other", "alt+f1"), "GOT b {\"ok\":true}");
  keys().press(40, platform::kHotCommand | platform::kHotShift);
  keys().press(122, platform::kHotOption);
  keys().press(40, platform::kHotCommand);  // not grabbed
  EXPECT_EQ(wire.lines(), (V{"HOTKEY toggle", "HOTKEY other"}));

  // The same name on another key: the old key no longer names it.
  EXPECT_EQ(hkreg("c", "toggle", "cmd+j"), "GOT c {\"ok\":true}");
  keys().press(40, platform::kHotCommand | platform::kHotShift);
  keys().press(38, platform::kHotCommand);
  EXPECT_EQ(wire.lines(), (V{"HOTKEY toggle"}));

  // HKUNREG answers nothing, for a known name or not.
  EXPECT_EQ(feed({"HKUNREG toggle", "HKUNREG never"}), V{});
  keys().press(38, platform::kHotCommand);
  EXPECT_EQ(wire.lines(), V{});
  EXPECT_EQ(keys().grabs.size(), 1u);
  // An empty combination only unregisters, and says so.
  EXPECT_EQ(hkreg("d", "other", ""), "GOT d {\"ok\":true}");
  EXPECT_TRUE(keys().grabs.empty());
  // Without a request id nothing is answered, but the key is registered.
  EXPECT_EQ(feed({"HKREG  quiet\tcmd+q"}), V{});
  keys().press(12, platform::kHotCommand);
  EXPECT_EQ(wire.lines(), (V{"HOTKEY quiet"}));
}

TEST_F(Keys, AKeyAnotherApplicationHoldsIsRefused) {
  keys().taken.push_back({40, platform::kHotCommand});
  const std::string refused = "GOT r {\"ok\":false,\"error\":\"the system refused it (already taken?)\"}";
  EXPECT_EQ(hkreg("r", "k", "cmd+k"), refused);
  EXPECT_TRUE(keys().grabs.empty());
  // A name that had a key and fails to get another ends with none.
  EXPECT_EQ(hkreg("s", "k2", "cmd+l"), "GOT s {\"ok\":true}");
  EXPECT_EQ(hkreg("r", "k2", "cmd+k"), refused);
  EXPECT_TRUE(keys().grabs.empty());
  keys().press(37, platform::kHotCommand);
  EXPECT_EQ(wire.lines(), V{});
  // One key, one owner: a second name for a key already grabbed is refused too.
  EXPECT_EQ(hkreg("t", "a", "ctrl+1"), "GOT t {\"ok\":true}");
  EXPECT_EQ(hkreg("r", "b", "control+1"), refused);
  keys().press(18, platform::kHotControl);
  EXPECT_EQ(wire.lines(), (V{"HOTKEY a"}));
}

TEST_F(Keys, KeystrokesArePostedWithTheirModifiers) {
  struct Case {
    std::string combo;
    bool trusted;
    std::string answer;
    int code;  // -1: nothing posted
    std::uint64_t mods;
  };
  const std::vector<Case> cases = {
      {"cmd+v", true, "{\"ok\":true,\"trusted\":true}", 9, platform::kModCommand},
      {"super+shift+tab", true, "{\"ok\":true,\"trusted\":true}", 48, platform::kModCommand | platform::kModShift},
      {"ctrl+alt+left", true, "{\"ok\":true,\"trusted\":true}", 123, platform::kModControl | platform::kModOption},
      {"cmd+v", false, "{\"ok\":false,\"trusted\":false}", 9, platform::kModCommand},  // posted all the same
      {"cmd+f21", true, "{\"ok\":false,\"trusted\":true}", -1, 0},
      {"cmd+", true, "{\"ok\":false,\"trusted\":true}", -1, 0},
      {"", false, "{\"ok\":false,\"trusted\":false}", -1, 0},
      // The keyboard map has no key for it: tried, and not reported as done.
      {"cmd+f20", true, "{\"ok\":false,\"trusted\":true}", 90, platform::kModCommand},
  };
  keys().missing_keys = {90};
  for (const auto& c : cases) {
    keys().trusted = c.trusted;
    keys().posted.clear();
    EXPECT_EQ(feed({"KEYSTROKE k " + c.combo}), (V{"GOT k " + c.answer})) << c.combo;
    if (c.code < 0) {
      EXPECT_TRUE(keys().posted.empty()) << c.combo;
    } else {
      ASSERT_EQ(keys().posted.size(), 1u) << c.combo;
      EXPECT_EQ(keys().posted[0].code, c.code) << c.combo;
      EXPECT_EQ(keys().posted[0].modifiers, c.mods) << c.combo;
    }
  }
}

TEST_F(Keys, EditingKeysWorkWithoutAnEditMenu) {
  using platform::MenuCommand, platform::kModCommand, platform::kModShift, platform::kModOption, platform::kModControl;
  feed({"MENUBEGIN", "MENUROLE edit\tnostd", "MENUEND"});
  struct Case {
    std::string key;
    std::uint64_t mods;
    bool shift;
    std::optional<MenuCommand> want;
  };
  const std::vector<Case> cases = {
      {"z", kModCommand, false, MenuCommand::kUndo},   {"x", kModCommand, false, MenuCommand::kCut},
      {"c", kModCommand, false, MenuCommand::kCopy},   {"v", kModCommand, false, MenuCommand::kPaste},
      {"a", kModCommand, false, MenuCommand::kSelectAll}, {"z", kModCommand, true, MenuCommand::kRedo},
      {"z", kModCommand | kModShift, false, MenuCommand::kRedo},
      {"z", kModCommand | kModOption, false, std::nullopt},  // modifiers are compared exactly
      {"c", kModCommand, true, std::nullopt},
      {"c", kModCommand | kModControl, false, std::nullopt},
      {"c", 0, false, std::nullopt},
      {"b", kModCommand, false, std::nullopt},
  };
  for (const auto& c : cases) {
    main_view()->editing.clear();
    EXPECT_EQ(main_window()->press(c.key, c.mods, c.shift), c.want.has_value()) << c.key << " " << c.mods;
    if (c.want) {
      ASSERT_EQ(main_view()->editing.size(), 1u) << c.key;
      EXPECT_EQ(main_view()->editing[0], *c.want) << c.key;
    } else {
      EXPECT_TRUE(main_view()->editing.empty()) << c.key;
    }
  }
  // The page of the window that heard the key.
  FakeWindow* other = open("other");
  install_bar_for("other", true);
  wire.lines();
  EXPECT_TRUE(other->press("v"));
  EXPECT_EQ(view("other")->editing, (std::vector<MenuCommand>{MenuCommand::kPaste}));
  EXPECT_EQ(wire.lines(), V{});
}

TEST_F(Keys, AMenuItemWithTheKeyTakesItFirst) {
  feed({"MENUBEGIN", "MENUROLE edit\tnostd", "MENU File", "ITEM mine\tMine\tcmd+c", "ITEM off\tOff\tcmd+x", "MENUEND"});
  feed({"MENUUPD off\t\t\t0"});
  EXPECT_TRUE(main_window()->press("c"));
  EXPECT_EQ(wire.lines(), (V{"MENU mine"}));
  EXPECT_TRUE(main_view()->editing.empty());
  // A disabled item still claims its key: nothing happens.
  EXPECT_FALSE(main_window()->press("x"));
  EXPECT_TRUE(main_view()->editing.empty());
  EXPECT_EQ(wire.lines(), V{});
  // The default bar's Edit menu runs the same command the fallback would.
  feed({"MENUBEGIN", "MENUEND"});
  EXPECT_TRUE(main_window()->press("x"));
  EXPECT_EQ(main_view()->editing, (std::vector<platform::MenuCommand>{platform::MenuCommand::kCut}));
}

TEST_F(Keys, TheFirstClickFollowsEachViewsFlag) {
  install_first_mouse_hook();
  ASSERT_TRUE(keys().first_click);
  open("w2");
  EXPECT_FALSE(keys().first_click(main_view()));
  EXPECT_FALSE(keys().first_click(view("w2")));
  set_accepts_first_mouse(view("w2"), true);
  EXPECT_TRUE(keys().first_click(view("w2")));
  EXPECT_FALSE(keys().first_click(main_view()));
  EXPECT_FALSE(keys().first_click(nullptr));
}
