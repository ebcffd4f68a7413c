#include "services/pending_answers.h"

#include <cstdlib>

#include "core/json_out.h"

std::string locale_json() { return "null"; }

std::string dock_icon_json() {
  const char* env = std::getenv("QUIBEX_ICON");
  return JsonObject()
      .boolean("set", false)
      .raw("width", "0")
      .raw("height", "0")
      .boolean("hasDevDefault", false)
      .text("env", env ? env : "")
      .str();
}
