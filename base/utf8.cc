#include "base/utf8.h"

#include "base/byte_scan.h"

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

// The index of the first ill-formed sequence from i on, or s.size(). ASCII runs
// go eight bytes at a time.
size_t valid_until(std::string_view s, size_t i) {
  const size_t n = s.size();
  for (;;) {
    i = byte_scan::next(s, i, byte_scan::any_high, [](unsigned char c) { return c >= 0x80; });
    if (i == n) return n;
    const int k = utf8_step(s, i);
    if (k < 0) return i;
    i += size_t(k);
  }
}

// Calls run(from, to) for each well-formed run and bad() for each maximal
// ill-formed subpart, in order, from bad_at (an ill-formed sequence) on.
template <class Run, class Bad>
void repair_walk(std::string_view s, size_t bad_at, Run run, Bad bad) {
  run(size_t(0), bad_at);
  for (size_t i = bad_at; i < s.size();) {
    const int k = utf8_step(s, i);
    if (k > 0) {
      const size_t good = valid_until(s, i);
      run(i, good);
      i = good;
    } else {
      bad();
      i += size_t(-k);
    }
  }
}

constexpr std::string_view kReplacement = "\xef\xbf\xbd";

// The repaired text of s, whose first ill-formed sequence is at bad_at; sized once.
std::string repaired(std::string_view s, size_t bad_at) {
  size_t size = 0;
  repair_walk(s, bad_at, [&](size_t a, size_t b) { size += b - a; }, [&] { size += kReplacement.size(); });
  std::string out;
  out.reserve(size);
  repair_walk(s, bad_at, [&](size_t a, size_t b) { out.append(s.data() + a, b - a); }, [&] { out += kReplacement; });
  return out;
}

}  // namespace

bool utf8_valid(std::string_view s) { return valid_until(s, 0) == s.size(); }

std::string utf8_sanitize(std::string_view s) {
  const size_t bad = valid_until(s, 0);
  return bad == s.size() ? std::string(s) : repaired(s, bad);
}

void utf8_sanitize_in_place(std::string& s) {
  const size_t bad = valid_until(s, 0);
  if (bad != s.size()) s = repaired(s, bad);
}

size_t utf8_cut(std::string_view s, size_t max) {
  size_t cut = max < s.size() ? max : s.size();
  while (cut > 0 && cut < s.size() && (static_cast<unsigned char>(s[cut]) & 0xc0) == 0x80) --cut;
  return cut;
}
