#pragma once
// The tray item: its image, title, tooltip and menu, and its clicks. Main thread.

#include <memory>

#include "core/menu_model.h"
#include "platform/platform.h"
#include "webui/menu_bar.h"

extern std::unique_ptr<platform::StatusItem> g_status_item;
// The tray menu while clicks are reported (it opens on a secondary click); null otherwise.
extern std::shared_ptr<platform::MenuNode> g_tray_menu;
// Tray item id -> node, renewed by every tray update.
extern std::shared_ptr<MenuRegistry> g_reg_tray;

// A click on the tray item while it has no menu of its own.
void tray_clicked(bool secondary, bool control);
void tray_reset_for_tests();

// TRAYEND and TRAYREMOVE.
void apply_tray(void* w, std::unique_ptr<TraySpec> spec);
