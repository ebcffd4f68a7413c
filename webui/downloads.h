#pragma once
// Downloads and file drops: where a page's download goes (refused, asked for
// with a save panel, or saved under a name of its own in the downloads folder),
// the DOWNLOAD events that follow it, and DROP for files dropped onto a web
// view. Main thread.

#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/webview.h"

struct QuibDownloadInfo {
  std::int64_t id = 0;
  std::string url;
  std::string filename;  // the name used: the last component of path
  std::string path;
  double lastProgressMs = 0;
  bool observing = false;  // progress is reported
};

// The accepted downloads, from their destination until they end.
extern std::map<platform::Download*, QuibDownloadInfo> g_downloads;
// Every destination decision takes the next id, from 1.
extern std::int64_t g_download_seq;

// The monotonic clock in milliseconds, with a fractional part.
double quib_now_ms();
// The user's downloads folder; "~/Downloads" when the desktop names none.
std::string quib_downloads_dir();
// One DOWNLOAD line; bytes and total are written only when bytes >= 0.
void quib_download_event(std::int64_t id, const std::string& url, const std::string& filename, const std::string& path,
                         const char* state, const std::string& error, std::int64_t bytes, std::int64_t total);

// A suggested download name made safe to use as one file name inside a folder:
// only its last path component, without NUL or control characters; "download"
// when nothing usable is left (empty, "." or "..").
std::string download_safe_name(const std::string& suggested);
// The name cut to at most `limit` bytes: its base is cut at a UTF-8 boundary and
// its extension kept (one longer than half the limit is cut with the base).
std::string fit_download_name(const std::string& name, size_t limit);
// name itself when nothing is at dir/name, else "base (n).ext" for the first n
// from 2 to 999 that is free; "base (999).ext" when none is. `taken` names
// paths that count as existing too. Each candidate is cut to `limit` bytes as
// fit_download_name cuts a name, its number kept.
std::string unique_download_name(const std::string& dir, const std::string& name,
                                 const std::vector<std::string>& taken = {}, size_t limit = NAME_MAX);

// Makes the host decide where the view's downloads go and report them.
void apply_download_delegate(platform::WebView* view);

// Start-up puts the drop hook in place with the main window; from then on every
// web view gets it.
void install_drop_hook();
void apply_drop_hook(platform::WebView* view);
// The DROP line for these paths; "" when there are none.
std::string drop_line(const std::vector<std::string>& paths);

void downloads_reset_for_tests();
