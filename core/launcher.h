#pragma once
// Process-wide launcher state shared by the reader thread and the main thread.

#include <atomic>

#include "platform/main_queue.h"

// The main window's web-view handle; null in windowless mode. Set by start-up
// before the reader starts; the reader passes it to every handler.
extern std::atomic<void*> g_w;
// The listening socket in bundle mode; -1 in command-line mode.
extern int g_listen_fd;
// The backend asked to hear About as a MENU line instead of the About panel.
extern std::atomic<bool> g_about_to_app;

// Runs handler(w, record) later on the main thread; returns at once.
void launcher_dispatch(void* w, platform::HandlerFn handler, void* record);
