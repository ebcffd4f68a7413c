#include "platform/fake/fake_services.h"

namespace platform::fake {

namespace {
const std::string kSig("\x89PNG\r\n\x1a\n", 8);

std::uint32_t be32(const std::string& s, size_t at) {
  return (std::uint32_t((unsigned char)s[at]) << 24) | (std::uint32_t((unsigned char)s[at + 1]) << 16) |
         (std::uint32_t((unsigned char)s[at + 2]) << 8) | std::uint32_t((unsigned char)s[at + 3]);
}
void put32(std::string& s, std::uint32_t v) {
  for (int sh = 24; sh >= 0; sh -= 8) s += char((v >> sh) & 0xff);
}
}  // namespace

std::string fake_png(std::uint32_t w, std::uint32_t h) {
  std::string s = kSig;
  put32(s, 13);
  s += "IHDR";
  put32(s, w);
  put32(s, h);
  s += std::string("\x08\x06\x00\x00\x00", 5);
  put32(s, 0);  // the checksum, which the fake does not read
  return s;
}

std::optional<std::pair<long, long>> FakeClipboard::png_size(const std::string& png) {
  if (png.size() < 24 || png.compare(0, 8, kSig) != 0 || png.compare(12, 4, "IHDR") != 0) return std::nullopt;
  const long w = long(be32(png, 16)), h = long(be32(png, 20));
  if (w < 1 || h < 1) return std::nullopt;
  return std::make_pair(w, h);
}

// The fake reads PNG as it is, and a "GIF8" image as a 1 x 1 picture it converts.
std::optional<std::string> FakeClipboard::to_png(const std::string& bytes) {
  if (png_size(bytes)) return bytes;
  if (bytes.rfind("GIF8", 0) == 0) return fake_png(1, 1);
  return std::nullopt;
}

}  // namespace platform::fake
