#include "ai/ai_parts.h"

#include "ai/model_server.h"

void add_ai_startup_parts(StartupPhases& p) {
  p.settings_applied.push_back([](const StartupInfo& start) {
    const StartupSettings& s = start.settings;
    ai_set_server_config({s.ai_url, s.ai_model, s.ai_remote});
  });
}
