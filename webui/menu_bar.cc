#include "webui/menu_bar.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "base/ascii_case.h"
#include "base/json_out.h"
#include "base/utf8.h"
#include "core/launcher.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "core/wire.h"
#include "platform/platform.h"

using platform::MenuCommand;
using platform::MenuNode;

MacBar g_app_bar;
std::map<std::string, MacBar> g_win_bars;
std::string g_key_win = "main";
std::string g_bar_showing;

namespace {

std::shared_ptr<MenuNode> separator() {
  auto n = std::make_shared<MenuNode>();
  n->separator = true;
  return n;
}

std::shared_ptr<MenuNode> submenu(const std::string& title) {
  auto n = std::make_shared<MenuNode>();
  n->title = title;
  return n;
}

std::shared_ptr<MenuNode> command_item(const std::string& title, MenuCommand c, const std::string& key,
                                       std::uint64_t mods) {
  auto n = std::make_shared<MenuNode>();
  n->title = title;
  n->command = c;
  n->key = key;
  n->modifiers = mods;
  return n;
}

const MenuSpec* first_with_role(const std::vector<MenuSpec>& menus, const char* role) {
  for (const MenuSpec& m : menus)
    if (m.role == role) return &m;
  return nullptr;
}

// The help-book item shows when the bundle names a help book.
bool has_help_book() { return !settings().help_book.empty(); }

void build_edit_menu(MenuNode& main, const std::vector<MenuSpec>& menus, MenuRegistry& registry, bool& done) {
  if (done) return;
  done = true;
  const MenuSpec* edit = first_with_role(menus, "edit");
  std::vector<MenuItemSpec> list;
  bool has_role = false;
  if (edit)
    for (const MenuItemSpec& i : edit->items) has_role = has_role || !i.role.empty();
  if (!has_role && !(edit && edit->nostd)) {
    MenuItemSpec standard;
    standard.role = "standard";
    list.push_back(standard);
    if (edit && !edit->items.empty()) {
      MenuItemSpec sep;
      sep.separator = true;
      list.push_back(sep);
    }
  }
  if (edit) list.insert(list.end(), edit->items.begin(), edit->items.end());
  if (list.empty()) return;
  auto menu = submenu("Edit");
  build_menu_into(*menu, list, MenuKind::kBar, &registry);
  main.items.push_back(menu);
}

// The windows that show a bar: the main window and every registered one.
template <class F>
void for_each_window(F fn) {
  if (platform::NativeWindow* main = window_for_id(g_w.load(), "main", Lookup::kProbe)) fn(std::string("main"), main);
  for (auto& [id, qw] : g_windows)
    if (qw.window) fn(id, qw.window.get());
}

// A key equivalent, as the character of its key, and whether Shift belongs to it.
bool key_matches(const MenuNode& n, const platform::KeyChord& k) {
  if (n.key.empty() || k.key.empty()) return false;
  const bool letter = n.key.size() == 1 && std::isalpha(static_cast<unsigned char>(n.key[0]));
  constexpr std::uint64_t kMods = platform::kModCommand | platform::kModControl | platform::kModOption;
  if ((n.modifiers & kMods) != (k.modifiers & kMods)) return false;
  if (letter) {
    const bool shift = std::isupper(static_cast<unsigned char>(n.key[0])) || (n.modifiers & platform::kModShift);
    return ascii_lower(n.key) == k.key && shift == k.shift;
  }
  // A symbol is the character typed, Shift included where the layout needs it.
  if ((n.modifiers & platform::kModShift) && !k.shift) return false;
  return n.key == k.key;
}

const MenuNode* find_key(const MenuNode& menu, const platform::KeyChord& k) {
  for (const auto& item : menu.items) {
    if (!item || item->separator) continue;
    if (!item->items.empty()) {
      if (const MenuNode* hit = find_key(*item, k)) return hit;
      continue;
    }
    if (item->enabled && item->tag == 0 && key_matches(*item, k)) return item.get();
  }
  return nullptr;
}

// The host's keys in a window, after its page: F12 alone opens the inspector in
// debug mode, then the menus' key equivalents, then the editing keys no menu
// item claims.
bool window_key_pressed(const std::string& window_id, const platform::KeyChord& k) {
  constexpr std::uint64_t kMods =
      platform::kModCommand | platform::kModControl | platform::kModOption | platform::kModShift;
  if (settings().debug_on && k.name == "F12" && !(k.modifiers & kMods) && !k.shift) {
    open_inspector_for_key_window();
    return true;
  }
  return menu_key_equivalent(window_id, k) || stock_key_fallback(window_id, k);
}

// Any item with the key, enabled or not: a disabled item keeps its key too.
bool claims_key(const MenuNode& menu, const platform::KeyChord& k) {
  for (const auto& item : menu.items) {
    if (!item || item->separator) continue;
    if (!item->items.empty() && claims_key(*item, k)) return true;
    if (key_matches(*item, k)) return true;
  }
  return false;
}

}  // namespace

