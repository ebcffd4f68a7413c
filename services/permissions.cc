#include "services/permissions.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/answers.h"
#include "core/records.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "platform/system_events.h"

bool g_location_usage_described = false;

namespace {

using Loc = platform::Permissions::Location;

const char* loc_word(Loc s) {
  switch (s) {
    case Loc::kGranted:
      return "granted";
    case Loc::kDenied:
      return "denied";
    default:
      return "undetermined";
  }
}

// How long a location prompt may stay unanswered before its questions are
// answered "undetermined": the user may never decide, and later questions must
// not wait behind it.
constexpr double kPromptTimeoutMs = 60000;

// Location questions wait until the service's state is first known (or a
// second has passed); requests that need the user share one prompt. A grant
// holds for the life of the process: the service itself may keep answering
// "undetermined" (its agent decides per use); only its "denied" (location
// switched off) overrides the grant.
class QuibLocation {
 public:
  QuibLocation() {
    platform::current().timers().once(1000, [this] { become_ready(); });
    if (platform::Permissions* p = platform::permissions()) p->location_status([this](Loc) { become_ready(); });
  }

  void query(const std::string& id, bool ask) {
    if (!ready_) {
      early_.emplace_back(id, ask);
      return;
    }
    platform::Permissions* p = platform::permissions();
    if (!p) return perm_reply(id, "unsupported");
    p->location_status([this, id, ask](Loc status) {
      if (granted_ && status == Loc::kUndetermined) status = Loc::kGranted;
      if (!ask || status != Loc::kUndetermined) return perm_reply(id, loc_word(status));
      if (!g_location_usage_described) {
        std::fputs(
            "launcher: permissions.request('location') needs \"permissions\": { \"location\": \"why\" } in "
            "quibex.json and a built app\n",
            stderr);
        return perm_reply(id, "undetermined");
      }
      pending_.push_back(id);
      if (pending_.size() == 1) prompt();
    });
  }

 private:
  void become_ready() {
    if (ready_) return;
    ready_ = true;
    auto early = std::move(early_);
    early_.clear();
    for (auto& [id, ask] : early) query(id, ask);
  }

  void prompt() {
    const unsigned round = ++round_;
    timeout_ = platform::current().timers().once(kPromptTimeoutMs, [this, round] {
      if (round == round_) finish(Loc::kUndetermined);
    });
    platform::permissions()->location_request([this, round](Loc status) {
      if (round == round_) finish(status);
    });
  }

  // The prompt ended, decided or not: every waiting question gets its answer.
  void finish(Loc status) {
    ++round_;
    if (status == Loc::kGranted) granted_ = true;
    platform::current().timers().cancel(timeout_);
    auto pending = std::move(pending_);
    pending_.clear();
    for (const auto& id : pending) perm_reply(id, loc_word(status));
  }

  bool ready_ = false;
  bool granted_ = false;  // the user allowed it in this process
  std::vector<std::pair<std::string, bool>> early_;
  std::vector<std::string> pending_;
  unsigned round_ = 0;
  platform::TimerId timeout_ = 0;
};

QuibLocation* g_location = nullptr;

}  // namespace

void perm_reply(const std::string& id, const std::string& status) {
  send_got(id, "{\"status\":\"" + status + "\"}");
}

void do_perm(void*, std::unique_ptr<PermReq> record) {
  const PermReq& req = *record;
  const std::string id = req.id, kind = req.kind;
  platform::Permissions* p = platform::permissions();
  auto word = [](bool ok) { return ok ? "granted" : "denied"; };
  // The desktop asks the user about none of these: a request answers as a check.
  if (!p) return perm_reply(id, "unsupported");
  if (kind == "accessibility") return perm_reply(id, word(p->can_control_input()));
  if (kind == "screen" || kind == "screen-recording") return perm_reply(id, word(p->can_capture_screen()));
  if (kind == "notifications") {
    if (!settings().bundle_mode) return perm_reply(id, "unsupported");
    return p->notification_server([id, word](bool present) { perm_reply(id, word(present)); });
  }
  if (kind == "camera") return perm_reply(id, word(p->camera_usable()));
  if (kind == "microphone") return p->microphone_usable([id, word](bool ok) { perm_reply(id, word(ok)); });
  if (kind == "automation" || kind.rfind("automation:", 0) == 0) return perm_reply(id, "unsupported");
  if (kind == "location") {
    if (!g_location) g_location = new QuibLocation();
    return g_location->query(id, req.request);
  }
  perm_reply(id, "unsupported");
}

void permissions_reset_for_tests() {
  // The old object may still be named by a pending desktop answer; keeping it
  // alive keeps such an answer harmless.
  static auto* retired = new std::vector<QuibLocation*>;
  if (g_location) retired->push_back(g_location);
  g_location = nullptr;
}
