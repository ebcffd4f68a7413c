#pragma once
// Native menus as the host builds them: a tree of nodes that the desktop draws
// as a window's menu bar, the tray item's menu or a page's context menu. The host
// owns the nodes and changes them in place (title, check mark, enabled); it then
// posts the change and every menu showing the node follows.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What choosing an item does.
enum class MenuCommand {
  kChoose,        // the host hears the item (it reports the item's id)
  kAbout,         // the host's About
  kQuit,          // the host ends
  kShowDevTools,  // the inspector of the key window's page
  kShowHelp,      // the application's help
  // Editing commands the desktop carries out on the page the menu belongs to
  // (the focused window's page for a menu bar).
  kUndo,
  kRedo,
  kCut,
  kCopy,
  kPaste,
  kSelectAll,
};

// Key-equivalent modifier bits, as the host's menus describe them.
inline constexpr std::uint64_t kModShift = 0x20000;
inline constexpr std::uint64_t kModControl = 0x40000;
inline constexpr std::uint64_t kModOption = 0x80000;
inline constexpr std::uint64_t kModCommand = 0x100000;

struct MenuNode {
  std::string title;
  bool separator = false;
  MenuCommand command = MenuCommand::kChoose;
  std::string id;                 // what kChoose reports; "" = nothing
  std::string key;                // key equivalent, one character; "" = none
  std::uint64_t modifiers = 0;    // with the key
  bool checked = false;
  bool enabled = true;
  int tag = 0;                    // 1 = refused by validation
  std::vector<std::shared_ptr<MenuNode>> items;  // a submenu; a bar's menus
};

using MenuChosen = std::function<void(const MenuNode& item)>;

// Says that a node's title, check mark or enabled state changed; every menu that
// shows it follows. Main thread.
void post_menu_change(const MenuNode* node);
using MenuObserver = std::function<void(const MenuNode*)>;
int add_menu_observer(MenuObserver fn);
void remove_menu_observer(int token);

// A key press as the desktop reports it to the host before the page sees it:
// the character of the key (UTF-8, letters in lower case) and the modifiers held,
// in the menus' bits (the desktop's primary modifier reads as Command). A key
// that types no character has a name instead ("F12").
struct KeyChord {
  std::string key;
  std::uint64_t modifiers = 0;
  bool shift = false;  // Shift was held (also without kModShift in modifiers)
  std::string name;    // only without a character: "F1" .. "F35", other keys as the desktop names them
};

}  // namespace platform
