#pragma once
// The one answer line of a GET, or of another question that the desktop answers
// later (SOUND). Whatever happens to the question (answered at once, answered
// later from the desktop, dropped by a failing source, or never answered by a
// source that hangs), exactly one line GOT <id> <json> is written; the fallback
// ("null" for a GET) stands in for an answer that never came. Main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// How long a source that answers later may take before the answer is "null".
inline constexpr double kGetAnswerLimitMs = 3000;

class GetReply {
 public:
  // command and key only name the question in diagnostics.
  GetReply(std::string id, std::string key, std::string fallback = "null", std::string command = "GET")
      : id_(std::move(id)), key_(std::move(key)), fallback_(std::move(fallback)), command_(std::move(command)) {}
  ~GetReply();  // answers the fallback when nothing was sent
  GetReply(const GetReply&) = delete;
  GetReply& operator=(const GetReply&) = delete;

  // The first call writes the line; later calls do nothing. JSON text that would
  // break the line is replaced by the fallback.
  void send(const std::string& json);
  // Sends what build returns, or the fallback when it throws.
  void send_built(const std::function<std::string()>& build);
  bool sent() const { return sent_; }

  // Answers the fallback after ms unless the answer was sent by then.
  static void guard(const std::shared_ptr<GetReply>& reply, double ms = kGetAnswerLimitMs);

 private:
  void write(const std::string& json);
  std::string id_;
  std::string key_;
  std::string fallback_;
  std::string command_;
  bool sent_ = false;
  std::uint64_t guard_timer_ = 0;
};
