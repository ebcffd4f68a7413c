#pragma once
// Start-up in bundle mode or command-line mode, the settings, and shut-down.

#include <functional>
#include <set>
#include <string>

#include "platform/platform.h"

extern std::string g_sock_dir;
extern std::string g_app_name;
extern std::string g_app_version;
extern std::string g_html_path;
extern std::set<std::string> g_own_argv_paths;
extern bool g_windowless, g_bundle_mode, g_defer_show, g_debug, g_debug_open, g_suppress_order_front, g_accessory;
extern std::string g_read_access, g_user_agent, g_inject_js, g_downloads_mode, g_popup_mode;
// The backend started in bundle mode: its process and a descriptor that becomes
// readable when it exits (-1 where the system has none).
extern int g_backend_pid;
extern int g_backend_pidfd;

// The settings of the start-up table, each read by its own rule.
struct StartupSettings {
  bool accessory = false;
  bool defer_show = false;
  bool panel = false;
  std::string read_access;
  std::string user_agent;
  std::string debug;  // non-empty = debug on; "open" also opens the inspector
  std::string inject_js;
  std::string downloads;
  std::string popups;
  bool has_chrome = false;
  std::string chrome;
};

using EnvLookup = std::function<const char*(const char*)>;
// bundle_path: the application bundle the executable lies in ("" when none).
StartupSettings read_settings(const EnvLookup& env, const platform::PlistDict& info, const std::string& bundle_path);

// The directory a page file may read: its own directory, or its parent when that
// holds a "shared" directory, widened to hold the read-access setting as well.
std::string quib_read_access_url(const std::string& file_path, const std::string& read_access);

// The nearest ancestor directory of path whose name ends in ".app"; "" when none.
std::string find_app_bundle(const std::string& executable_path);

// The host's main(): returns the exit code of an early failure; a normal end
// leaves through the shut-down, which does not return.
int launcher_main(int argc, char** argv);

// Called by the reader when the bundle's backend ends before it connects.
void launcher_backend_exited();

// Removes the socket directory and ends the process with code.
[[noreturn]] void launcher_finish(int code);
