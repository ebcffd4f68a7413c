#include "webui/tray.h"

#include <cstdio>

#include "base/json_out.h"
#include "core/wire.h"
#include "core/menu_model.h"

std::unique_ptr<platform::StatusItem> g_status_item;
std::shared_ptr<platform::MenuNode> g_tray_menu;
std::shared_ptr<MenuRegistry> g_reg_tray;

namespace {

bool g_tray_menu_attached = false;  // the desktop opens the menu itself
std::string g_tray_title;

void tray_chosen(const platform::MenuNode& item) { menu_item_chosen(MenuKind::kTray, item); }

}  // namespace

void tray_clicked(bool secondary, bool control) {
  // With a held menu both buttons are heard; without one only the primary.
  if (secondary && !g_tray_menu) return;
  if ((secondary || control) && g_tray_menu && g_status_item) {
    g_status_item->popup_menu(g_tray_menu, tray_chosen);
    return;
  }
  sock_write_line("TRAYCLICK");
}

void apply_tray(void*, std::unique_ptr<TraySpec> spec) {
  if (spec->remove) {
    g_status_item.reset();
    g_tray_menu.reset();
    g_tray_menu_attached = false;
    return;
  }
  if (!g_status_item) {
    g_status_item = platform::current().make_status_item();
    if (!g_status_item) {
      std::fputs("quibex: this desktop cannot show a tray item\n", stderr);
      return;
    }
    g_status_item->set_click_handler(tray_clicked);
  }
  platform::StatusItem& item = *g_status_item;
  const std::string& icon = spec->icon;
  if (icon.rfind("sf:", 0) == 0)
    item.set_image("", icon.substr(3), spec->template_);
  else
    item.set_image(icon, "", spec->template_);
  item.set_title(spec->title);
  g_tray_title = spec->title;
  item.set_tooltip(spec->tooltip);

  g_reg_tray = std::make_shared<MenuRegistry>();
  g_tray_menu.reset();
  std::shared_ptr<platform::MenuNode> menu;
  if (!spec->items.empty()) {
    menu = std::make_shared<platform::MenuNode>();
    build_menu_into(*menu, spec->items, MenuKind::kTray, g_reg_tray.get());
  }
  if (!menu || spec->clickEvents) {
    g_tray_menu = menu;
    item.set_menu(nullptr, tray_chosen);
    item.set_secondary_menu(menu, tray_chosen);
    g_tray_menu_attached = false;
  } else {
    item.set_secondary_menu(nullptr, tray_chosen);
    item.set_menu(menu, tray_chosen);
    g_tray_menu_attached = true;
  }
}

std::string tray_debug_json() {
  if (!g_status_item) return "{\"exists\":false}";
  return JsonObject()
      .boolean("exists", true)
      .boolean("menuAttached", g_tray_menu_attached)
      .boolean("menuHeld", bool(g_tray_menu))
      .boolean("icon", g_status_item->has_image())
      .text("title", g_tray_title)
      .str();
}

void tray_reset_for_tests() {
  g_status_item.reset();
  g_tray_menu.reset();
  g_reg_tray.reset();
  g_tray_menu_attached = false;
  g_tray_title.clear();
}
