#pragma once
// The screens as the window commands see them, and the conversions between the
// backend's positions (top-left corners in points, y downward from the top edge
// of the first screen) and the host's frames (y upward from the first screen's
// bottom edge).

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/screens.h"
#include "platform/window.h"

using platform::Rect;
using platform::ScreenInfo;

std::vector<ScreenInfo> screens_now();
// The display id of a screen; 0 for none.
std::uint32_t screen_display_id(const std::optional<ScreenInfo>& screen);
// The first screen with this display id; none for a negative id or no match.
std::optional<ScreenInfo> screen_for_display_id(long long id);
// The screen whose frame overlaps the rectangle most; the first of equals wins;
// none when no screen overlaps it with a positive area.
std::optional<ScreenInfo> screen_for_rect(const Rect& rect, const std::vector<ScreenInfo>& screens);
std::optional<ScreenInfo> screen_for_rect(const Rect& rect);
// The screen of the key window, else the first screen.
std::optional<ScreenInfo> main_screen();
// screen_for_rect of the frame, else the screen the window system names, else main_screen.
std::optional<ScreenInfo> screen_of_window(platform::NativeWindow* window);

// The y of the first screen's top edge; 0 without screens.
double primary_top();
// Moves the window so that its frame's top-left corner is at (x, top), size kept.
void set_frame_top_left(platform::NativeWindow* window, double x, double top);
// Gives the window content of w x h, keeping its left and top edges.
void set_content_size_keep_top(platform::NativeWindow* window, double w, double h);
// Centres the window on the usable area of its screen.
void center_window(platform::NativeWindow* window);

// Where a window that is (almost) wholly off screen belongs: on the screen
// nearest to it, its top edge visible. None when some screen's usable area shows
// at least 24 x 24 points of it, or when there are no screens.
std::optional<Rect> rescued_frame(const Rect& frame, const std::vector<ScreenInfo>& screens);
// Moves the window there; nothing for a null window or one that is on screen.
void rescue_offscreen(platform::NativeWindow* window);
