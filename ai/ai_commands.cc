#include "ai/ai_commands.h"

#include "ai/ai_requests.h"

void fill_ai_commands(CommandTable& t) {
  t.ai = command<do_ai>;
  t.ai_tool_result = ai_tool_result;
}
