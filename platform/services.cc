#include "platform/clipboard.h"
#include "platform/notifications.h"

namespace platform {

namespace {
Clipboard* g_clipboard = nullptr;
Notifier* g_notifier = nullptr;
}  // namespace

Clipboard* clipboard() { return g_clipboard; }
void install_clipboard(Clipboard* c) { g_clipboard = c; }
Notifier* notifier() { return g_notifier; }
void install_notifier(Notifier* n) { g_notifier = n; }

}  // namespace platform
