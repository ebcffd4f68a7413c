#pragma once
// Menu descriptions shared by the menu bar, the tray and the context menu.

#include <string>
#include <vector>

struct MenuItemSpec {
  std::string id;
  std::string label;
  std::string accel;
  bool separator = false;
  bool checked = false;
  bool disabled = false;
  std::vector<MenuItemSpec> submenu;
  std::string role;
};

struct MenuSpec {
  std::string title;
  std::vector<MenuItemSpec> items;
  std::string role;
  bool nostd = false;
};

struct TraySpec {
  std::string title;
  std::string icon;
  std::string tooltip;
  bool template_ = true;  // `template` is a keyword
  bool clickEvents = false;
  std::vector<MenuItemSpec> items;
  bool remove = false;
};

struct CtxReq {
  std::vector<MenuItemSpec> items;
  bool active = false;
};

// MENUEND for a window's own bar: the window and a copy of its menus.
struct WinMenuReq {
  std::string window;
  std::vector<MenuSpec> menus;
};
