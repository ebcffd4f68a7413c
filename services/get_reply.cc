#include "services/get_reply.h"

#include <cstdio>
#include <exception>

#include "core/answers.h"
#include "platform/platform.h"

GetReply::~GetReply() {
  // A guard still armed finds nothing when it fires; it is not cancelled here, since
  // the last holder may go after the desktop did.
  if (!sent_) write(fallback_);
}

void GetReply::write(const std::string& json) {
  sent_ = true;
  if (json.find_first_of("\r\n") != std::string::npos) {
    std::fprintf(stderr, "quibex: %s %s: the answer held a line break; answering %s\n", command_.c_str(), key_.c_str(),
                 fallback_.c_str());
    send_got(id_, fallback_);
    return;
  }
  send_got(id_, json);
}

void GetReply::send(const std::string& json) {
  if (sent_) return;
  write(json);
  if (guard_timer_) {
    platform::current().timers().cancel(guard_timer_);
    guard_timer_ = 0;
  }
}

void GetReply::send_built(const std::function<std::string()>& build) {
  if (sent_) return;
  std::string json;
  try {
    json = build();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quibex: %s %s failed: %s\n", command_.c_str(), key_.c_str(), e.what());
    json = fallback_;
  } catch (...) {
    std::fprintf(stderr, "quibex: %s %s failed\n", command_.c_str(), key_.c_str());
    json = fallback_;
  }
  send(json);
}

void GetReply::guard(const std::shared_ptr<GetReply>& reply, double ms) {
  if (reply->sent_ || reply->guard_timer_) return;
  std::weak_ptr<GetReply> weak = reply;
  reply->guard_timer_ = platform::current().timers().once(ms, [weak] {
    std::shared_ptr<GetReply> r = weak.lock();
    if (!r) return;
    // The timer is running now: it must not be cancelled from inside itself.
    r->guard_timer_ = 0;
    if (!r->sent_)
      std::fprintf(stderr, "quibex: %s %s: no answer from the desktop in time\n", r->command_.c_str(), r->key_.c_str());
    r->send(r->fallback_);
  });
}