std::uint64_t split_accel(const std::string& accel, std::string& key) {
  std::uint64_t mask = platform::kModCommand;
  key = accel;
  for (;;) {
    const size_t plus = key.find('+');
    if (plus == std::string::npos || plus == 0) return mask;
    const std::string word = ascii_lower(key.substr(0, plus));
    if (word == "alt" || word == "opt" || word == "option")
      mask |= platform::kModOption;
    else if (word == "ctrl" || word == "control")
      mask |= platform::kModControl;
    else if (word == "shift")
      mask |= platform::kModShift;
    else if (word != "cmd" && word != "command" && word != "meta" && word != "super")
      return mask;
    key = key.substr(plus + 1);
  }
}

void add_stock_items(MenuNode& parent, const std::string& role) {
  struct Stock {
    const char* role;
    const char* title;
    MenuCommand command;
    const char* key;
  };
  static const Stock kStock[] = {
      {"undo", "Undo", MenuCommand::kUndo, "z"},          {"redo", "Redo", MenuCommand::kRedo, "Z"},
      {"cut", "Cut", MenuCommand::kCut, "x"},             {"copy", "Copy", MenuCommand::kCopy, "c"},
      {"paste", "Paste", MenuCommand::kPaste, "v"},       {"selectAll", "Select All", MenuCommand::kSelectAll, "a"},
  };
  auto add = [&](const Stock& s) {
    parent.items.push_back(command_item(s.title, s.command, s.key, platform::kModCommand));
  };
  if (role == "standard") {
    add(kStock[0]);
    add(kStock[1]);
    parent.items.push_back(separator());
    for (int i = 2; i < 6; ++i) add(kStock[i]);
    return;
  }
  for (const Stock& s : kStock)
    if (role == s.role) add(s);
}

void build_menu_into(MenuNode& parent, const std::vector<MenuItemSpec>& items, MenuKind kind, MenuRegistry* registry) {
  for (const MenuItemSpec& spec : items) {
    if (!spec.role.empty()) {
      if (kind != MenuKind::kTray) add_stock_items(parent, spec.role);
      continue;
    }
    if (spec.separator) {
      parent.items.push_back(separator());
      continue;
    }
    auto n = std::make_shared<MenuNode>();
    n->title = spec.label;
    n->id = spec.id;
    std::string key;
    const std::uint64_t mask = split_accel(spec.accel, key);
    n->key = key;
    if (!key.empty()) n->modifiers = mask;
    n->checked = spec.checked;
    n->enabled = !spec.disabled;
    n->tag = spec.disabled ? 1 : 0;
    if (!spec.submenu.empty()) build_menu_into(*n, spec.submenu, kind, registry);
    if (registry && !spec.id.empty()) (*registry)[spec.id] = n;
    parent.items.push_back(n);
  }
}

