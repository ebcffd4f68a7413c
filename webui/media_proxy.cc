#include "webui/media_proxy.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "base/ascii_case.h"
#include "core/settings.h"
#include "platform/platform.h"

namespace {

struct Rule {
  std::string capability;
  std::string pattern;
};

// Read once, on first use; never changed afterwards.
std::mutex g_trust_mu;
bool g_trust_loaded = false;
std::vector<Rule> g_trust;

bool starts_with(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

void load_trust_list() {
  // The environment wins whenever it is set, even empty.
  const char* env = std::getenv("QUIBEX_MEDIA_ORIGINS");
  const std::string text = env ? env : settings().media_origins_key;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    const std::string line = text.substr(start, lf - start);
    const size_t sp = line.find(' ');
    if (sp != std::string::npos) g_trust.push_back({line.substr(0, sp), line.substr(sp + 1)});
    start = lf + 1;
  }
}

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const int a = hex(s[i + 1]), b = hex(s[i + 2]);
      if (a >= 0 && b >= 0) {
        out += char(a * 16 + b);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// The value of the last query item named exactly "u", decoded.
std::optional<std::string> last_u(const std::string& url) {
  const size_t q = url.find('?');
  if (q == std::string::npos) return std::nullopt;
  size_t end = url.find('#', q);
  if (end == std::string::npos) end = url.size();
  std::optional<std::string> found;
  size_t start = q + 1;
  while (start <= end) {
    size_t amp = url.find('&', start);
    if (amp == std::string::npos || amp > end) amp = end;
    const std::string_view item(url.data() + start, amp - start);
    const size_t eq = item.find('=');
    const std::string name = percent_decode(item.substr(0, eq));
    if (name == "u") found = eq == std::string_view::npos ? std::string() : percent_decode(item.substr(eq + 1));
    start = amp + 1;
  }
  return found;
}

struct UrlParts {
  std::string scheme, host;
  std::optional<long> port;
};

// scheme://[user@]host[:port]/...; false when there is no scheme.
bool split_url(const std::string& url, UrlParts& out) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char c = url[i];
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.')) return false;
  }
  out.scheme = ascii_lower(url.substr(0, colon));
  if (url.compare(colon + 1, 2, "//") != 0) return true;
  const size_t start = colon + 3;
  size_t end = url.find_first_of("/?#", start);
  if (end == std::string::npos) end = url.size();
  std::string authority = url.substr(start, end - start);
  if (const size_t at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
  size_t port_colon = std::string::npos;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close != std::string::npos && close + 1 < authority.size() && authority[close + 1] == ':') port_colon = close + 1;
  } else {
    port_colon = authority.rfind(':');
  }
  out.host = ascii_lower(port_colon == std::string::npos ? authority : authority.substr(0, port_colon));
  if (port_colon != std::string::npos && port_colon + 1 < authority.size()) {
    const std::string digits = authority.substr(port_colon + 1);
    if (digits.find_first_not_of("0123456789") == std::string::npos && digits.size() <= 5)
      out.port = std::strtol(digits.c_str(), nullptr, 10);
  }
  return true;
}

std::string origin_of(const std::string& scheme, const std::string& host, std::optional<long> port) {
  if (scheme.empty()) return "null";
  if (scheme == "file") return "file://" + host;
  std::string out = scheme + "://" + host;
  if (port && !(*port == 80 && scheme == "http") && !(*port == 443 && scheme == "https"))
    out.append(":").append(std::to_string(*port));
  return out;
}

std::optional<std::string> header(const platform::HeaderList& headers, const char* name) {
  const std::string want = ascii_lower(name);
  for (const auto& [k, v] : headers)
    if (ascii_lower(k) == want) return v;
  return std::nullopt;
}

void refuse(platform::MediaDecision& d, const std::string& origin, const char* reason) {
  std::fprintf(stderr, "quibex: quib-media proxy refused for %s%s\n", origin.c_str(), reason);
  d.kind = platform::MediaDecision::kRefuse;
  d.code = 403;
  d.message = "quib.proxyURL: this origin may not use the media proxy";
}

}  // namespace

