#include "tests/unit/core/test_support.h"

#include "core/core_commands.h"

CommandTable reachable_commands() {
  CommandTable t;
  fill_core_commands(t);
  return t;
}

// The core adds no parts of its own.
void install_reachable_parts() {}
