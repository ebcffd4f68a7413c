#include "tests/unit/core/test_support.h"

#include <utility>

#include "core/core_commands.h"
#include "services/service_commands.h"
#include "webui/webui_commands.h"
#include "services/service_parts.h"
#include "webui/webui_parts.h"

CommandTable reachable_commands() {
  CommandTable t;
  fill_core_commands(t);
  fill_webui_commands(t);
  fill_service_commands(t);
  return t;
}

void install_reachable_parts() {
  StartupPhases p;
  add_webui_startup_parts(p);
  add_service_startup_parts(p);
  install_startup_phases(std::move(p));
  subscribe_webui_window_observers();
}
