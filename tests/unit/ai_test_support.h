#pragma once
// Support for the AI tests: a scripted backend on the wire that answers AITOOL
// lines, a scripted model behind the bridge's transport, and a small HTTP server
// on 127.0.0.1 for the real transport.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ai/ai_requests.h"
#include "ai/model_bridge.h"
#include "core/handlers.h"
#include "tests/unit/test_support.h"

// Reads what the host writes and answers each AITOOL line through answer(id,
// name, args); an answer of nullopt leaves the call waiting.
class ScriptedBackend {
 public:
  using Answer = std::function<std::optional<std::string>(long id, const std::string& name, const std::string& args)>;
  explicit ScriptedBackend(Answer answer) : answer_(std::move(answer)) {
    thread_ = std::thread([this] { loop(); });
  }
  ~ScriptedBackend() {
    stop_ = true;
    thread_.join();
  }
  // Every line seen so far.
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }
  // Waits (at most 10 s) until a line starting with prefix has been seen; returns it.
  std::string wait_for(const std::string& prefix) {
    std::unique_lock<std::mutex> lock(mu_);
    std::string found;
    cv_.wait_for(lock, std::chrono::seconds(10), [&] {
      for (auto& l : lines_)
        if (l.rfind(prefix, 0) == 0) {
          found = l;
          return true;
        }
      return false;
    });
    return found;
  }

 private:
  void loop() {
    while (!stop_) {
      for (auto& l : wire_.lines()) {
        {
          std::lock_guard<std::mutex> lock(mu_);
          lines_.push_back(l);
        }
        cv_.notify_all();
        if (l.rfind("AITOOL ", 0) == 0) {
          const size_t sp = l.find(' ', 7), tab = l.find('\t');
          const long id = std::atol(l.c_str() + 7);
          const std::string name = l.substr(sp + 1, tab - sp - 1), args = l.substr(tab + 1);
          if (auto v = answer_(id, name, args)) ai_tool_result(id, *v);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  WireCapture wire_;
  Answer answer_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A model behind the bridge's transport: answers requests in turn from a list,
// keeping the requests' bodies.
class ScriptedModel {
 public:
  explicit ScriptedModel(std::vector<HttpResponse> answers) : answers_(std::move(answers)) {
    ai_set_server_config({"http://127.0.0.1:9", "", false});
    ai_set_transport_for_tests([this](const HttpRequest& r) {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(r);
      if (next_ < answers_.size()) return answers_[next_++];
      return HttpResponse{"no more scripted answers", 0, ""};
    });
  }
  ~ScriptedModel() {
    ai_set_transport_for_tests(nullptr);
    ai_set_server_config({});
  }
  std::vector<HttpRequest> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  AiJson body(size_t i) { return AiJson::parse(requests().at(i).body); }

 private:
  std::mutex mu_;
  std::vector<HttpResponse> answers_;
  size_t next_ = 0;
  std::vector<HttpRequest> requests_;
};

inline HttpResponse ok_json(const std::string& body) { return {"", 200, body}; }

inline HttpResponse text_answer(const std::string& text) {
  return ok_json(R"({"choices":[{"message":{"role":"assistant","content":)" + AiJson(text).dump() + "}}]}");
}

// A chat answer that calls tools: (call id, name, arguments text).
inline HttpResponse tool_answer(const std::vector<std::array<std::string, 3>>& calls) {
  AiJson list = AiJson::array();
  for (auto& c : calls)
    list.push_back({{"id", c[0]}, {"type", "function"}, {"function", {{"name", c[1]}, {"arguments", c[2]}}}});
  AiJson a = {{"choices", AiJson::array({{{"message", {{"role", "assistant"}, {"content", nullptr}, {"tool_calls", list}}}}})}};
  return ok_json(a.dump());
}

// An HTTP server on 127.0.0.1 that answers each request with what handler
// returns for (method, path, body): the raw response, or "" to close without one.
class LocalHttpServer {
 public:
  using Handler = std::function<std::string(const std::string& method, const std::string& path, const std::string& body)>;
  explicit LocalHttpServer(Handler h) : handler_(std::move(h)) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 16);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { loop(); });
  }
  ~LocalHttpServer() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  static std::string response(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }

 private:
  void loop() {
    for (;;) {
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      std::string in;
      char buf[65536];
      size_t need = std::string::npos;
      while (need == std::string::npos || in.size() < need) {
        ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        in.append(buf, size_t(n));
        const size_t end = in.find("\r\n\r\n");
        if (end != std::string::npos && need == std::string::npos) {
          size_t cl = 0;
          const size_t p = in.find("Content-Length: ");
          if (p != std::string::npos && p < end) cl = std::strtoul(in.c_str() + p + 16, nullptr, 10);
          need = end + 4 + cl;
        }
      }
      const size_t sp1 = in.find(' '), sp2 = in.find(' ', sp1 + 1);
      const size_t end = in.find("\r\n\r\n");
      std::string out = sp2 == std::string::npos || end == std::string::npos
                            ? ""
                            : handler_(in.substr(0, sp1), in.substr(sp1 + 1, sp2 - sp1 - 1), in.substr(end + 4));
      if (!out.empty()) (void)!write(c, out.data(), out.size());
      close(c);
    }
  }
  Handler handler_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};
