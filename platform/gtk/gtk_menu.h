#pragma once
// The host's menu nodes drawn as GTK menus: a window's menu bar, a popup menu
// (the tray's fallback), a page's context menu; and the key equivalents the
// nodes name, as GTK key values and modifiers.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <memory>

#include "platform/menu.h"

namespace platform::gtk {

// Carries out an editing command on a page.
void run_editing_command(WebKitWebView* view, MenuCommand command);

// Where an editing command of a menu goes (null = nowhere).
using EditingTarget = std::function<WebKitWebView*()>;

// Fills shell with widgets for the items of menu and keeps them in step with
// changes posted for the nodes until shell is destroyed. Choosing an item calls
// chosen, or, for an editing command, carries it out on the page of target.
void fill_menu_shell(GtkMenuShell* shell, std::shared_ptr<const MenuNode> menu, MenuChosen chosen,
                     EditingTarget target);

// The key equivalent of a node as GTK shows it: key value and modifier mask; false
// when it has none this desktop can type.
bool node_accelerator(const MenuNode& node, guint& keyval, GdkModifierType& mods);

// A key event in the host's terms (Control as Command, Alt as Option, ...).
KeyChord key_chord_of(const GdkEventKey* event);

// Puts the items of menu into a page's context menu in place of its own.
void fill_context_menu(WebKitContextMenu* menu, std::shared_ptr<const MenuNode> items, MenuChosen chosen,
                       WebKitWebView* view);

}  // namespace platform::gtk
