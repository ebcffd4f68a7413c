#include "platform/menu.h"

#include <map>
#include <vector>

namespace platform {

namespace {

struct Observers {
  std::map<int, MenuObserver> fns;
  int next = 1;
};

Observers& observers() {
  static Observers o;
  return o;
}

}  // namespace

int add_menu_observer(MenuObserver fn) {
  Observers& o = observers();
  const int token = o.next++;
  o.fns[token] = std::move(fn);
  return token;
}

void remove_menu_observer(int token) { observers().fns.erase(token); }

void post_menu_change(const MenuNode* node) {
  Observers& o = observers();
  std::vector<int> tokens;
  for (auto& [token, fn] : o.fns) tokens.push_back(token);
  for (int token : tokens) {
    auto it = o.fns.find(token);
    if (it == o.fns.end()) continue;
    MenuObserver fn = it->second;  // the observer may remove itself
    fn(node);
  }
}

}  // namespace platform
