#include "app/command_table.h"

#include "ai/ai_commands.h"
#include "core/core_commands.h"
#include "services/service_commands.h"
#include "webui/webui_commands.h"

CommandTable app_command_table() {
  CommandTable t;
  fill_core_commands(t);
  fill_webui_commands(t);
  fill_service_commands(t);
  fill_ai_commands(t);
  return t;
}
