#pragma once
// The geometric answers of GET: windows, the mouse, the screens. Positions are
// top-left corners with y measured downward from the top edge of the first
// screen; coordinates and sizes are truncated to integers, "local" and "pixels"
// values rounded, scale factors written with two decimals.

#include <optional>
#include <string>

#include "platform/screens.h"
#include "platform/system_info.h"
#include "platform/window.h"

// ["main", then the further windows' ids in ascending order]; without "main" in
// windowless mode (w null).
std::string windows_json(void* w);
// The state of one window ("" and "main" name the main window); "null" when none.
std::string window_json(void* w, const std::string& id);
// "screenId":..,"local":{..},"pixels":{..} of the screen that holds most of the
// window, without braces.
std::string window_screen_fields(platform::NativeWindow* window);
// The pointer, its screen, and where it is relative to the window's content.
std::string mouse_json(void* w, const std::string& id);
std::string screens_json();
// top: the first screen's top edge.
std::string screen_json(const platform::ScreenInfo& screen, bool primary, double top);
// The screen of the frontmost application's front window, else the pointer's.
std::optional<platform::ScreenInfo> foreground_screen();
std::string fgscreen_json();
// A window's requested button position {"x":..,"y":..}; "null" when none.
std::string traffic_pos_json(const std::string& id);
// Where the main window's close button is: {"fromTop":..,"x":..} or {"hidden":true}.
std::string trafficpos_debug_json(void* w);

// Whether the point lies in the rectangle: its left and top edges count as inside,
// its right and bottom edges do not (pixel rows, y upward).
bool mouse_in_rect(platform::Point p, const platform::Rect& r);
