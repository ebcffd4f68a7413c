#include "base/json_out.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "base/utf8.h"

namespace {

// std::to_chars never looks at the locale.
template <class... Args>
std::string chars(Args... args) {
  char buf[512];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, args...);
  if (ec != std::errc()) return "null";
  return std::string(buf, end);
}

}  // namespace

std::string json_int(double v) {
  if (!std::isfinite(v)) return "null";
  const double t = std::trunc(v);
  if (t <= double(INT32_MIN)) return std::to_string(INT32_MIN);
  if (t >= double(INT32_MAX)) return std::to_string(INT32_MAX);
  return std::to_string(static_cast<std::int32_t>(t));
}

std::string json_round(double v) {
  if (!std::isfinite(v)) return "null";
  // Beyond 2^62 a double has no fraction left, and llround would overflow at 2^63.
  constexpr double kLimit = 4611686018427387904.0;
  if (v >= kLimit) return std::to_string(static_cast<long long>(kLimit));
  if (v <= -kLimit) return std::to_string(-static_cast<long long>(kLimit));
  return std::to_string(std::llround(v));
}

std::string json_fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "null";
  // Beyond this a fixed-point text is hundreds of digits long, and no answer means it.
  if (std::fabs(v) >= 1e300) v = v < 0 ? -1e300 : 1e300;
  return chars(v, std::chars_format::fixed, decimals);
}

std::string json_g(double v) {
  if (!std::isfinite(v)) return "null";
  // "%g": six significant digits, trailing zeros removed.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  // The process keeps LC_NUMERIC "C", but a comma would still be no JSON.
  for (char* p = buf; *p; ++p)
    if (*p == ',') *p = '.';
  return buf;
}

void json_escape_into(std::string& out, std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + s.size() + 2);
  out += '"';
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

std::string json_escape(std::string_view s) {
  std::string out;
  json_escape_into(out, s);
  return out;
}

std::string json_text(std::string_view s) { return json_escape(utf8_valid(s) ? std::string(s) : utf8_sanitize(s)); }

std::string json_text_or_null(const std::optional<std::string>& s) { return s ? json_text(*s) : "null"; }

JsonObject& JsonObject::raw(std::string_view key, std::string_view value) {
  if (out_.size() > 1) out_ += ',';
  json_escape_into(out_, key);
  out_ += ':';
  out_ += value;
  return *this;
}
