#pragma once
// The features that follow windows and web views: subscribes webui's menus,
// navigation, context menu, page dialogs and downloads to the core's window
// observers (core/window_observers.h), and gives the page bridge navigation's
// way of running a script. main() installs them before start-up, and the unit
// tests' harness the same way. Main thread; a second call changes nothing.

void install_window_observers();
