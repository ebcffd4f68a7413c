#include "platform/system_info.h"

namespace platform {

namespace {
SystemInfo* g_system_info = nullptr;
}  // namespace

SystemInfo* system_info() { return g_system_info; }

void install_system_info(SystemInfo* info) { g_system_info = info; }

}  // namespace platform
