#include "base/utf8.h"

namespace {

// The length of the well-formed sequence at s[i], or the length of the maximal
// ill-formed subpart there, negated (-1 .. -3).
int utf8_step(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  int need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return -k;
    const unsigned char t = static_cast<unsigned char>(s[i + k]);
    if (k == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) return -k;
  }
  return need + 1;
}

}  // namespace

bool utf8_valid(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    // ASCII runs are the common case.
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const int n = utf8_step(s, i);
    if (n < 0) return false;
    i += size_t(n);
  }
  return true;
}

std::string utf8_sanitize(std::string_view s) {
  if (utf8_valid(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size();) {
    const int n = utf8_step(s, i);
    if (n > 0) {
      out.append(s.data() + i, size_t(n));
      i += size_t(n);
    } else {
      out += "\xef\xbf\xbd";
      i += size_t(-n);
    }
  }
  return out;
}

size_t utf8_cut(std::string_view s, size_t max) {
  size_t cut = max < s.size() ? max : s.size();
  while (cut > 0 && cut < s.size() && (static_cast<unsigned char>(s[cut]) & 0xc0) == 0x80) --cut;
  return cut;
}
