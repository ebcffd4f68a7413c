// COOKIES: get, set and delete in the web views' shared cookie store.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/wire_text.h"
#include "core/answers.h"
#include "base/json_out.h"
#include "core/records.h"
#include "platform/platform.h"
#include "webui/page_actions.h"

namespace {


// Control bytes and ';' would end a cookie early or add attributes to it.
bool header_safe(const std::string& s, const char* also_refused = "") {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7f || c == ';' || std::strchr(also_refused, c)) return false;
  return true;
}

}  // namespace

std::string cookie_json(const platform::Cookie& c) {
  std::string out = "{\"name\":" + json_text(c.name) + ",\"value\":" + json_text(c.value) +
                    ",\"domain\":" + json_text(c.domain) + ",\"path\":" + json_text(c.path.empty() ? "/" : c.path) +
                    ",\"expires\":";
  if (c.expires_ms && std::isfinite(*c.expires_ms)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", std::trunc(*c.expires_ms));
    out += buf;
  } else {
    out += "null";
  }
  out += ",\"secure\":";
  out += json_bool(c.secure);
  out += ",\"httpOnly\":";
  out += json_bool(c.http_only);
  out += ",\"sameSite\":";
  out += c.same_site == platform::SameSite::Lax      ? "\"lax\""
         : c.same_site == platform::SameSite::Strict ? "\"strict\""
                                                     : "\"none\"";
  out += "}";
  return out;
}

std::optional<std::optional<double>> parse_cookie_expiry(const std::string& field) {
  if (field.empty()) return std::optional<double>();
  // The whole field must be a finite number: text that reads as 0 would set a
  // cookie that is gone at once while the set is reported done.
  char* end = nullptr;
  double ms = std::strtod(field.c_str(), &end);
  if (end == field.c_str() || *end != '\0' || !std::isfinite(ms)) return std::nullopt;
  return std::optional<double>(ms);
}

bool cookie_fields_acceptable(const platform::Cookie& c) {
  return !c.name.empty() && !c.domain.empty() && header_safe(c.name, "= \t") && header_safe(c.value) &&
         header_safe(c.domain, " ,") && header_safe(c.path);
}

void do_cookies(void* w, std::unique_ptr<CookieReq> r) {
  const std::string id = r->id;
  std::vector<std::string> raw = split_tabs(r->rest);
  const std::string op = raw.empty() ? std::string() : raw[0];
  auto field = [&raw](size_t i) { return i < raw.size() ? wire_unescape(raw[i]) : std::string(); };
  platform::CookieStore& store = platform::current().cookie_store();

  if (op == "get") {
    store.get_all([id](std::vector<platform::Cookie> cookies) {
      std::string out = "{\"ok\":true,\"cookies\":[";
      for (size_t i = 0; i < cookies.size(); ++i) {
        if (i) out += ",";
        out += cookie_json(cookies[i]);
      }
      send_got(id, out + "]}");
    });
  } else if (op == "set") {
    platform::Cookie c;
    c.name = field(1);
    c.value = field(2);
    c.domain = field(3);
    c.path = field(4);
    auto expiry = parse_cookie_expiry(field(5));
    c.secure = field(6) == "1";
    c.http_only = field(7) == "1";
    const std::string same = field(8);
    c.same_site = same == "lax" ? platform::SameSite::Lax
                  : same == "strict" ? platform::SameSite::Strict
                                     : platform::SameSite::NoPolicy;
    if (!expiry || !cookie_fields_acceptable(c)) {
      send_got(id, error_json("invalid cookie"));
      return;
    }
    c.expires_ms = *expiry;
    store.set(c, [id](bool ok) { send_got(id, ok ? ok_json() : error_json("invalid cookie")); });
  } else if (op == "delete") {
    const std::string name = field(1), domain = field(2), path = field(3);
    store.get_all([id, name, domain, path](std::vector<platform::Cookie> cookies) {
      std::vector<platform::Cookie> doomed;
      for (auto& c : cookies)
        if (c.name == name && c.domain == domain && c.path == path) doomed.push_back(c);
      if (doomed.empty()) {
        send_got(id, "{\"ok\":true,\"removed\":0}");
        return;
      }
      const size_t n = doomed.size();
      auto left = std::make_shared<size_t>(n);
      for (auto& c : doomed)
        platform::current().cookie_store().remove(c, [id, n, left] {
          if (--*left == 0) send_got(id, "{\"ok\":true,\"removed\":" + std::to_string(n) + "}");
        });
    });
  } else {
    send_got(id, error_json("bad cookies op"));
  }
}
