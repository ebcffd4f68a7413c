#pragma once
// Pages' console messages and uncaught errors on WebKitGTK 4.1, whose UI process
// hears nothing of a page's console. The host's web-process extension forwards
// them to their view, but only once some view has asked for them here, so that no
// page pays a trip per message while nobody listens. Main thread only.

#include <webkit2/webkit2.h>

#include "platform/webview.h"

namespace platform::gtk {

// The view's console messages go to handler (null: nowhere). Web processes that
// start from now on forward their pages' messages; disconnect before the host's
// side of the view goes away.
void connect_console(WebKitWebView* view, ConsoleHandler handler);
void disconnect_console(WebKitWebView* view);

// The user message the extension sends for each console message: "(ubssu)" =
// WebKitConsoleMessageLevel, uncaught, text, source URL, line.
inline constexpr const char* kConsoleMessageName = "quibex:console";
// The key of the extension's initialization data ("a{sv}") that turns it on.
inline constexpr const char* kConsoleInitKey = "console";

}  // namespace platform::gtk
