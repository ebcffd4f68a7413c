#pragma once
// The host's settings, one object that every part asks for: what start-up reads
// (StartupSettings, written once by start-up), who the application is and how
// the host runs (written by start-up), and the few that WINOP switches later.
// Main thread, but for `debug_on`, which start-up writes before the reader
// thread starts and the reader only reads.

#include <set>
#include <string>

// What start-up reads from the environment and the bundle, each by its own rule
// (read_settings in core/startup.h).
struct StartupSettings {
  bool accessory = false;   // no task-bar presence; WINOP can switch it off
  bool defer_show = false;  // the main window's first show waits; cleared once it shows
  bool panel = false;
  std::string read_access;
  std::string user_agent;
  std::string debug;  // non-empty = debug on; "open" also opens the inspector
  std::string inject_js;
  std::string downloads;
  std::string popups;
  bool has_chrome = false;
  std::string chrome;
  std::string attribution;   // the environment's when set and non-empty, else the key's
  std::string credits_file;  // Contents/Resources/Credits.html, .rtf or .rtfd, the first there
  std::string help_book;
  std::string ai_url;      // QUIBEX_AI_URL when non-empty, else the key QuibexAIURL
  std::string ai_model;    // QUIBEX_AI_MODEL when non-empty, else the key QuibexAIModel
  bool ai_remote = false;  // QUIBEX_AI_REMOTE "1" or the key QuibexAIRemote: a host off this machine is accepted
};

struct Settings : StartupSettings {
  // Who the application is.
  std::string app_name = "quibex";  // the title
  std::string app_version = "0.0.0";
  // The application id the windows carry and the icon they show
  // (core/app_identity.h); "" in command-line mode, and "" = the theme's generic icon.
  std::string app_id, app_icon;
  std::string bundle_identifier;  // the bundle's CFBundleIdentifier; "" = none (or no bundle)
  std::string bundle_path;        // the bundle's directory; "" = none
  // The page file of the main window (empty when the page is a URL).
  std::string html_path;
  // Every command-line argument after the program name.
  std::set<std::string> own_argv_paths;
  // The bundle's media trust list (QuibexMediaOrigins), read when the list is first used.
  std::string media_origins_key;

  // How the host runs.
  bool windowless = false;   // no main window
  bool bundle_mode = false;  // started from an application bundle
  bool debug_on = false;     // developer extras (`debug` is not empty)
  bool debug_open = false;   // and the inspector opens with each page (`debug` is "open")
  bool suppress_order_front = false;

  // Switched by WINOP.
  bool hide_on_close = false;  // closing the main window hides it instead
  bool rescue_on = true;       // after a change of screens, windows left off screen are rescued
};

// The one settings object of the process.
Settings& settings();
