#include "core/menu_builder.h"

#include <cstdio>

#include "base/wire_text.h"

void MenuBuilder::reset_item_stack() {
  item_stack_.clear();
  item_stack_.emplace_back();
  open_submenus_.clear();
  ignored_subs_ = 0;
}

void MenuBuilder::fold_open_submenus() {
  while (item_stack_.size() >= 2) {
    MenuItemSpec sub = std::move(open_submenus_.back());
    open_submenus_.pop_back();
    sub.submenu = std::move(item_stack_.back());
    item_stack_.pop_back();
    top().push_back(std::move(sub));
  }
}

std::vector<MenuItemSpec> MenuBuilder::take_built_items() {
  fold_open_submenus();
  std::vector<MenuItemSpec> items = std::move(item_stack_.front());
  reset_item_stack();
  return items;
}

void MenuBuilder::close_current_menu() {
  if (!menus_.empty())
    menus_.back().items = take_built_items();
  else
    reset_item_stack();  // items before the first menu of a block are discarded
}

void MenuBuilder::begin_menu(std::string_view target) {
  depth_reported_ = false;
  target_ = std::string(target);
  menus_.clear();
  fold_open_submenus();
  reset_item_stack();
  in_menu_ = true;
}

void MenuBuilder::add_menu(std::string_view title) {
  close_current_menu();
  MenuSpec m;
  m.title = std::string(title);
  menus_.push_back(std::move(m));
  reset_item_stack();
}

void MenuBuilder::add_menu_role(std::string_view text) {
  close_current_menu();
  std::vector<std::string> f = split_tabs(text);
  MenuSpec m;
  m.role = f[0];
  m.nostd = f.size() >= 2 && f[1] == "nostd";
  menus_.push_back(std::move(m));
  reset_item_stack();
}

void MenuBuilder::add_role_item(std::string_view role) {
  MenuItemSpec it;
  it.role = std::string(role);
  top().push_back(std::move(it));
}

void MenuBuilder::add_item(std::string_view text) {
  std::vector<std::string> f = split_tabs(text);
  MenuItemSpec it;
  it.id = f[0];
  it.label = f.size() >= 2 ? f[1] : f[0];
  if (f.size() >= 3) it.accel = f[2];
  if (f.size() >= 4) {
    it.checked = f[3].find('c') != std::string::npos;
    it.disabled = f[3].find('d') != std::string::npos;
  }
  top().push_back(std::move(it));
}

void MenuBuilder::add_separator() {
  MenuItemSpec it;
  it.separator = true;
  top().push_back(std::move(it));
}

void MenuBuilder::open_sub(std::string_view text) {
  if (item_stack_.size() > kMaxMenuDepth) {
    ++ignored_subs_;
    if (!depth_reported_)
      std::fprintf(stderr, "quibex: submenus nested deeper than %zu levels are ignored\n", kMaxMenuDepth);
    depth_reported_ = true;
    return;
  }
  std::vector<std::string> f = split_tabs(text);
  MenuItemSpec it;
  it.id = f[0];
  it.label = f.size() >= 2 ? f[1] : f[0];
  open_submenus_.push_back(std::move(it));
  item_stack_.emplace_back();
}

void MenuBuilder::close_sub() {
  if (ignored_subs_) {
    --ignored_subs_;
    return;
  }
  if (item_stack_.size() < 2) return;
  MenuItemSpec sub = std::move(open_submenus_.back());
  open_submenus_.pop_back();
  sub.submenu = std::move(item_stack_.back());
  item_stack_.pop_back();
  top().push_back(std::move(sub));
}

void MenuBuilder::end_menu() {
  close_current_menu();
  in_menu_ = false;
}

void MenuBuilder::begin_tray(std::string_view line) {
  depth_reported_ = false;
  pending_tray_ = TraySpec{};
  if (line.size() > 10) {
    std::vector<std::string> f = split_tabs(line.substr(10));
    pending_tray_.title = f[0];
    if (f.size() > 1) pending_tray_.icon = f[1];
    if (f.size() > 2) pending_tray_.template_ = f[2] != "0";
    if (f.size() > 3) pending_tray_.tooltip = f[3];
    if (f.size() > 4) pending_tray_.clickEvents = f[4] == "1";
  }
  fold_open_submenus();
  reset_item_stack();
  in_tray_ = true;
}

TraySpec MenuBuilder::end_tray() {
  in_tray_ = false;
  pending_tray_.items = take_built_items();
  return pending_tray_;
}

void MenuBuilder::begin_ctx() {
  depth_reported_ = false;
  fold_open_submenus();
  reset_item_stack();
  in_ctx_ = true;
}

std::vector<MenuItemSpec> MenuBuilder::end_ctx() {
  in_ctx_ = false;
  return take_built_items();
}
