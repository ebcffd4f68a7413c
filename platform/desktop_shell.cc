#include "platform/desktop_shell.h"

namespace platform {

namespace {
DesktopShell* g_desktop_shell = nullptr;
}  // namespace

DesktopShell* desktop_shell() { return g_desktop_shell; }

void install_desktop_shell(DesktopShell* shell) { g_desktop_shell = shell; }

}  // namespace platform
