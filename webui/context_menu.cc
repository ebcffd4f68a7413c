#include "webui/context_menu.h"

#include <memory>

#include "webui/menu_bar.h"

std::vector<MenuItemSpec> g_ctx_items;
bool g_ctx_active = false;
bool g_ctx_suppress = false;

namespace {
bool g_ctx_hook = false;
}

void install_ctx_hook() { g_ctx_hook = true; }

void apply_ctx_hook(platform::WebView* view) {
  if (!view || !g_ctx_hook) return;
  view->set_context_menu_provider(context_menu_for_page, [](const platform::MenuNode& item) {
    menu_item_chosen(MenuKind::kContext, item);
  });
}

std::shared_ptr<const platform::MenuNode> context_menu_for_page() {
  if (g_ctx_active) {
    // Built anew each time, so item updates show the next time it opens.
    auto menu = std::make_shared<platform::MenuNode>();
    build_menu_into(*menu, g_ctx_items, MenuKind::kContext, nullptr);
    return menu;
  }
  if (g_ctx_suppress) return std::make_shared<platform::MenuNode>();
  return nullptr;
}

MenuItemSpec* find_ctx_spec(std::vector<MenuItemSpec>& items, const std::string& id) {
  for (MenuItemSpec& item : items) {
    if (item.id == id) return &item;
    if (MenuItemSpec* hit = find_ctx_spec(item.submenu, id)) return hit;
  }
  return nullptr;
}

void apply_ctx(void*, std::unique_ptr<CtxReq> r) {
  g_ctx_items = std::move(r->items);
  g_ctx_active = r->active;
}

void apply_ctx_suppress(void*, std::unique_ptr<bool> v) {
  g_ctx_suppress = *v;
}

void context_menu_reset_for_tests() {
  g_ctx_items.clear();
  g_ctx_active = false;
  g_ctx_suppress = false;
  g_ctx_hook = false;
}
