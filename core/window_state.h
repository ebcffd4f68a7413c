#pragma once
// Window state reported to the backend: WINSTATE when a window's full-screen,
// zoomed, minimised, key or screen state changes, WINGEOM on moves and resizes
// while the backend asked for them.

#include <map>
#include <string>

#include "platform/window.h"

// The last WINSTATE JSON sent per window id; erased when the window closes.
extern std::map<std::string, std::string> g_last_winstate;
// Send WINGEOM on moves and resizes ("geom 1").
extern bool g_geom_events;

// The state JSON of a window as WINSTATE carries it.
std::string winstate_json(platform::NativeWindow* window);
// Sends WINSTATE unless it equals the last one sent for the id.
void emit_winstate(platform::NativeWindow* window, const std::string& id);
// Observes every window's state notes; installed once at start-up (later calls do nothing).
void install_winstate_observers();
// Removes them again; for tests that share the process.
void winstate_observers_reset_for_tests();
