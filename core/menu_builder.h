#pragma once
// The state the reader keeps while the backend describes a menu bar, the tray
// menu or the context menu, line by line. Reader thread only; what it hands
// over is the caller's to keep.

#include <string>
#include <string_view>
#include <vector>

#include "core/menu_model.h"

// Submenus nested deeper than this are ignored (their SUB and SUBEND lines; the
// items inside land in the deepest submenu kept), so no menu tree the host holds
// can exhaust a stack when it is copied, built or freed.
constexpr size_t kMaxMenuDepth = 64;

class MenuBuilder {
 public:
  MenuBuilder() { reset_item_stack(); }

  // Lines. Each takes the text after its keyword, as the reader cut it.
  void begin_menu(std::string_view target);        // MENUBEGIN / MENUBEGIN@<w>
  void add_menu(std::string_view title);           // MENU
  void add_menu_role(std::string_view fields);     // MENUROLE
  void add_role_item(std::string_view role);       // ROLEITEM
  void add_item(std::string_view fields);          // ITEM
  void add_separator();                            // SEP
  void open_sub(std::string_view fields);          // SUB
  void close_sub();                                // SUBEND
  void end_menu();                                 // MENUEND (hand over menus()/target())
  void begin_tray(std::string_view line);          // TRAYBEGIN (the whole line)
  TraySpec end_tray();                             // TRAYEND
  void begin_ctx();                                // CTXBEGIN
  std::vector<MenuItemSpec> end_ctx();             // CTXEND

  // Builder steps.
  void reset_item_stack();
  void fold_open_submenus();
  std::vector<MenuItemSpec> take_built_items();
  void close_current_menu();

  bool in_menu() const { return in_menu_; }
  bool in_tray() const { return in_tray_; }
  bool in_ctx() const { return in_ctx_; }
  bool any_open() const { return in_menu_ || in_tray_ || in_ctx_; }
  const std::vector<MenuSpec>& menus() const { return menus_; }
  const std::string& target() const { return target_; }

 private:
  std::vector<MenuItemSpec>& top() { return item_stack_.back(); }
  // A new item at the end of the innermost open list.
  MenuItemSpec& new_item();
  // The fields of a line's text as views into it, valid until the next call.
  const std::vector<std::string_view>& tabs(std::string_view s);

  std::vector<MenuSpec> menus_;
  std::string target_;
  bool in_menu_ = false;
  bool in_tray_ = false;
  bool in_ctx_ = false;
  TraySpec pending_tray_;
  std::vector<std::vector<MenuItemSpec>> item_stack_;
  std::vector<MenuItemSpec> open_submenus_;
  size_t ignored_subs_ = 0;   // SUBs past kMaxMenuDepth still open
  bool depth_reported_ = false;
  std::vector<std::string_view> fields_;
};
