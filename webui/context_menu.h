#pragma once
// The pages' context menu: the backend's own items, none at all, or the page's.
// Main thread.

#include <vector>

#include "core/menu_model.h"
#include "platform/webview.h"

extern std::vector<MenuItemSpec> g_ctx_items;
extern bool g_ctx_active;    // the backend's items replace the page's menu
extern bool g_ctx_suppress;  // no menu at all while no custom one is active

// Start-up puts the hook in place with the main window; from then on every web
// view gets it (so windowless mode has none).
void install_ctx_hook();
// Gives a web view the hook, once it is in place.
void apply_ctx_hook(platform::WebView* view);
// What the view shows when its context menu opens (see WebView).
std::shared_ptr<const platform::MenuNode> context_menu_for_page();

// Depth first, submenus included: the first item with this id, or null.
MenuItemSpec* find_ctx_spec(std::vector<MenuItemSpec>& items, const std::string& id);

void context_menu_reset_for_tests();

// CTXEND and CTXCLEAR; CTXSUPPRESS.
void apply_ctx(void* w, std::unique_ptr<CtxReq> r);
void apply_ctx_suppress(void* w, std::unique_ptr<bool> v);
