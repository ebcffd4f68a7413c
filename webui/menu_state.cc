// MENUUPD, and what GET reads of the menus and the tray.

#include "webui/menu_state.h"

#include <memory>

#include "base/json_out.h"
#include "core/records.h"
#include "core/window_screens.h"
#include "webui/context_menu.h"
#include "webui/menu_bar.h"
#include "webui/tray.h"

namespace {

// The tray's items count only while there is a tray item: the registry outlives
// TRAYREMOVE, but a removed item exists no more.
MenuRegistry* tray_registry() { return g_status_item && g_reg_tray ? g_reg_tray.get() : nullptr; }

}  // namespace

std::vector<MenuRegistry*> regs_for(const std::string& scope) {
  std::vector<MenuRegistry*> out;
  if (!scope.empty()) {
    if (MacBar& bar = bar_source_for(scope); bar.registry) out.push_back(bar.registry.get());
    return out;
  }
  if (g_app_bar.registry) out.push_back(g_app_bar.registry.get());
  for (auto& [id, bar] : g_win_bars)
    if (bar.registry) out.push_back(bar.registry.get());
  return out;
}

void do_menu_update(void*, std::unique_ptr<MenuUpdReq> r) {
  std::vector<platform::MenuNode*> nodes;
  for (MenuRegistry* reg : regs_for(r->scope))
    if (auto it = reg->find(r->id); it != reg->end()) nodes.push_back(it->second.get());
  if (r->scope.empty())
    if (MenuRegistry* tray = g_reg_tray.get())
      if (auto it = tray->find(r->id); it != tray->end()) nodes.push_back(it->second.get());
  for (platform::MenuNode* n : nodes) {
    if (!r->label.empty()) n->title = r->label;
    if (!r->checked.empty()) n->checked = r->checked == "1";
    if (!r->enabled.empty()) {
      n->enabled = r->enabled == "1";
      n->tag = n->enabled ? 0 : 1;
    }
    platform::post_menu_change(n);
  }
  if (MenuItemSpec* spec = find_ctx_spec(g_ctx_items, r->id)) {
    if (!r->label.empty()) spec->label = r->label;
    if (!r->checked.empty()) spec->checked = r->checked == "1";
    if (!r->enabled.empty()) spec->disabled = r->enabled == "0";
  }
}

std::string menu_item_state_json(const std::string& scope, const std::string& id) {
  const platform::MenuNode* item = nullptr;
  for (MenuRegistry* reg : regs_for(scope))
    if (auto it = reg->find(id); it != reg->end()) {
      item = it->second.get();
      break;
    }
  if (!item && scope.empty())
    if (MenuRegistry* tray = tray_registry())
      if (auto it = tray->find(id); it != tray->end()) item = it->second.get();
  auto state = [](const std::string& label, bool checked, bool enabled) {
    return JsonObject().boolean("exists", true).text("label", label).boolean("checked", checked).boolean(
        "enabled", enabled).str();
  };
  if (item) return state(item->title, item->checked, item->enabled);
  if (MenuItemSpec* spec = find_ctx_spec(g_ctx_items, id)) return state(spec->label, spec->checked, !spec->disabled);
  return "{\"exists\":false}";
}

std::string tray_pos_json() {
  if (!g_status_item) return "null";
  std::optional<Rect> r = g_status_item->frame();
  if (!r) return "null";
  return JsonObject()
      .integer("x", r->x)
      .integer("y", primary_top() - (r->y + r->h))
      .integer("width", r->w)
      .integer("height", r->h)
      .str();
}
