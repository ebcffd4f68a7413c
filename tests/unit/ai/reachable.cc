#include "tests/unit/core/test_support.h"

#include <utility>

#include "ai/ai_commands.h"
#include "core/core_commands.h"
#include "ai/ai_parts.h"

CommandTable reachable_commands() {
  CommandTable t;
  fill_core_commands(t);
  fill_ai_commands(t);
  return t;
}

void install_reachable_parts() {
  StartupPhases p;
  add_ai_startup_parts(p);
  install_startup_phases(std::move(p));
}
