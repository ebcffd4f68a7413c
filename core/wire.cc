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

void wire_reset_for_tests() {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  g_sock = -1;
  g_pending_out.clear();
}
