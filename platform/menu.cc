#include "platform/menu.h"

#include "platform/observers.h"

namespace platform {

namespace {

ObserverList<const MenuNode*>& observers() {
  static ObserverList<const MenuNode*> o;
  return o;
}

}  // namespace

int add_menu_observer(MenuObserver fn) { return observers().add(std::move(fn)); }

void remove_menu_observer(int token) { observers().remove(token); }

void post_menu_change(const MenuNode* node) { observers().notify(node); }

}  // namespace platform
