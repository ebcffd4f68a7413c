#pragma once
// The desktop's keys (X11 grabs and XTest), system events (portal, logind,
// locale1, GtkSettings) and permission answers.

#include <functional>

#include "platform/desktop_keys.h"
#include "platform/system_events.h"

struct _WebKitWebView;

namespace platform::gtk {

DesktopKeys& gtk_desktop_keys();
SystemEvents& gtk_system_events();
Permissions& gtk_permissions();

// Keeps a click that activates the view's window from its page, as the host's
// first-click policy says for owner.
void connect_first_click(struct _WebKitWebView* view, WebView* owner);

}  // namespace platform::gtk

struct _GDBusConnection;

namespace platform::gtk {

// The session bus the desktop set up, or null: none is ever started for us.
struct _GDBusConnection* desktop_session_bus();
// Calls fn on the main thread with the system bus, or with null when it cannot be reached.
void with_desktop_system_bus(std::function<void(struct _GDBusConnection*)> fn);

}  // namespace platform::gtk
