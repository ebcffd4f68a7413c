#include "base/wire_text.h"

#include <cstring>

std::string wire_escape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string wire_unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < n) {
      char e = s[++i];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        default: out += e;
      }
    } else {
      out += c;
    }
  }
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
