#pragma once
// Menu bars: the application bar and the windows' own bars, built from the
// backend's menu descriptions into native menu nodes. Linux has no global bar:
// every window shows the bar that would be installed while it is key (its own,
// else the application bar). Main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/menu_model.h"
#include "platform/menu.h"
#include "platform/window.h"

using MenuRegistry = std::map<std::string, std::shared_ptr<platform::MenuNode>>;

// One menu bar: its description and what was built from it.
struct MacBar {
  std::vector<MenuSpec> menus;
  std::shared_ptr<platform::MenuNode> main;  // its items are the bar's menus
  platform::MenuNode* help = nullptr;         // the Help menu inside main, if any
  std::shared_ptr<MenuRegistry> registry;    // item id -> node, for updates and queries
  bool built = false;
};

extern MacBar g_app_bar;
extern std::map<std::string, MacBar> g_win_bars;
extern std::string g_key_win;      // the window whose bar was last asked for
extern std::string g_bar_showing;  // whose bar is installed: a window id, "" = the application bar

// Where a menu is shown decides what choosing one of its items reports.
enum class MenuKind { kBar, kTray, kContext };

// The modifier mask and key of an accelerator text like "cmd+shift+k".
std::uint64_t split_accel(const std::string& accel, std::string& key);

// Appends the nodes of items to parent; items with an id go into registry when
// one is given (a later item takes the id's entry). Tray menus ignore roles.
void build_menu_into(platform::MenuNode& parent, const std::vector<MenuItemSpec>& items, MenuKind kind,
                     MenuRegistry* registry);
void add_stock_items(platform::MenuNode& parent, const std::string& role);
void build_bar(MacBar& bar);

MacBar& bar_source_for(const std::string& window_id);
void install_bar_for(const std::string& window_id, bool force);
void reinstall_current_bar();
void apply_win_menu(const std::string& window_id, std::vector<MenuSpec> menus, bool set);

// Shows the bar a window should show; called when a window is made and whenever
// its bar changes.
void show_bar_in_window(const std::string& window_id, platform::NativeWindow* window);
// The key-window observer: the bar follows the window that becomes key.
void install_key_window_observer();

// Carries out a chosen item of a menu of this kind (sends MENU, TRAY or CTX for
// backend items; About, Quit, the inspector, help).
void menu_item_chosen(MenuKind kind, const platform::MenuNode& item);
// A key press in a window: true when it was the key equivalent of an enabled
// item of the bar that window shows, which is then chosen.
bool menu_key_equivalent(const std::string& window_id, const platform::KeyChord& key);

// The About item: "MENU about" when the backend asked for it, else the panel.
void show_about();
// The inspector of the key window's page.
void open_inspector_for_key_window();

// Whether the window has a bar at all, and whether an item of it (enabled or
// not) has this key equivalent.
bool menu_bar_exists(const std::string& window_id);
bool menu_claims_key(const std::string& window_id, const platform::KeyChord& key);
// The editing keys (Command-Z/X/C/V/A, Command-Shift-Z) that no menu item of the
// window's bar claims run the editing command on the window's page. True when
// the key was taken.
bool stock_key_fallback(const std::string& window_id, const platform::KeyChord& key);

// Forgets every bar; for tests that share the process.
void menu_bars_reset_for_tests();

// MENUEND: the application bar, or a window's own bar (MENUBEGIN@<w>). MENURESET@:
// the window (by id) goes back to the application bar.
void apply_menus(void* w, std::unique_ptr<std::vector<MenuSpec>> menus);
void do_win_menu_set(void* w, std::unique_ptr<WinMenuReq> r);
void do_win_menu_reset(void* w, std::unique_ptr<std::string> id);
