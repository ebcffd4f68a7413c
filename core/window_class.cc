#include "core/window_class.h"

using platform::NativeWindow;

bool is_panel(NativeWindow* window) { return window && window->is_panel(); }

void panel_front(NativeWindow* window) {
  window->order_front_regardless();
  window->make_key();
}

void bring_forward(NativeWindow* window) {
  if (is_panel(window))
    panel_front(window);
  else
    window->show();
}

void apply_expose_policy(NativeWindow* window) {
  const long level = window->level();
  const bool hidden = window->ignores_mouse_events() || level < 0 || level > 3;
  std::uint64_t b = window->collection_behavior();
  b &= ~(platform::kBehaviorManaged | platform::kBehaviorTransient | platform::kBehaviorParticipatesInCycle |
         platform::kBehaviorIgnoresCycle);
  b |= hidden ? (platform::kBehaviorTransient | platform::kBehaviorIgnoresCycle)
              : (platform::kBehaviorManaged | platform::kBehaviorParticipatesInCycle);
  window->set_collection_behavior(b);
}

void ensure_window_can_key(NativeWindow* window) {
  if (window) window->set_can_become_key(true);
}
