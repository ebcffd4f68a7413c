#include "tests/unit/core/test_support.h"

#include "core/core_commands.h"
#include "webui/webui_commands.h"

CommandTable reachable_commands() {
  CommandTable t;
  fill_core_commands(t);
  fill_webui_commands(t);
  return t;
}
