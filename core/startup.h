#pragma once
// Start-up in bundle mode or command-line mode: the settings it reads, which it
// writes into the core's settings (settings.h), and the host's main(). Shut-down
// is launcher_finish (launcher.h).

#include <functional>
#include <string>

#include "platform/platform.h"

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
  std::string attribution;   // the environment's when set and non-empty, else the key's
  std::string credits_file;  // Contents/Resources/Credits.html, .rtf or .rtfd, the first there
  std::string help_book;
  std::string ai_url;      // QUIBEX_AI_URL when non-empty, else the key QuibexAIURL
  std::string ai_model;    // QUIBEX_AI_MODEL when non-empty, else the key QuibexAIModel
  bool ai_remote = false;  // QUIBEX_AI_REMOTE "1" or the key QuibexAIRemote: a host off this machine is accepted
};

using EnvLookup = std::function<const char*(const char*)>;
// bundle_path: the application bundle the executable lies in ("" when none).
StartupSettings read_settings(const EnvLookup& env, const platform::PlistDict& info, const std::string& bundle_path);

// The nearest ancestor directory of path whose name ends in ".app"; "" when none.
std::string find_app_bundle(const std::string& executable_path);

// The host's main(): returns the exit code of an early failure; a normal end
// leaves through the shut-down, which does not return.
int launcher_main(int argc, char** argv);
