// SECRET, AUTH, OSA and WINCTRL: the user's secret store, authentication,
// scripting and other applications' windows.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/utf8.h"
#include "core/answers.h"
#include "base/json_out.h"
#include "core/records.h"
#include "core/window_screens.h"
#include "platform/platform.h"
#include "platform/system_access.h"
#include "services/protected_commands.h"

namespace {


std::string store_error(const platform::SecretResult& r) {
  std::string text = "keychain error " + std::to_string(r.status);
  if (!r.message.empty()) text += ": " + r.message;
  return error_json(text);
}

// One request the desktop answers later: answered once, by the desktop or by the
// bound, whichever comes first.
struct DesktopWait {
  explicit DesktopWait(std::string id) : id(std::move(id)) {}
  std::string id;
  bool answered = false;
  platform::TimerId timer = 0;
  std::function<void()> withdraw;
  void answer(const std::string& json) {
    if (answered) return;
    answered = true;
    withdraw = nullptr;  // it may hold the desktop's request, which holds this
    platform::current().timers().cancel(timer);
    send_got(id, json);
  }
};
using WaitRef = std::shared_ptr<DesktopWait>;

// The user may take their time at a prompt, but not for ever: a prompt nobody
// answers, or a service that took the request and went quiet, ends here with
// timed_out, and the desktop's request is withdrawn.
void bound(const WaitRef& wait, std::function<void()> withdraw, const std::string& timed_out) {
  if (wait->answered) return;
  wait->withdraw = std::move(withdraw);
  wait->timer = platform::current().timers().once(kPromptWaitMs, [wait, timed_out] {
    wait->timer = 0;
    auto withdraw = std::move(wait->withdraw);
    wait->answer(timed_out);
    if (withdraw) withdraw();
  });
}

}  // namespace

void do_secret(void*, std::unique_ptr<SecretReq> req) {
  const std::string id = req->id;
  const std::string& op = req->op;
  if (op != "get" && op != "set" && op != "del") return send_got(id, error_json("unknown secret op"));
  // The store's attributes are D-Bus strings: other bytes would never be answered.
  if (!utf8_valid(req->service) || !utf8_valid(req->account))
    return send_got(id, error_json("service and account must be UTF-8 text"));
  platform::SystemAccess* access = platform::system_access();
  if (!access) return send_got(id, error_json("unsupported"));
  auto wait = std::make_shared<DesktopWait>(id);
  std::function<void()> withdraw;
  if (op == "get") {
    withdraw = access->secret_get(req->service, req->account, [wait](platform::SecretResult r) {
      if (r.status) return wait->answer(store_error(r));
      wait->answer(
          JsonObject().boolean("ok", true).raw("value", json_text_or_null(r.found ? r.value : std::nullopt)).str());
    });
  } else {
    auto done = [wait](platform::SecretResult r) {
      wait->answer(r.status ? store_error(r) : ok_json());
    };
    withdraw = op == "set" ? access->secret_set(req->service, req->account, req->value, done)
                           : access->secret_delete(req->service, req->account, done);
  }
  bound(wait, std::move(withdraw), error_json("keychain timed out"));
}

void do_auth(void*, std::unique_ptr<AuthReq> req) {
  const std::string id = req->id;
  const std::string reason = req->reason.empty() ? "authenticate" : req->reason;
  req.reset();
  if (!utf8_valid(reason)) return send_got(id, error_json("reason must be UTF-8 text"));
  platform::SystemAccess* access = platform::system_access();
  if (!access) return send_got(id, error_json("authentication unavailable"));
  auto wait = std::make_shared<DesktopWait>(id);
  auto withdraw = access->authenticate(reason, [wait](bool ok, std::optional<std::string> error) {
    if (!ok && !error) error = "authentication failed";
    wait->answer(JsonObject().boolean("ok", ok).raw("error", ok ? "null" : json_text_or_null(error)).str());
  });
  bound(wait, std::move(withdraw), error_json("authentication timed out"));
}

// There is no AppleScript on this desktop: every script fails as one that cannot run.
void do_osa(void*, std::unique_ptr<OsaReq> req) {
  send_got(req->id, error_json("unsupported"));
}

void do_winctrl(void*, std::unique_ptr<WinCtrlReq> req) {
  platform::SystemAccess* access = platform::system_access();
  if (!access) return send_got(req->id, error_json("unsupported"));
  // The process id travels as 32 bits; anything else names no process.
  const long pid = long(int32_t(req->pid));
  platform::WindowMove moved = platform::WindowMove::kNoWindow;
  if (pid > 0) {
    // Top-left origin, y down, from the primary screen's top-left: into the host's
    // y-up coordinates.
    const platform::Rect frame{double(req->x), primary_top() - (double(req->y) + req->h), double(req->w),
                               double(req->h)};
    moved = access->move_app_window(pid, frame);
  }
  const bool ok = moved == platform::WindowMove::kMoved;
  send_got(req->id, ok_error_json(ok, ok ? "" : "no movable window"));
}
