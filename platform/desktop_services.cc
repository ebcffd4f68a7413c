// The desktop's keys, system events and permission answers, as installed.

#include "platform/desktop_keys.h"
#include "platform/system_events.h"

namespace platform {

namespace {
DesktopKeys* g_keys = nullptr;
SystemEvents* g_events = nullptr;
Permissions* g_permissions = nullptr;
}  // namespace

DesktopKeys* desktop_keys() { return g_keys; }
void install_desktop_keys(DesktopKeys* keys) { g_keys = keys; }
SystemEvents* system_events() { return g_events; }
void install_system_events(SystemEvents* events) { g_events = events; }
Permissions* permissions() { return g_permissions; }
void install_permissions(Permissions* p) { g_permissions = p; }

}  // namespace platform
