#pragma once
// The cookie store that every web view of the process shares.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class SameSite { NoPolicy, Lax, Strict };  // NoPolicy: sent with every request

struct Cookie {
  std::string name, value, domain, path;
  std::optional<double> expires_ms;  // since 1970-01-01; none = a session cookie
  bool secure = false;
  bool http_only = false;
  SameSite same_site = SameSite::NoPolicy;
};

class CookieStore {
 public:
  virtual ~CookieStore() = default;
  // Every cookie, in the store's order. Each done comes once at most.
  virtual void get_all(std::function<void(std::vector<Cookie>)> done) = 0;
  // done(ok): false when the store refused the cookie.
  virtual void set(const Cookie& cookie, std::function<void(bool ok)> done) = 0;
  // Deletes the cookie of this name, domain and path.
  virtual void remove(const Cookie& cookie, std::function<void()> done) = 0;
};

}  // namespace platform
