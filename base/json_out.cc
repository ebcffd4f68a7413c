#include "base/json_out.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "base/byte_scan.h"
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

namespace {

// How a JSON string literal holds each byte: 0 as it is, else the letter after
// the backslash ('u' for the \u00XX form).
struct EscapeTable {
  char letter[256] = {};
  unsigned char extra[256] = {};  // bytes added: 1 for the two-byte forms, 5 for \u00XX
  constexpr EscapeTable() {
    for (int c = 0; c < 0x20; ++c) letter[c] = 'u';
    letter[int('\t')] = 't';
    letter[int('\n')] = 'n';
    letter[int('\r')] = 'r';
    letter[int('"')] = '"';
    letter[int('\\')] = '\\';
    for (int c = 0; c < 256; ++c) extra[c] = letter[c] == 'u' ? 5 : letter[c] ? 1 : 0;
  }
};
constexpr EscapeTable kEscape;

inline bool json_word(std::uint64_t w) {
  return (byte_scan::below_mask(w, 0x20) | byte_scan::byte_mask(w, '"') | byte_scan::byte_mask(w, '\\')) != 0;
}

inline size_t extra_size(unsigned char c) { return kEscape.extra[c]; }

// Branch-free for the two-byte forms, which dense JSON text is full of; the
// second byte is written even for a plain byte, where the next byte or the
// closing quote overwrites it.
inline char* put_escaped(char* d, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  const char e = kEscape.letter[c];
  if (e == 'u') [[unlikely]] {
    d[0] = '\\';
    d[1] = 'u';
    d[2] = d[3] = '0';
    d[4] = kHex[c >> 4];
    d[5] = kHex[c & 15];
    return d + 6;
  }
  d[0] = e ? '\\' : char(c);
  d[1] = e;
  return d + 1 + (e != 0);
}

}  // namespace

size_t json_escaped_size(std::string_view s) { return s.size() + 2 + byte_scan::sum(s, json_word, extra_size); }

void json_escape_into(std::string& out, std::string_view s) {
  const size_t at = out.size();
  out.resize(at + json_escaped_size(s));
  char* d = out.data() + at;
  *d++ = '"';
  d = byte_scan::transform(s, d, json_word, put_escaped);
  *d = '"';
}

std::string json_escape(std::string_view s) {
  std::string out;
  json_escape_into(out, s);
  return out;
}

std::string json_text(std::string_view s) { return utf8_valid(s) ? json_escape(s) : json_escape(utf8_sanitize(s)); }

std::string json_text_or_null(const std::optional<std::string>& s) { return s ? json_text(*s) : "null"; }

JsonObject& JsonObject::raw(std::string_view key, std::string_view value) {
  if (out_.size() > 1) out_ += ',';
  json_escape_into(out_, key);
  out_ += ':';
  out_ += value;
  return *this;
}
