#pragma once
// HTTP exchanges, as the AI bridge makes them with the model server. The desktop
// installs a client (on Linux libcurl's, from a module opened on first use);
// without one there is no HTTP at all.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

namespace platform {

struct HttpRequest {
  std::string url;
  std::string body;           // JSON; "" = a GET
  long timeout_ms = 0;        // the whole exchange, connecting included; 0 = no limit
  // While the request is being sent and once the answer has begun, no byte for
  // this long ends the exchange; the wait in between (the model at work) is
  // bounded by timeout_ms alone. 0 = no limit.
  long stall_ms = 0;
  bool loopback_only = true;  // refuse to connect anywhere but this machine
};

// Why a bound ended an exchange.
enum class HttpCut { None, TimedOut, Stalled };

struct HttpResponse {
  std::string error;  // set when no HTTP answer came (refused, closed, refused host, a bound)
  long status = 0;
  std::string body;
  HttpCut cut = HttpCut::None;  // set, with error, when timeout_ms or stall_ms ended it
};

// Every call may be made from any thread, at the same time as others.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Whether the client could be set up at all.
  virtual bool ready() = 0;
  // One exchange, blocking the calling thread.
  virtual HttpResponse send(const HttpRequest& request) = 0;
  // The scheme and host of a URL as the client reads it; false when it reads
  // none.
  virtual bool url_parts(const std::string& url, std::string& scheme, std::string& host) = 0;
};

// The installed client; null when none is.
HttpClient* http_client();
void install_http_client(HttpClient* client);

// Whether a socket address is on this machine's loopback interface (IPv4
// 127/8, ::1, or 127/8 mapped into IPv6).
inline bool address_is_loopback(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    auto* in = reinterpret_cast<const sockaddr_in*>(a);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (a->sa_family == AF_INET6) {
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(a);
    if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) return true;
    return IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr) && in6->sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

}  // namespace platform
