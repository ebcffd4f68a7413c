#pragma once
// Start-up in bundle mode or command-line mode: the settings it reads, which it
// writes into the core's settings (settings.h), and the host's main(). Shut-down
// is launcher_finish (launcher.h).

#include <functional>
#include <string>

#include "core/settings.h"
#include "platform/platform.h"


using EnvLookup = std::function<const char*(const char*)>;
// bundle_path: the application bundle the executable lies in ("" when none).
StartupSettings read_settings(const EnvLookup& env, const platform::PlistDict& info, const std::string& bundle_path);

// The nearest ancestor directory of path whose name ends in ".app"; "" when none.
std::string find_app_bundle(const std::string& executable_path);

// The host's main(): returns the exit code of an early failure; a normal end
// leaves through the shut-down, which does not return.
int launcher_main(int argc, char** argv);
