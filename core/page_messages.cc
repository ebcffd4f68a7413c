#include "core/page_messages.h"

#include "base/byte_scan.h"

namespace {

constexpr std::size_t kMaxSeqDigits = 15;
constexpr std::size_t kMaxLengthDigits = 10;

bool digits(std::string_view s, std::size_t max) {
  if (s.empty() || s.size() > max) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The end of `units` UTF-16 code units of text starting at `from`; npos when the
// text ends first or the count ends inside a character.
std::size_t skip_units(std::string_view s, std::size_t from, std::uint64_t units) {
  std::size_t p = from;
  while (units > 0) {
    // ASCII words are eight units each.
    while (units >= 8 && s.size() - p >= 8 && !byte_scan::any_high(byte_scan::load8(s.data() + p))) {
      p += 8;
      units -= 8;
    }
    if (units == 0) break;
    if (p >= s.size()) return std::string_view::npos;
    const auto c = static_cast<unsigned char>(s[p]);
    const std::size_t bytes = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : 2;
    const std::uint64_t taken = bytes == 4 ? 2 : 1;
    if (taken > units || bytes > s.size() - p) return std::string_view::npos;
    units -= taken;
    p += bytes;
  }
  return p;
}

bool read_batch(std::string_view body, std::vector<PageCall>& out) {
  for (std::size_t p = 1; p < body.size();) {
    const std::size_t a = body.find(':', p);
    if (a == std::string_view::npos || !digits(body.substr(p, a - p), kMaxSeqDigits)) return false;
    const std::size_t b = body.find(':', a + 1);
    if (b == std::string_view::npos || !digits(body.substr(a + 1, b - a - 1), kMaxLengthDigits)) return false;
    const std::uint64_t units = std::stoull(std::string(body.substr(a + 1, b - a - 1)));
    const std::size_t end = skip_units(body, b + 1, units);
    if (end == std::string_view::npos) return false;
    out.push_back({body.substr(p, a - p), body.substr(b + 1, end - b - 1)});
    p = end;
  }
  return true;
}

}  // namespace

bool read_page_calls(std::string_view body, std::vector<PageCall>& out) {
  out.clear();
  if (!body.empty() && body[0] == '*') {
    if (read_batch(body, out)) return true;
    out.clear();
    return false;
  }
  const std::size_t colon = body.find(':');
  if (colon == std::string_view::npos || !digits(body.substr(0, colon), kMaxSeqDigits)) return false;
  out.push_back({body.substr(0, colon), body.substr(colon + 1)});
  return true;
}

std::size_t utf16_units(std::string_view utf8) {
  const auto units = [](unsigned char c) -> std::size_t { return (c & 0xc0) == 0x80 ? 0 : c >= 0xf0 ? 2 : 1; };
  const char* p = utf8.data();
  std::size_t n = 0, i = 0;
  for (; i + 8 <= utf8.size(); i += 8) {
    if (!byte_scan::any_high(byte_scan::load8(p + i))) {
      n += 8;  // ASCII: a unit a byte
      continue;
    }
    for (std::size_t k = 0; k < 8; ++k) n += units(static_cast<unsigned char>(p[i + k]));
  }
  for (; i < utf8.size(); ++i) n += units(static_cast<unsigned char>(p[i]));
  return n;
}

void append_page_answer(std::string& out, std::uint64_t seq, bool ok, std::string_view json) {
  out += ok ? '1' : '0';
  out += std::to_string(seq);
  out += ':';
  out += std::to_string(utf16_units(json));
  out += ':';
  out += json;
}
