#pragma once
// The window commands that are not window operations or chrome (WINOPEN,
// WINCLOSE, TITLE, SIZE, DRAGWIN, RESIZEWIN, DRAGOUT; handlers in handlers.h),
// the close path that reports WINCLOSED, and the small window-class helpers.

#include <string>

#include "platform/window.h"

// A panel: a window that does not take the focus when it shows.
bool is_panel(platform::NativeWindow* window);
// Orders a panel front and gives it the focus without activating the application.
void panel_front(platform::NativeWindow* window);
// panel_front for a panel, else order front with the focus.
void bring_forward(platform::NativeWindow* window);
// Takes the window out of the window cycle when it ignores the mouse or sits on
// a level other than normal or floating; puts it back otherwise.
void apply_expose_policy(platform::NativeWindow* window);
// Lets a window without a title bar take the focus.
void ensure_window_can_key(platform::NativeWindow* window);

// The close path of a registered window: runs once, however the window closes.
void window_did_close(const std::string& id, platform::NativeWindow* window);
