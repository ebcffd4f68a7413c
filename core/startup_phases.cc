#include "core/startup_phases.h"

#include <utility>

namespace {

StartupPhases& phases() {
  static StartupPhases p;
  return p;
}

}  // namespace

void install_startup_phases(StartupPhases p) { phases() = std::move(p); }

const StartupPhases& startup_phases() { return phases(); }

void run_startup_phase(const StartupPhase& phase, const StartupInfo& info) {
  for (const StartupPart& part : phase) part(info);
}
