#include "base/wire_text.h"

#include <cstdint>
#include <cstring>

#include "base/byte_scan.h"

namespace {

// The letter after the backslash of each byte wire_escape writes as two; 0 for the others.
struct EscapeTable {
  char letter[256] = {};
  constexpr EscapeTable() {
    letter[int('\\')] = '\\';
    letter[int('\n')] = 'n';
    letter[int('\t')] = 't';
    letter[int('\r')] = 'r';
  }
};
constexpr EscapeTable kEscape;

// TAB, LF and CR are all below 14.
inline bool wire_word(std::uint64_t w) {
  return (byte_scan::below_mask(w, '\r' + 1) | byte_scan::byte_mask(w, '\\')) != 0;
}

inline size_t extra_size(unsigned char c) { return kEscape.letter[c] != 0; }

// Branch-free: the second byte is written for a plain byte too, where the next
// byte overwrites it (the caller leaves room for it).
inline char* put_escaped(char* d, unsigned char c) {
  const char e = kEscape.letter[c];
  d[0] = e ? '\\' : char(c);
  d[1] = e;
  return d + 1 + (e != 0);
}

}  // namespace

std::string wire_escape(std::string_view s) {
  const size_t specials = byte_scan::sum(s, wire_word, extra_size);
  if (specials == 0) return std::string(s);
  // One byte of room for put_escaped's spare write after the last byte.
  std::string out(s.size() + specials + 1, '\0');
  byte_scan::transform(s, out.data(), wire_word, put_escaped);
  out.pop_back();
  return out;
}

std::string wire_unescape(std::string_view s) {
  const char* p = s.data();
  const size_t n = s.size();
  const void* hit = n ? std::memchr(p, '\\', n) : nullptr;
  if (!hit) return std::string(s);
  std::string out;
  out.reserve(n);
  size_t run = 0;
  while (hit) {
    const size_t i = size_t(static_cast<const char*>(hit) - p);
    out.append(p + run, i - run);
    if (i + 1 == n) {  // a trailing backslash stays
      out += '\\';
      return out;
    }
    const char e = p[i + 1];
    out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
    run = i + 2;
    hit = run < n ? std::memchr(p + run, '\\', n - run) : nullptr;
  }
  out.append(p + run, n - run);
  return out;
}

namespace {

template <class Piece>
std::vector<Piece> split_on(std::string_view s, char sep) {
  std::vector<Piece> out;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    if (at == std::string_view::npos) {
      out.emplace_back(s.substr(start));
      return out;
    }
    out.emplace_back(s.substr(start, at - start));
    start = at + 1;
  }
}

}  // namespace

std::vector<std::string> split_tabs(std::string_view s) { return split_on<std::string>(s, '\t'); }

std::vector<std::string_view> split_commas(std::string_view s) { return split_on<std::string_view>(s, ','); }

void split_tabs_into(std::string_view s, std::vector<std::string_view>& out) {
  out.clear();
  const char* p = s.data();
  const char* const end = p + s.size();
  for (;;) {
    const void* tab = p == end ? nullptr : std::memchr(p, '\t', static_cast<size_t>(end - p));
    if (!tab) {
      out.emplace_back(p, static_cast<size_t>(end - p));
      return;
    }
    const char* t = static_cast<const char*>(tab);
    out.emplace_back(p, static_cast<size_t>(t - p));
    p = t + 1;
  }
}
