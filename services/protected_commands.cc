// SECRET, AUTH, OSA and WINCTRL: the user's secret store, authentication,
// scripting and other applications' windows.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/handlers.h"
#include "core/json_out.h"
#include "core/records.h"
#include "core/window_screens.h"
#include "core/wire.h"
#include "platform/platform.h"
#include "platform/system_access.h"
#include "services/protected_commands.h"

namespace {

void reply(const std::string& id, const std::string& json) { sock_write_line("GOT " + id + " " + json); }

std::string error_json(const std::string& text) {
  return JsonObject().boolean("ok", false).text("error", text).str();
}

std::string store_error(const platform::SecretResult& r) {
  std::string text = "keychain error " + std::to_string(r.status);
  if (!r.message.empty()) text += ": " + r.message;
  return error_json(text);
}

}  // namespace

void do_secret(void*, void* rec) {
  std::unique_ptr<SecretReq> req(static_cast<SecretReq*>(rec));
  const std::string id = req->id;
  const std::string& op = req->op;
  if (op != "get" && op != "set" && op != "del") return reply(id, error_json("unknown secret op"));
  // The store's attributes are D-Bus strings: other bytes would never be answered.
  if (!utf8_valid(req->service) || !utf8_valid(req->account))
    return reply(id, error_json("service and account must be UTF-8 text"));
  platform::SystemAccess* access = platform::system_access();
  if (!access) return reply(id, error_json("unsupported"));
  if (op == "get") {
    access->secret_get(req->service, req->account, [id](platform::SecretResult r) {
      if (r.status) return reply(id, store_error(r));
      reply(id, JsonObject().boolean("ok", true).raw("value", json_text_or_null(r.found ? r.value : std::nullopt)).str());
    });
  } else {
    auto done = [id](platform::SecretResult r) {
      reply(id, r.status ? store_error(r) : std::string(R"({"ok":true})"));
    };
    if (op == "set")
      access->secret_set(req->service, req->account, req->value, done);
    else
      access->secret_delete(req->service, req->account, done);
  }
}

namespace {

// One AUTH: answered once, by the desktop or by the bound, whichever comes first.
struct AuthWait {
  std::string id;
  bool answered = false;
  platform::TimerId timer = 0;
  std::function<void()> withdraw;
  void answer(bool ok, std::optional<std::string> error) {
    if (answered) return;
    answered = true;
    withdraw = nullptr;  // it may hold the desktop's request, which holds this
    platform::current().timers().cancel(timer);
    if (!ok && !error) error = "authentication failed";
    reply(id, JsonObject().boolean("ok", ok).raw("error", ok ? "null" : json_text_or_null(error)).str());
  }
};

}  // namespace

void do_auth(void*, void* rec) {
  std::unique_ptr<AuthReq> req(static_cast<AuthReq*>(rec));
  const std::string id = req->id;
  const std::string reason = req->reason.empty() ? "authenticate" : req->reason;
  req.reset();
  if (!utf8_valid(reason)) return reply(id, error_json("reason must be UTF-8 text"));
  platform::SystemAccess* access = platform::system_access();
  if (!access) return reply(id, error_json("authentication unavailable"));
  auto wait = std::make_shared<AuthWait>();
  wait->id = id;
  auto withdraw = access->authenticate(reason, [wait](bool ok, std::optional<std::string> error) {
    wait->answer(ok, std::move(error));
  });
  if (wait->answered) return;
  wait->withdraw = std::move(withdraw);
  // The user may take their time at the prompt, but not for ever: a prompt nobody
  // answers, or an authority that took the request and went quiet, ends here.
  wait->timer = platform::current().timers().once(kAuthWaitMs, [wait] {
    wait->timer = 0;
    auto withdraw = std::move(wait->withdraw);
    wait->answer(false, std::string("authentication timed out"));
    if (withdraw) withdraw();
  });
}

// There is no AppleScript on this desktop: every script fails as one that cannot run.
void do_osa(void*, void* rec) {
  std::unique_ptr<OsaReq> req(static_cast<OsaReq*>(rec));
  reply(req->id, error_json("unsupported"));
}

void do_winctrl(void*, void* rec) {
  std::unique_ptr<WinCtrlReq> req(static_cast<WinCtrlReq*>(rec));
  platform::SystemAccess* access = platform::system_access();
  if (!access) return reply(req->id, error_json("unsupported"));
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
  reply(req->id, JsonObject().boolean("ok", ok).raw("error", ok ? "null" : json_text("no movable window")).str());
}
