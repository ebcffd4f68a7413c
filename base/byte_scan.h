#pragma once
// Eight bytes at a time: the text helpers look for the next byte that needs work
// with word tests and copy the run before it in one go, instead of going through
// text byte by byte. Pure inline functions, any thread.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace byte_scan {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHigh = 0x8080808080808080ull;

inline std::uint64_t load8(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Nonzero when a byte of w is zero; exact for the word as a whole (which byte is
// flagged is not). The masks of several tests combine with |, one branch for all.
constexpr std::uint64_t zero_mask(std::uint64_t w) { return (w - kOnes) & ~w & kHigh; }
// Nonzero when a byte of w equals c.
constexpr std::uint64_t byte_mask(std::uint64_t w, unsigned char c) { return zero_mask(w ^ (kOnes * c)); }
// Nonzero when a byte of w is below n (n <= 0x80).
constexpr std::uint64_t below_mask(std::uint64_t w, unsigned char n) { return (w - kOnes * n) & ~w & kHigh; }
// Whether any byte of w is not ASCII.
constexpr bool any_high(std::uint64_t w) { return (w & kHigh) != 0; }

// The first index from i on whose byte passes hit, or s.size(). word(w) must be
// true for every word holding such a byte (it may be true for others too).
template <class Word, class Hit>
inline size_t next(std::string_view s, size_t i, Word word, Hit hit) {
  const char* p = s.data();
  const size_t n = s.size();
  for (;;) {
    while (i + 8 <= n && !word(load8(p + i))) i += 8;
    const size_t stop = i + 8 < n ? i + 8 : n;
    for (; i < stop; ++i)
      if (hit(static_cast<unsigned char>(p[i]))) return i;
    if (i >= n) return n;
  }
}

// The sum of extra(c) over the bytes of s; words for which word(w) is false add
// nothing and are skipped whole (word as for next).
template <class Word, class Extra>
inline size_t sum(std::string_view s, Word word, Extra extra) {
  const char* p = s.data();
  const size_t n = s.size();
  size_t total = 0, i = 0;
  for (; i + 8 <= n; i += 8)
    if (word(load8(p + i)))
      for (size_t k = 0; k < 8; ++k) total += extra(static_cast<unsigned char>(p[i + k]));
  for (; i < n; ++i) total += extra(static_cast<unsigned char>(p[i]));
  return total;
}

// Writes s to d, each byte through put(d, c), which returns the new end; words for
// which word(w) is false are copied whole. Returns the end of what was written.
template <class Word, class Put>
inline char* transform(std::string_view s, char* d, Word word, Put put) {
  const char* p = s.data();
  const size_t n = s.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    if (!word(load8(p + i))) {
      std::memcpy(d, p + i, 8);
      d += 8;
      continue;
    }
    for (size_t k = 0; k < 8; ++k) d = put(d, static_cast<unsigned char>(p[i + k]));
  }
  for (; i < n; ++i) d = put(d, static_cast<unsigned char>(p[i]));
  return d;
}

}  // namespace byte_scan
