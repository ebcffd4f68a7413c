#pragma once
// The window commands that are not window operations or chrome (WINOPEN,
// WINCLOSE, TITLE, SIZE, DRAGWIN, RESIZEWIN, DRAGOUT; handlers in handlers.h),
// the close path that reports WINCLOSED.

#include <string>

#include "platform/window.h"

// The close path of a registered window: runs once, however the window closes.
void window_did_close(const std::string& id, platform::NativeWindow* window);