bool media_glob(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool media_trusted(const std::string& capability, const std::string& origin) {
  if (origin == "file://") return true;
  {
    std::lock_guard<std::mutex> lock(g_trust_mu);
    if (!g_trust_loaded) load_trust_list();
    g_trust_loaded = true;
  }
  for (const Rule& r : g_trust)
    if (r.capability == capability && media_glob(r.pattern, origin)) return true;
  return false;
}

std::string url_origin_str(const std::string& url) {
  UrlParts u;
  if (!split_url(url, u)) return "null";
  if (u.scheme == "file") return "file://";
  return origin_of(u.scheme, u.host, u.port);
}

platform::MediaDecision media_decide(const platform::MediaRequest& r) {
  platform::MediaDecision d;
  const bool document = r.accept && r.accept->find("text/html") != std::string::npos;
  const std::string origin = r.origin ? *r.origin : url_origin_str(r.document_url);
  if (document) {
    refuse(d, origin, " (document load)");
    return d;
  }
  if (!media_trusted("proxy", origin)) {
    refuse(d, origin, " (not trusted: allow media.proxy in quibex.json \"api\".origins)");
    return d;
  }
  // Only web addresses go upstream: never a file, never anything but http(s).
  const std::optional<std::string> target = last_u(r.url);
  UrlParts t;
  if (!target || !split_url(*target, t) || (t.scheme != "http" && t.scheme != "https") || t.host.empty()) {
    d.kind = platform::MediaDecision::kBadTarget;
    d.code = 400;
    d.message = "quib.proxyURL: only http/https URLs can be proxied";
    return d;
  }
  d.kind = platform::MediaDecision::kFetch;
  d.code = 200;
  d.target = *target;
  for (const char* name : {"Range", "User-Agent"})
    if (std::optional<std::string> v = header(r.headers, name)) d.headers.emplace_back(name, *v);
  return d;
}

platform::MediaHead media_response_head(const platform::MediaUpstream& up) {
  platform::MediaHead head;
  const std::string mime = ascii_lower(up.mime);
  const bool av = starts_with(mime, "audio/") || starts_with(mime, "video/");
  const bool unknown_length = av && up.length == -1;
  if (up.http) {
    head.status = up.status;
    for (const auto& [k, v] : up.headers) {
      const std::string name = ascii_lower(k);
      if (starts_with(name, "access-control-") || starts_with(name, "content-security-policy")) continue;
      if (unknown_length &&
          (name == "transfer-encoding" || name == "accept-ranges" || name == "content-length" || name == "content-range"))
        continue;
      head.headers.emplace_back(k, v);
    }
  }
  bool has_type = false;
  for (const auto& [k, v] : head.headers) has_type = has_type || k == "Content-Type";
  if (!has_type && !up.mime.empty()) head.headers.emplace_back("Content-Type", up.mime);
  // A live stream that announces no length still needs a finite one for the media element.
  if (unknown_length && head.status == 200) head.headers.emplace_back("Content-Length", "1099511627776");
  for (const char* name :
       {"Access-Control-Allow-Origin", "Access-Control-Allow-Headers", "Access-Control-Expose-Headers"})
    head.headers.emplace_back(name, "*");
  head.headers.emplace_back("Content-Security-Policy", "sandbox");
  return head;
}

bool media_capture_trusted(const platform::CaptureRequest& r) {
  // Whichever document asked must be trusted, and so must the top one; when the
  // asking one is not known, the user decides.
  auto both = [&](const char* cap) {
    if (r.frames.empty() || !media_trusted(cap, r.origin)) return false;
    for (const std::string& frame : r.frames)
      if (!media_trusted(cap, frame)) return false;
    return true;
  };
  if (r.camera && r.microphone) return both("camera") && both("microphone");
  if (r.camera) return both("camera");
  if (r.microphone) return both("microphone");
  return false;
}

void install_media_scheme_hook() {
  platform::current().install_media_scheme({media_decide, media_response_head, media_capture_trusted});
}

void media_trust_reset_for_tests() {
  std::lock_guard<std::mutex> lock(g_trust_mu);
  g_trust.clear();
  g_trust_loaded = false;
}