void build_bar(MacBar& bar) {
  auto main = std::make_shared<MenuNode>();
  auto registry = std::make_shared<MenuRegistry>();
  bar.help = nullptr;

  auto app = submenu(settings().app_name);
  app->items.push_back(command_item("About " + settings().app_name, MenuCommand::kAbout, "", 0));
  app->items.push_back(separator());
  if (const MenuSpec* a = first_with_role(bar.menus, "app"); a && !a->items.empty()) {
    build_menu_into(*app, a->items, MenuKind::kBar, registry.get());
    app->items.push_back(separator());
  }
  app->items.push_back(command_item("Quit " + settings().app_name, MenuCommand::kQuit, "q", platform::kModCommand));
  main->items.push_back(app);

  bool edit_done = false;
  if (!first_with_role(bar.menus, "edit")) build_edit_menu(*main, bar.menus, *registry, edit_done);
  for (const MenuSpec& m : bar.menus) {
    if (m.role.empty()) {
      auto menu = submenu(m.title);
      build_menu_into(*menu, m.items, MenuKind::kBar, registry.get());
      main->items.push_back(menu);
    } else if (m.role == "edit") {
      build_edit_menu(*main, bar.menus, *registry, edit_done);
    }
  }

  if (settings().debug_on) {
    auto develop = submenu("Develop");
    develop->items.push_back(command_item("Show Web Inspector", MenuCommand::kShowDevTools, "i",
                                          platform::kModCommand | platform::kModOption));
    main->items.push_back(develop);
  }

  const MenuSpec* help = first_with_role(bar.menus, "help");
  const bool book = has_help_book() && !(help && help->nostd);
  if (book || (help && !help->items.empty())) {
    auto menu = submenu("Help");
    if (book) menu->items.push_back(command_item(settings().app_name + " Help", MenuCommand::kShowHelp, "?", platform::kModCommand));
    if (book && help && !help->items.empty()) menu->items.push_back(separator());
    if (help) build_menu_into(*menu, help->items, MenuKind::kBar, registry.get());
    bar.help = menu.get();
    main->items.push_back(menu);
  }

  bar.main = main;
  bar.registry = registry;
  bar.built = true;
}

MacBar& bar_source_for(const std::string& window_id) {
  auto it = g_win_bars.find(window_id);
  return it != g_win_bars.end() ? it->second : g_app_bar;
}

void show_bar_in_window(const std::string& window_id, platform::NativeWindow* window) {
  if (!window) return;
  MacBar& bar = bar_source_for(window_id);
  if (!bar.built) build_bar(bar);
  window->set_menu_bar(bar.main, [](const MenuNode& item) { menu_item_chosen(MenuKind::kBar, item); });
  window->set_key_handler([id = window_id](const platform::KeyChord& k) { return window_key_pressed(id, k); });
}

void install_bar_for(const std::string& window_id, bool force) {
  const std::string shown = g_win_bars.count(window_id) ? window_id : "";
  MacBar& bar = bar_source_for(window_id);
  g_key_win = window_id;
  if (!force && shown == g_bar_showing && bar.built) return;
  if (!bar.built) build_bar(bar);
  g_bar_showing = shown;
}

void reinstall_current_bar() { install_bar_for(g_key_win, true); }

void apply_menus(void*, std::unique_ptr<std::vector<MenuSpec>> menus) {
  g_app_bar.menus = std::move(*menus);
  build_bar(g_app_bar);
  // Every window without a bar of its own shows the application bar.
  for_each_window([](const std::string& id, platform::NativeWindow* win) {
    if (!g_win_bars.count(id)) show_bar_in_window(id, win);
  });
}

void apply_win_menu(const std::string& window_id, std::vector<MenuSpec> menus, bool set) {
  platform::NativeWindow* window = window_for_id(g_w.load(), window_id, Lookup::kProbe);
  if (set) {
    // Kept by id whether or not the window is open yet: a bar described before its
    // WINOPEN shows when the window opens. One bar per id, a later one replacing
    // it; the window's close forgets it, as MENURESET@ does.
    if (window_id != "main" && !window_id_acceptable(window_id)) {
      std::fprintf(stderr, "quibex: the menu bar for the window id %s is dropped: no window can have that id\n",
                   json_escape(utf8_sanitize(window_id)).c_str());
      return;
    }
    MacBar& bar = g_win_bars[window_id];
    bar.menus = std::move(menus);
    build_bar(bar);
  } else {
    auto it = g_win_bars.find(window_id);
    if (it == g_win_bars.end()) return;
    g_win_bars.erase(it);
  }
  if (window) show_bar_in_window(window_id, window);
  if (window_id == g_key_win) reinstall_current_bar();
}

void do_win_menu_set(void*, std::unique_ptr<WinMenuReq> r) {
  apply_win_menu(r->window, std::move(r->menus), true);
}

