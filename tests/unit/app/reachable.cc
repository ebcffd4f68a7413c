#include "app/command_table.h"
#include "app/startup_parts.h"
#include "app/window_observers.h"
#include "tests/unit/core/test_support.h"

CommandTable reachable_commands() { return app_command_table(); }

void install_reachable_parts() {
  install_startup_parts();
  install_window_observers();
}
