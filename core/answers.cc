#include "core/answers.h"

#include "base/json_out.h"
#include "core/wire.h"

void send_got(std::string_view id, std::string_view json) {
  std::string line = "GOT ";
  line.reserve(id.size() + json.size() + 6);  // and the LF the wire adds
  line += id;
  line += ' ';
  line += json;
  sock_write_line(std::move(line));
}

std::string ok_json(bool ok) { return JsonObject().boolean("ok", ok).str(); }

std::string error_json(std::string_view text) { return JsonObject().boolean("ok", false).text("error", text).str(); }

std::string ok_error_json(bool ok, std::string_view error) {
  return JsonObject().boolean("ok", ok).raw("error", error.empty() ? "null" : json_text(error)).str();
}
