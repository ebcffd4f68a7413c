#pragma once
// What web content, menus, keys and dialogs add to start-up and to every window:
// app/ adds them when it wires the host; a folder's unit tests add them, and
// those of the folders below, for the host they can reach. Main thread.

#include "core/startup_phases.h"

// Adds webui's start-up parts to their phases.
void add_webui_startup_parts(StartupPhases& p);
// Subscribes webui to the window and web-view observers and sets the page-script
// runner; a second call does nothing.
void subscribe_webui_window_observers();
