#pragma once
// Process-wide launcher state shared by the reader thread and the main thread,
// and the way out of the process.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/main_queue.h"

// The main window's web-view handle; null in windowless mode. Set by start-up
// before the reader starts; the reader passes it to every handler.
extern std::atomic<void*> g_w;
// The listening socket in bundle mode; -1 in command-line mode.
extern int g_listen_fd;
// The private socket directory of bundle mode; empty in command-line mode.
extern std::string g_sock_dir;
// The backend started in bundle mode: its process, and a descriptor that becomes
// readable when it exits (-1 where the system has none).
extern int g_backend_pid;
extern int g_backend_pidfd;
// The backend asked to hear About as a MENU line instead of the About panel.
extern std::atomic<bool> g_about_to_app;

// Runs handler(w, record) later on the main thread; returns at once.
void launcher_dispatch(void* w, platform::HandlerFn handler, void* record);
// Runs the n items later on the main thread, in their order and with nothing
// posted meanwhile between them; returns at once.
void launcher_dispatch_batch(const platform::QueuedItem* items, size_t n);

// Destroys the main window, removes the socket directory and ends the process
// with code. Main thread.
[[noreturn]] void launcher_finish(int code);
// Runs fn in launcher_finish, on the main thread, before the process ends; for
// layers above the core that leave something to undo. Any thread.
void launcher_at_finish(std::function<void()> fn);

// QUIT, the end of the backend's stream and the termination signals: ends the
// main loop, after which the host finishes. Main thread.
void do_terminate(void* w);

// The bundle's backend ended before it connected: how says how it ended
// (" (exit status 2)"); writes the diagnostic and ends the host with 1.
void do_backend_exited(void* w, std::unique_ptr<std::string> how);
