#pragma once
// What debug mode (QUIBEX_DEBUG, else the bundle's QuibexDebug) says on stderr that
// the host otherwise keeps to itself: the backend's lines it lets go (a command
// word it does not know; a known one it cannot use: fields missing, a menu line
// outside its builder; a command addressed to a window that is not there), and the
// pages' console messages and uncaught errors, labelled with their window's id.
//
// Each command word is spoken of once, whatever went wrong with it, so a backend
// that repeats a mistake does not flood the terminal. A line is quoted only as a
// short prefix, its control bytes and bytes that are not UTF-8 written as escapes.
// Without debug mode nothing here says anything, and the reader pays one test of
// the flag per line. Thread-safe unless marked.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "platform/main_queue.h"
#include "platform/webview.h"

// ---- the reader's side: the thread that reads the lines ----

// While alive on a thread in debug mode, this thread is reading line, and commands
// it hands over with hand_over_noted remember it. Does nothing otherwise. Nests.
class NotedLine {
 public:
  explicit NotedLine(std::string_view line) {
    if (settings().debug_on) [[unlikely]]
      begin(line);
  }
  ~NotedLine() {
    if (begun_) [[unlikely]]
      end();
  }
  NotedLine(const NotedLine&) = delete;
  NotedLine& operator=(const NotedLine&) = delete;
  // The line this thread is reading in debug mode; null when none.
  static const NotedLine* current();
  std::string_view line() const { return line_; }

 private:
  void begin(std::string_view line);
  void end();
  std::string_view line_;
  bool begun_ = false;
  const NotedLine* prev_ = nullptr;
};

// Hands a command over as launcher_dispatch does; in debug mode the line being
// read (NotedLine::current()) is remembered while its handler runs.
void hand_over_noted(void* w, platform::HandlerFn handler, void* record);

// The line matched a command that cannot use it: why says what is wrong ("missing
// fields").
void note_dropped(std::string_view line, std::string_view why);
// The line matched no test. in_menu: between MENUBEGIN and MENUEND; in_builder:
// inside any of the menu, tray and context-menu builders.
void note_unmatched(std::string_view line, bool in_menu, bool in_builder);

// ---- main thread ----

// A window lookup found no window with this id: said while a handed-over command
// is running, on behalf of its line.
void note_no_window(const std::string& id);

// In debug mode, the view's console messages and the errors its page did not catch
// go to stderr, each line labelled with window_id; otherwise nothing.
void forward_page_console(platform::WebView* view, const std::string& window_id);

// ---- helpers ----

// At most max bytes of s, cut between characters and then ended with "...", with
// TAB as \t and control characters (C0, DEL, C1) and bytes that are not UTF-8
// as \xNN.
std::string printable_prefix(std::string_view s, size_t max);

// Forgets which command words were spoken of.
void debug_notes_reset_for_tests();
