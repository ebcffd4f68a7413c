#pragma once
// The moments of start-up at which the parts above the core join in: app/ has
// each folder add its parts before launcher_main (app/startup_parts.h), and
// start-up runs each phase once, on the main thread, in the order below, its
// parts in the order they were added. The core's own steps fall between the
// phases, so every part keeps its place in the start-up order. Windowless
// start-ups skip main_window_made.

#include <functional>
#include <vector>

#include "core/startup.h"
#include "platform/platform.h"

// What start-up knows when a phase runs.
struct StartupInfo {
  const StartupSettings& settings;
  const platform::PlistDict& info;  // the bundle's Info.plist; empty without a bundle
};

using StartupPart = std::function<void(const StartupInfo&)>;
using StartupPhase = std::vector<StartupPart>;

struct StartupPhases {
  // The settings are read; the core has applied none of them yet.
  StartupPhase settings_read;
  // The core has taken its settings (activation policy, debug, page options);
  // no window exists yet.
  StartupPhase settings_applied;
  // The main window and its view exist; its page bridge is not attached yet.
  StartupPhase main_window_made;
  // The main window is set up (or the windowless application); the core's
  // window-state observers and open handlers come next.
  StartupPhase windows_ready;
  // The core's window-state observers and open handlers are in place; the page
  // is not loaded and nothing is shown yet.
  StartupPhase before_page;
};

// Replaces the phases. Main thread, before launcher_main.
void install_startup_phases(StartupPhases phases);
const StartupPhases& startup_phases();

// Runs the parts of one phase, in order.
void run_startup_phase(const StartupPhase& phase, const StartupInfo& info);
