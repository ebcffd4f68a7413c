#include "core/window_observers.h"

WindowObservers& window_observers() {
  static WindowObservers observers;
  return observers;
}

void quib_apply_web_delegates(platform::WebView* view) {
  if (view) window_observers().view_made.notify(view);
}
