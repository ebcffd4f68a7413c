#include "platform/window.h"

#include <algorithm>
#include <map>

#include "platform/observers.h"

namespace platform {

namespace {

ObserverList<NativeWindow*, WindowNote>& observers() {
  static ObserverList<NativeWindow*, WindowNote> o;
  return o;
}

Application* g_application = nullptr;

}  // namespace

int add_window_observer(WindowObserver fn) { return observers().add(std::move(fn)); }

void remove_window_observer(int token) { observers().remove(token); }

void post_window_note(NativeWindow* window, WindowNote note) { observers().notify(window, note); }

std::vector<DragItem> layout_drag_items(const std::vector<std::string>& paths, std::optional<Size> icon) {
  std::vector<DragItem> items;
  double offset = 0;
  for (const std::string& path : paths) {
    if (path.empty()) continue;  // no file to name
    DragItem item;
    item.path = path;
    if (items.size() >= kDragImageItems) {
      item.drawn = false;
      item.w = item.h = 0;
      items.push_back(item);
      continue;
    }
    item.custom_icon = icon.has_value() && icon->w > 0 && icon->h > 0;
    if (item.custom_icon) {
      item.w = icon->w;
      item.h = icon->h;
    }
    const double larger = std::max(item.w, item.h);
    if (larger > 160) {
      item.w *= 160 / larger;
      item.h *= 160 / larger;
    }
    item.offset = offset;
    items.push_back(item);
    icon.reset();  // only the first item shows the icon
    offset += 4;
  }
  return items;
}

Size drag_image_size(const std::vector<DragItem>& items) {
  Size s;
  for (const DragItem& it : items) {
    if (!it.drawn) continue;
    s.w = std::max(s.w, it.offset + it.w);
    s.h = std::max(s.h, it.offset + it.h);
  }
  return s;
}

Application* application() { return g_application; }

void install_application(Application* app) { g_application = app; }

// ---- start-up's gates ----

namespace {
std::function<bool()>& order_front_gate() {
  static std::function<bool()> gate;
  return gate;
}
std::function<ActivationPolicy(ActivationPolicy)>& policy_filter() {
  static std::function<ActivationPolicy(ActivationPolicy)> filter;
  return filter;
}
}  // namespace

void set_order_front_gate(std::function<bool()> suppressed) { order_front_gate() = std::move(suppressed); }

bool order_front_suppressed() { return order_front_gate() && order_front_gate()(); }

void set_activation_policy_filter(std::function<ActivationPolicy(ActivationPolicy)> filter) {
  policy_filter() = std::move(filter);
}

ActivationPolicy filtered_activation_policy(ActivationPolicy asked) {
  return policy_filter() ? policy_filter()(asked) : asked;
}

}  // namespace platform
