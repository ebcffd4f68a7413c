#include "tests/unit/core/test_support.h"

#include "ai/ai_commands.h"
#include "core/core_commands.h"

CommandTable reachable_commands() {
  CommandTable t;
  fill_core_commands(t);
  fill_ai_commands(t);
  return t;
}
