#include "core/wire.h"

#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

int g_sock = -1;
std::mutex g_write_mutex;
std::deque<std::string> g_pending_out;

void sock_write_line(const std::string& line) {
  if (line.find_first_of("\r\n") != std::string::npos) {
    std::fputs("quibex: dropped a wire line with a raw line break\n", stderr);
    return;
  }
  std::lock_guard<std::mutex> lock(g_write_mutex);
  if (g_sock >= 0) {
    std::string bytes;
    bytes.reserve(line.size() + 1);
    bytes += line;
    bytes += '\n';
    sock_write_raw(bytes);
  } else if (g_pending_out.size() < kPendingOutMax) {
    g_pending_out.push_back(line);
  }
}

void sock_write_raw(const std::string& bytes) {
  const char* p = bytes.data();
  size_t n = bytes.size();
  while (n > 0) {
    // MSG_NOSIGNAL: a backend that went away must not kill the host with SIGPIPE.
    ssize_t r = send(g_sock, p, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;  // a signal is not a broken connection
    if (r < 1) return;
    p += r;
    n -= static_cast<size_t>(r);
  }
}

void sock_set_connected(int fd) {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  g_sock = fd;
  for (const std::string& line : g_pending_out) sock_write_raw(line + '\n');
  g_pending_out.clear();
}

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

std::vector<std::string> split_tabs(std::string_view s) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = s.find('\t', start);
    if (tab == std::string_view::npos) {
      fields.emplace_back(s.substr(start));
      return fields;
    }
    fields.emplace_back(s.substr(start, tab - start));
    start = tab + 1;
  }
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

void wire_reset_for_tests() {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  g_sock = -1;
  g_pending_out.clear();
}
