#include "webui/webui_parts.h"

#include <memory>
#include <string>
#include <vector>

#include "core/launcher.h"
#include "core/menu_model.h"
#include "core/page_bridge.h"
#include "core/window_observers.h"
#include "webui/context_menu.h"
#include "webui/dialogs.h"
#include "webui/downloads.h"
#include "webui/keys.h"
#include "webui/media_proxy.h"
#include "webui/menu_bar.h"
#include "webui/navigation.h"

void add_webui_startup_parts(StartupPhases& p) {
  p.settings_applied.push_back([](const StartupInfo&) { install_media_scheme_hook(); });
  p.main_window_made.push_back([](const StartupInfo&) {
    install_ctx_hook();
    install_drop_hook();
  });
  p.windows_ready.push_back([](const StartupInfo&) { install_first_mouse_hook(); });
  p.before_page.push_back([](const StartupInfo&) {
    // The application's default bar, until the backend describes its own.
    apply_menus(g_w.load(), std::make_unique<std::vector<MenuSpec>>());
    install_key_window_observer();
  });
}

void subscribe_webui_window_observers() {
  static bool subscribed = false;
  if (subscribed) return;
  subscribed = true;
  WindowObservers& o = window_observers();
  // The delegates of every web view, in this order.
  o.view_made.add(apply_navigation_delegate);
  o.view_made.add(apply_ctx_hook);
  // Page dialogs and file inputs: every web view, with or without a main window.
  o.view_made.add(apply_page_dialog_hooks);
  // Downloads: every web view. File drops: once the main window has put the hook in place.
  o.view_made.add(apply_download_delegate);
  o.view_made.add(apply_drop_hook);
  // The bar's height belongs to the frame: it comes before the window is placed.
  o.window_made.add(show_bar_in_window);
  // A closed window's own bar goes with it, as MENURESET@ would take it.
  o.window_closed.add([](const std::string& id) { apply_win_menu(id, {}, false); });
  o.view_released.add(forget_navigation);
  // EVAL brings back a page whose web process ended before its script runs.
  set_page_script_runner(quib_eval_in_view);
}
