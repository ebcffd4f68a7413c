#pragma once
// What the GET queries may read of the menus and the tray item.

#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "webui/menu_bar.h"

// The item registries a scope reads: a window's bar (the application bar when it
// has none), or for the empty scope the application bar's and every window bar's.
std::vector<MenuRegistry*> regs_for(const std::string& scope);

// The state of one menu item by id, as "item:<id>" and "item@<scope>:<id>" answer
// it: the first of the scope's bar registries holding the id, else (empty scope)
// the tray's, else the stored context-menu items; {"exists":false} when none.
std::string menu_item_state_json(const std::string& scope, const std::string& id);
// "debug:tray": whether there is a tray item, its menu and image, its title.
std::string tray_debug_json();
// "traypos": the tray item's rectangle on screen, "null" when it has none.
std::string tray_pos_json();

// MENUUPD and MENUUPD@<scope>: an item's label, check mark and enabled state.
void do_menu_update(void* w, std::unique_ptr<MenuUpdReq> r);
