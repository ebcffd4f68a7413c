#include "platform/window.h"

#include "platform/observers.h"

namespace platform {

namespace {

ObserverList<NativeWindow*, WindowNote>& observers() {
  static ObserverList<NativeWindow*, WindowNote> o;
  return o;
}

}  // namespace

int add_window_observer(WindowObserver fn) { return observers().add(std::move(fn)); }

void remove_window_observer(int token) { observers().remove(token); }

void post_window_note(NativeWindow* window, WindowNote note) { observers().notify(window, note); }

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
