#include "ai/model_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>

#include <mutex>

#include "platform/http.h"

namespace {

std::mutex& config_mu() {
  static auto* mu = new std::mutex;
  return *mu;
}
AiServerConfig& config() {
  static auto* c = new AiServerConfig;
  return *c;
}
std::mutex& transport_mu() {
  static auto* mu = new std::mutex;
  return *mu;
}
HttpTransport& transport() {
  static auto* t = new HttpTransport;
  return *t;
}

// The host of a URL as the HTTP client reads it; "" when there is no client.
std::string url_host(const std::string& url, std::string* scheme) {
  platform::HttpClient* client = platform::http_client();
  std::string host, s;
  if (client && client->url_parts(url, s, host) && scheme) *scheme = s;
  return host;
}

}  // namespace

void ai_set_server_config(const AiServerConfig& c) {
  std::lock_guard<std::mutex> lock(config_mu());
  config() = c;
}

AiServerConfig ai_server_config() {
  std::lock_guard<std::mutex> lock(config_mu());
  return config();
}

void ai_set_transport_for_tests(HttpTransport t) {
  std::lock_guard<std::mutex> lock(transport_mu());
  transport() = std::move(t);
}

HttpResponse ai_http(const HttpRequest& request) {
  HttpTransport t;
  {
    std::lock_guard<std::mutex> lock(transport_mu());
    t = transport();
  }
  return t ? t(request) : http_send(request);
}

bool ai_http_ready() {
  platform::HttpClient* client = platform::http_client();
  return client && client->ready();
}

bool ai_host_is_loopback(const std::string& host) {
  if (strcasecmp(host.c_str(), "localhost") == 0) return true;
  std::string h = host;
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  in_addr a4;
  if (inet_pton(AF_INET, h.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  if (inet_pton(AF_INET6, h.c_str(), &a6.sin6_addr) == 1)
    return platform::address_is_loopback(reinterpret_cast<sockaddr*>(&a6));
  return false;
}

std::string ai_check_server(const AiServerConfig& c) {
  if (c.url.empty()) return "no on-device model server is set (QUIBEX_AI_URL)";
  std::string scheme;
  const std::string host = url_host(c.url, &scheme);
  if (host.empty() || (scheme != "http" && scheme != "https"))
    return "the model server address is not an http URL: " + c.url;
  if (!c.allow_remote && !ai_host_is_loopback(host))
    return "the model server " + host + " is not on this machine; set QUIBEX_AI_REMOTE=1 to allow it";
  return "";
}

std::string ai_endpoint(const std::string& base, const std::string& path) {
  std::string b = base;
  while (!b.empty() && b.back() == '/') b.pop_back();
  if (b.size() < 3 || b.compare(b.size() - 3, 3, "/v1") != 0) b += "/v1";
  return b + path;
}

HttpResponse http_send(const HttpRequest& r) {
  platform::HttpClient* client = platform::http_client();
  if (client && client->ready()) return client->send(r);
  HttpResponse out;
  out.error = "the HTTP library could not be set up";
  return out;
}
