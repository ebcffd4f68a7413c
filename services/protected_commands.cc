// SECRET, AUTH, OSA and WINCTRL: the user's secret store, authentication,
// scripting and other applications' windows.

#include <cstdint>
#include <memory>
#include <string>

#include "core/handlers.h"
#include "core/json_out.h"
#include "core/records.h"
#include "core/window_screens.h"
#include "core/wire.h"
#include "platform/system_access.h"

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

void do_auth(void*, void* rec) {
  std::unique_ptr<AuthReq> req(static_cast<AuthReq*>(rec));
  const std::string id = req->id;
  const std::string reason = req->reason.empty() ? "authenticate" : req->reason;
  req.reset();
  platform::SystemAccess* access = platform::system_access();
  if (!access) return reply(id, error_json("authentication unavailable"));
  access->authenticate(reason, [id](bool ok, std::optional<std::string> error) {
    if (!ok && !error) error = "authentication failed";
    reply(id, JsonObject().boolean("ok", ok).raw("error", ok ? "null" : json_text_or_null(error)).str());
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
