#include "platform/fake/fake_system_access.h"

#include "base/utf8.h"

namespace platform::fake {

std::function<void()> FakeSystemAccess::secret(std::function<void(SecretResult&)> op,
                                               std::function<void(SecretResult)> done) {
  auto run = [this, op = std::move(op), done = std::move(done)] {
    SecretResult r;
    if (fail_status) {
      r.status = fail_status;
      r.message = "the store failed";
    } else {
      op(r);
    }
    done(r);
  };
  if (!hold_secrets) {
    run();
    return [] {};
  }
  secret_asks.push_back({std::move(run)});
  return [this, i = secret_asks.size() - 1] { secret_asks[i].withdrawn = true; };
}

std::function<void()> FakeSystemAccess::secret_get(const std::string& service, const std::string& account,
                                                   std::function<void(SecretResult)> done) {
  return secret(
      [this, key = std::pair{service, account}](SecretResult& r) {
        if (auto it = secrets.find(key); it != secrets.end()) {
          r.found = true;
          if (utf8_valid(it->second)) r.value = it->second;
        }
      },
      std::move(done));
}

std::function<void()> FakeSystemAccess::secret_set(const std::string& service, const std::string& account,
                                                   const std::string& value, std::function<void(SecretResult)> done) {
  return secret([this, key = std::pair{service, account}, value](SecretResult&) { secrets[key] = value; },
                std::move(done));
}

std::function<void()> FakeSystemAccess::secret_delete(const std::string& service, const std::string& account,
                                                      std::function<void(SecretResult)> done) {
  return secret([this, key = std::pair{service, account}](SecretResult&) { secrets.erase(key); }, std::move(done));
}

std::function<void()> FakeSystemAccess::authenticate(const std::string& reason,
                                                     std::function<void(bool, std::optional<std::string>)> done) {
  if (auth_unavailable) {
    done(false, *auth_unavailable);
    return [] {};
  }
  auth_asks.push_back({reason, std::move(done)});
  return [this, i = auth_asks.size() - 1] { auth_asks[i].withdrawn = true; };
}

WindowMove FakeSystemAccess::move_app_window(long pid, const Rect& frame) {
  auto it = windows.find(pid);
  if (it == windows.end()) return WindowMove::kNoWindow;
  if (!it->second) return WindowMove::kRefused;
  moves.push_back({pid, frame});
  return WindowMove::kMoved;
}

}  // namespace platform::fake
