#pragma once
// The window commands that are not window operations or chrome (WINOPEN,
// WINCLOSE, TITLE, SIZE, DRAGWIN, RESIZEWIN, DRAGOUT; handlers in handlers.h),
// the close path that reports WINCLOSED.

#include <string>

#include "core/window_registry.h"
#include "platform/webview.h"
#include "platform/window.h"

// Makes a further window around a view and registers it under id (which the caller
// has checked): the view gets the page bridge, the shared delegates and the user
// agent; the window its menu bar, a centred place and the close path. The window
// stays hidden and nothing is loaded. WINOPEN windows and popup windows are made
// here. Null, with nothing registered, when the desktop cannot make the window.
QuibWindow* make_registry_window(const std::string& id, std::unique_ptr<platform::WebView> view,
                                 const platform::WindowParams& params);

// The close path of a registered window: runs once, however the window closes.
void window_did_close(const std::string& id, platform::NativeWindow* window);
