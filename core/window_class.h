#pragma once
// Small helpers about the kind of a window that the window commands, window
// operations and chrome share.

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
