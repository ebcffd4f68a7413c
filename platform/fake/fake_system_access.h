#pragma once
// An in-memory secret store, authenticator and set of other applications' windows.
// Main thread only, as the desktop: requests are answered at once, or held until
// the test answers them.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/system_access.h"

namespace platform::fake {

class FakeSystemAccess : public SystemAccess {
 public:
  std::function<void()> secret_get(const std::string& service, const std::string& account,
                                   std::function<void(SecretResult)> done) override;
  std::function<void()> secret_set(const std::string& service, const std::string& account, const std::string& value,
                                   std::function<void(SecretResult)> done) override;
  std::function<void()> secret_delete(const std::string& service, const std::string& account,
                                      std::function<void(SecretResult)> done) override;
  std::function<void()> authenticate(const std::string& reason,
                                     std::function<void(bool ok, std::optional<std::string> error)> done) override;
  WindowMove move_app_window(long pid, const Rect& frame) override;

  // Stored secrets as raw bytes, keyed by (service, account).
  std::map<std::pair<std::string, std::string>, std::string> secrets;
  // Non-zero: every secret operation fails with this status, touching nothing.
  int fail_status = 0;
  // Held: secret operations wait in secret_asks, as behind an unlock prompt,
  // until the test answers them; answer then does the operation. A withdrawn
  // request is marked and can still be answered, as a racing store would.
  bool hold_secrets = false;
  struct SecretAsk {
    std::function<void()> answer;
    bool withdrawn = false;
  };
  std::vector<SecretAsk> secret_asks;

  // Authentication: none = the desktop cannot ask (answered at once with this
  // text); otherwise requests wait in auth_asks until the test answers them. A
  // withdrawn request is marked; its answer can still be given, as a desktop
  // that raced the withdrawal would.
  std::optional<std::string> auth_unavailable = std::string("authentication unavailable");
  struct AuthAsk {
    std::string reason;
    std::function<void(bool, std::optional<std::string>)> answer;
    bool withdrawn = false;
  };
  std::vector<AuthAsk> auth_asks;

  // Processes with a window: pid -> whether it may be moved; moves records each move.
  std::map<long, bool> windows;
  std::vector<std::pair<long, Rect>> moves;

 private:
  // Does op on the store (unless it fails) and answers done, now or when held.
  std::function<void()> secret(std::function<void(SecretResult&)> op, std::function<void(SecretResult)> done);
};

}  // namespace platform::fake
