#pragma once
// The host's settings: read once by start-up (or switched later by the WINOP verb
// that owns them) and read by every other part. Main thread only.

#include <set>
#include <string>

// Who the application is.
extern std::string g_app_name;     // the title; "quibex" by default
extern std::string g_app_version;  // "0.0.0" by default
// The application id the windows carry and the icon they show (core/app_identity.h);
// "" in command-line mode, and "" = the theme's generic icon.
extern std::string g_app_id, g_app_icon;
// The page file of the main window (empty when the page is a URL).
extern std::string g_html_path;
// Every command-line argument after the program name.
extern std::set<std::string> g_own_argv_paths;

// What the About panel and the Help menu show.
extern std::string g_attribution;   // credits text
extern std::string g_credits_file;  // the bundle's Credits document, "" = none
extern std::string g_help_book;     // the bundle's help book, "" = none

// How the host runs.
extern bool g_windowless;   // no main window
extern bool g_bundle_mode;  // started from an application bundle
extern bool g_defer_show;   // the main window's first show still waits
extern bool g_debug;        // developer extras
extern bool g_debug_open;   // and the inspector opens with each page
extern bool g_suppress_order_front;
extern bool g_accessory;    // no task-bar presence

// What pages get.
extern std::string g_read_access;  // the directory file pages may read, "" = their own
extern std::string g_user_agent;   // "" = WebKit's own
extern std::string g_inject_js;    // a script every page runs at document start
extern std::string g_downloads_mode;
extern std::string g_popup_mode;
// The bundle's media trust list (QuibexMediaOrigins), read when the list is first used.
extern std::string g_media_origins_key;

// Switched by WINOP.
extern bool g_hide_on_close;  // closing the main window hides it instead
extern bool g_rescue_on;      // after a change of screens, windows left off screen are rescued

extern std::string g_bundle_identifier;  // the bundle's CFBundleIdentifier; "" = none (or no bundle)
extern std::string g_bundle_path;        // the bundle's directory; "" = none
