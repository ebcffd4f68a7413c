#include "app/window_observers.h"

#include "webui/webui_parts.h"

void install_window_observers() { subscribe_webui_window_observers(); }
