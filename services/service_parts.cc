#include "services/service_parts.h"

#include "services/dock_media.h"
#include "services/notifications.h"
#include "services/permissions.h"
#include "services/system_observers.h"

void add_service_startup_parts(StartupPhases& p) {
  p.settings_read.push_back([](const StartupInfo&) { apply_dev_icon(); });
  // The notification server's clicks and actions reach the backend.
  p.settings_applied.push_back([](const StartupInfo&) { install_notif_delegate(); });
  p.windows_ready.push_back([](const StartupInfo& start) {
    install_system_observers();
    g_location_usage_described =
        start.info.has("NSLocationUsageDescription") || start.info.has("NSLocationWhenInUseUsageDescription");
  });
}
