#include "services/clip_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>

std::optional<std::string> base64_decode(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string digits;
  size_t padding = 0;
  for (char c : text) {
    if (c == '=') {
      ++padding;
    } else if (value(c) >= 0) {
      if (padding) return std::nullopt;  // data after the padding
      digits += c;
    }
  }
  // Whole groups of four, padded as the standard form has it.
  if (digits.empty() || padding > 2 || (digits.size() + padding) % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(digits.size() * 3 / 4);
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : digits) {
    acc = (acc << 6) | std::uint32_t(value(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += char((acc >> bits) & 0xff);
    }
  }
  return out;
}

namespace {

// An image file larger than this is not read.
constexpr size_t kMaxImageFile = size_t(256) << 20;

// Only a regular file is read, opened without waiting: a device such as
// /dev/zero never ends, and a pipe nobody writes to never starts.
std::optional<std::string> read_image_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> out;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= kMaxImageFile) {
    std::string data;
    char buf[65536];
    ssize_t n;
    while (data.size() <= kMaxImageFile && ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
      if (n > 0) data.append(buf, size_t(n));
    if (n == 0 && data.size() <= kMaxImageFile) out = std::move(data);
  }
  close(fd);
  return out;
}

}  // namespace

std::optional<std::string> decode_image_field(const std::string& field) {
  if (field.empty()) return std::nullopt;
  if (field[0] == '/' || field[0] == '~') {
    std::string path = field;
    if (field.rfind("~/", 0) == 0)
      if (const char* home = std::getenv("HOME"); home && *home) path = std::string(home) + field.substr(1);
    return read_image_file(path);
  }
  std::string_view text = field;
  if (text.rfind("data:", 0) == 0)
    if (size_t comma = text.find(','); comma != std::string_view::npos) text = text.substr(comma + 1);
  return base64_decode(text);
}

bool parse_hex_color(const std::string& text, double rgba[4]) {
  std::string s = text;
  if (!s.empty() && s[0] == '#') s.erase(0, 1);
  if (s.size() != 6 && s.size() != 8) return false;
  unsigned int v = 0;
  if (std::sscanf(s.c_str(), "%x", &v) != 1) return false;
  auto c = [&](int shift) { return double((v >> shift) & 0xff) / 255.0; };
  if (s.size() == 6) {
    rgba[0] = c(16), rgba[1] = c(8), rgba[2] = c(0), rgba[3] = 1;
  } else {
    rgba[0] = c(24), rgba[1] = c(16), rgba[2] = c(8), rgba[3] = c(0);
  }
  return true;
}

std::string hex_color_text(double r, double g, double b, double a) {
  auto byte = [](double v) {
    const double x = v * 255 + 0.5;
    return x < 0 ? 0 : x > 255 ? 255 : int(x);
  };
  char buf[16];
  if (a < 1)
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x%02x", byte(r), byte(g), byte(b), byte(a));
  else
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", byte(r), byte(g), byte(b));
  return buf;
}

std::string file_uri(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') {
    char buf[4096];
    if (getcwd(buf, sizeof buf)) abs = std::string(buf) + "/" + path;
  }
  static const char* hex = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : abs) {
    if (std::isalnum(c) || std::string_view("/-._~!$&'()*+,;=:@").find(char(c)) != std::string_view::npos) {
      out += char(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::optional<std::string> file_uri_path(std::string_view uri) {
  if (uri.rfind("file://", 0) != 0) return std::nullopt;
  std::string_view rest = uri.substr(7);
  if (rest.rfind("localhost/", 0) == 0) rest.remove_prefix(9);
  if (rest.empty() || rest[0] != '/') return std::nullopt;  // another host's file
  auto hexval = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string out;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && hexval(rest[i + 1]) >= 0 && hexval(rest[i + 2]) >= 0) {
      out += char(hexval(rest[i + 1]) * 16 + hexval(rest[i + 2]));
      i += 2;
    } else if (rest[i] == '?' || rest[i] == '#') {
      break;
    } else {
      out += rest[i];
    }
  }
  if (out.find('\0') != std::string::npos) return std::nullopt;
  return out;
}

std::vector<std::string> parse_uri_list(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (!line.empty() && line[0] != '#') out.emplace_back(line);
    start = end + 1;
  }
  return out;
}

std::string markup_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string new_uuid() {
  static std::mt19937_64 rng{std::random_device{}()};
  unsigned char b[16];
  for (int i = 0; i < 16; i += 8) {
    std::uint64_t v = rng();
    for (int j = 0; j < 8; ++j) b[i + j] = (unsigned char)(v >> (8 * j));
  }
  b[6] = (b[6] & 0x0f) | 0x40;
  b[8] = (b[8] & 0x3f) | 0x80;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return buf;
}
