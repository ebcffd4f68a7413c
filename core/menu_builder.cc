#include "core/menu_builder.h"

#include <cstdio>

#include "base/wire_text.h"

namespace {

// Room for a few items at once instead of growing 1, 2, 4; small enough that the
// block comes from the allocator's per-thread cache.
constexpr size_t kItemsAtOnce = 4;

}  // namespace

void MenuBuilder::reset_item_stack() {
  item_stack_.clear();
  item_stack_.emplace_back();
  open_submenus_.clear();
  ignored_subs_ = 0;
}

MenuItemSpec& MenuBuilder::new_item() {
  std::vector<MenuItemSpec>& items = top();
  if (items.empty()) items.reserve(kItemsAtOnce);
  return items.emplace_back();
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
  menus_.emplace_back().title.assign(title);
  reset_item_stack();
}

void MenuBuilder::add_menu_role(std::string_view text) {
  close_current_menu();
  const std::vector<std::string_view>& f = tabs(text);
  MenuSpec& m = menus_.emplace_back();
  m.role.assign(f[0]);
  m.nostd = f.size() >= 2 && f[1] == "nostd";
  reset_item_stack();
}

void MenuBuilder::add_role_item(std::string_view role) {
  new_item().role.assign(role);
}

void MenuBuilder::add_item(std::string_view text) {
  const std::vector<std::string_view>& f = tabs(text);
  MenuItemSpec& it = new_item();
  it.id.assign(f[0]);
  it.label.assign(f.size() >= 2 ? f[1] : f[0]);
  if (f.size() >= 3) it.accel.assign(f[2]);
  if (f.size() >= 4) {
    it.checked = f[3].find('c') != std::string_view::npos;
    it.disabled = f[3].find('d') != std::string_view::npos;
  }
}

void MenuBuilder::add_separator() {
  new_item().separator = true;
}

void MenuBuilder::open_sub(std::string_view text) {
  if (item_stack_.size() > kMaxMenuDepth) {
    ++ignored_subs_;
    if (!depth_reported_)
      std::fprintf(stderr, "quibex: submenus nested deeper than %zu levels are ignored\n", kMaxMenuDepth);
    depth_reported_ = true;
    return;
  }
  const std::vector<std::string_view>& f = tabs(text);
  MenuItemSpec& it = open_submenus_.emplace_back();
  it.id.assign(f[0]);
  it.label.assign(f.size() >= 2 ? f[1] : f[0]);
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
    const std::vector<std::string_view>& f = tabs(line.substr(10));
    pending_tray_.title.assign(f[0]);
    if (f.size() > 1) pending_tray_.icon.assign(f[1]);
    if (f.size() > 2) pending_tray_.template_ = f[2] != "0";
    if (f.size() > 3) pending_tray_.tooltip.assign(f[3]);
    if (f.size() > 4) pending_tray_.clickEvents = f[4] == "1";
  }
  fold_open_submenus();
  reset_item_stack();
  in_tray_ = true;
}

TraySpec MenuBuilder::end_tray() {
  in_tray_ = false;
  // The title and the rest stay for a TRAYEND without its TRAYBEGIN; the items
  // (never kept in pending_tray_) go over without a copy.
  TraySpec tray = pending_tray_;
  tray.items = take_built_items();
  return tray;
}

void MenuBuilder::begin_ctx() {
  depth_reported_ = false;
  fold_open_submenus();
  reset_item_stack();
  in_ctx_ = true;
}

const std::vector<std::string_view>& MenuBuilder::tabs(std::string_view s) {
  split_tabs_into(s, fields_);
  return fields_;
}

std::vector<MenuItemSpec> MenuBuilder::end_ctx() {
  in_ctx_ = false;
  return take_built_items();
}