void do_win_menu_reset(void*, std::unique_ptr<std::string> id) {
  apply_win_menu(*id, {}, false);
}

void install_key_window_observer() {
  static int token = 0;
  if (token) return;
  token = platform::add_window_observer([](platform::NativeWindow* window, platform::WindowNote note) {
    if (note != platform::WindowNote::kDidBecomeKey) return;
    const std::string id = winid_for_window(window);
    if (!id.empty()) install_bar_for(id, false);
  });
}

void show_about() {
  if (g_about_to_app.load()) {
    sock_write_line("MENU about");
    return;
  }
  platform::AboutPanel about;
  about.name = settings().app_name;
  about.version = "Version " + settings().app_version;
  about.attribution = settings().attribution;
  about.credits_file = settings().credits_file;
  platform::current().show_about_panel(about);
}

void open_inspector_for_key_window() {
  void* w = g_w.load();
  if (!w) return;
  std::string id = "main";
  for_each_window([&](const std::string& wid, platform::NativeWindow* win) {
    if (win->is_key()) id = wid;
  });
  if (platform::WebView* view = webview_for_id(w, id)) view->open_inspector();
}

void menu_item_chosen(MenuKind kind, const MenuNode& item) {
  switch (item.command) {
    case MenuCommand::kChoose:
      // Every item the backend described names itself, an empty id included.
      sock_write_line((kind == MenuKind::kBar ? "MENU " : kind == MenuKind::kTray ? "TRAY " : "CTX ") + item.id);
      return;
    case MenuCommand::kAbout:
      show_about();
      return;
    case MenuCommand::kQuit:
      do_terminate(nullptr);
      return;
    case MenuCommand::kShowDevTools:
      open_inspector_for_key_window();
      return;
    case MenuCommand::kShowHelp:
      platform::current().show_help(settings().help_book);
      return;
    default:
      return;  // editing commands are the desktop's, on the menu's page
  }
}

bool menu_key_equivalent(const std::string& window_id, const platform::KeyChord& key) {
  MacBar& bar = bar_source_for(window_id);
  if (!bar.built || !bar.main) return false;
  const MenuNode* item = find_key(*bar.main, key);
  if (!item) return false;
  if (item->command >= MenuCommand::kUndo) {
    if (platform::WebView* view = webview_for_id(g_w.load(), window_id)) view->editing_command(item->command);
    return true;
  }
  menu_item_chosen(MenuKind::kBar, *item);
  return true;
}

bool menu_bar_exists(const std::string& window_id) {
  MacBar& bar = bar_source_for(window_id);
  return bar.built && bar.main;
}

bool menu_claims_key(const std::string& window_id, const platform::KeyChord& key) {
  MacBar& bar = bar_source_for(window_id);
  return bar.built && bar.main && claims_key(*bar.main, key);
}

bool stock_key_fallback(const std::string& window_id, const platform::KeyChord& k) {
  constexpr std::uint64_t kMods =
      platform::kModCommand | platform::kModControl | platform::kModOption | platform::kModShift;
  std::uint64_t m = k.modifiers & kMods;
  if (k.shift) m |= platform::kModShift;
  if (!(m & platform::kModCommand)) return false;
  platform::MenuCommand action;
  if (m == platform::kModCommand && k.key == "z") action = platform::MenuCommand::kUndo;
  else if (m == platform::kModCommand && k.key == "x") action = platform::MenuCommand::kCut;
  else if (m == platform::kModCommand && k.key == "c") action = platform::MenuCommand::kCopy;
  else if (m == platform::kModCommand && k.key == "v") action = platform::MenuCommand::kPaste;
  else if (m == platform::kModCommand && k.key == "a") action = platform::MenuCommand::kSelectAll;
  else if (m == (platform::kModCommand | platform::kModShift) && k.key == "z") action = platform::MenuCommand::kRedo;
  else return false;
  if (!menu_bar_exists(window_id) || menu_claims_key(window_id, k)) return false;
  platform::WebView* view = webview_for_id(g_w.load(), window_id);
  if (!view) return false;
  view->editing_command(action);
  return true;
}

void menu_bars_reset_for_tests() {
  g_app_bar = MacBar{};
  g_win_bars.clear();
  g_key_win = "main";
  g_bar_showing.clear();
}
