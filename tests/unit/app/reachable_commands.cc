#include "app/command_table.h"
#include "tests/unit/core/test_support.h"

CommandTable reachable_commands() { return app_command_table(); }
