#include "platform/system_access.h"

namespace platform {

namespace {
SystemAccess* g_system_access = nullptr;
}  // namespace

SystemAccess* system_access() { return g_system_access; }

void install_system_access(SystemAccess* access) { g_system_access = access; }

}  // namespace platform
