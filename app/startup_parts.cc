#include "app/startup_parts.h"

#include <utility>
#include <vector>

#include "ai/model_server.h"
#include "core/handlers.h"
#include "core/launcher.h"
#include "core/menu_model.h"
#include "core/startup_phases.h"
#include "services/dock_media.h"
#include "services/notifications.h"
#include "services/permissions.h"
#include "services/system_observers.h"
#include "webui/context_menu.h"
#include "webui/downloads.h"
#include "webui/keys.h"
#include "webui/media_proxy.h"
#include "webui/menu_bar.h"

void install_startup_parts() {
  StartupPhases p;
  p.settings_read = [](const StartupInfo&) { apply_dev_icon(); };
  p.settings_applied = [](const StartupInfo& start) {
    const StartupSettings& s = start.settings;
    ai_set_server_config({s.ai_url, s.ai_model, s.ai_remote});
    install_media_scheme_hook();
    // Notifications: the server's clicks and actions reach the backend.
    install_notif_delegate();
  };
  p.main_window_made = [](const StartupInfo&) {
    install_ctx_hook();
    install_drop_hook();
  };
  p.windows_ready = [](const StartupInfo& start) {
    install_first_mouse_hook();
    install_system_observers();
    g_location_usage_described =
        start.info.has("NSLocationUsageDescription") || start.info.has("NSLocationWhenInUseUsageDescription");
  };
  p.before_page = [](const StartupInfo&) {
    // The application's default bar, until the backend describes its own.
    apply_menus(g_w.load(), new std::vector<MenuSpec>());
    install_key_window_observer();
  };
  install_startup_phases(std::move(p));
}
