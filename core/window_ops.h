#pragma once
// WINOP: everything done to an open window.

#include <memory>
#include <optional>
#include <string>

#include "core/records.h"
#include "platform/screens.h"
#include "platform/window.h"

// Makes the window full screen on the screen with this display id, leaving full
// screen elsewhere first.
void fullscreen_on_screen(platform::NativeWindow* window, std::uint32_t display_id);
// A closing window waits for nothing any more.
void forget_fullscreen_reentry(platform::NativeWindow* window);
// The level a "level" verb names: desktop, overlay, floating, else normal.
long level_for_name(const std::string& name);

// WINOP@<w> and WINOP.
void do_winop(void* w, std::unique_ptr<WinopReq> r);
