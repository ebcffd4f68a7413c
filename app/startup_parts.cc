#include "app/startup_parts.h"

#include <utility>

#include "ai/ai_parts.h"
#include "core/startup_phases.h"
#include "services/service_parts.h"
#include "webui/webui_parts.h"

void install_startup_parts() {
  StartupPhases p;
  add_webui_startup_parts(p);
  add_service_startup_parts(p);
  add_ai_startup_parts(p);
  install_startup_phases(std::move(p));
}
