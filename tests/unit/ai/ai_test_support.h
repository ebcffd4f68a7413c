#pragma once
// Support for the AI tests: a scripted backend on the wire that answers AITOOL
// lines, a scripted model behind the bridge's transport, and small HTTP servers
// on 127.0.0.1 for the real transport, one of them slow or stuck on purpose.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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
#include "tests/unit/core/test_support.h"

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

// A listening socket on 127.0.0.1 and the reading of one request from it.
class LoopbackListener {
 public:
  LoopbackListener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 16);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 protected:
  // Ends accept() in the serving thread.
  void stop_listening() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
  }
  int accept_one() { return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }
  // Reads one request; false when the peer ended before a whole head came.
  static bool read_request(int c, std::string* method, std::string* path, std::string* body) {
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
    if (sp2 == std::string::npos || end == std::string::npos) return false;
    *method = in.substr(0, sp1);
    *path = in.substr(sp1 + 1, sp2 - sp1 - 1);
    *body = in.substr(end + 4);
    return true;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// An HTTP server on 127.0.0.1 that answers each request with what handler
// returns for (method, path, body): the raw response, or "" to close without one.
class LocalHttpServer : public LoopbackListener {
 public:
  using Handler = std::function<std::string(const std::string& method, const std::string& path, const std::string& body)>;
  explicit LocalHttpServer(Handler h) : handler_(std::move(h)) {
    thread_ = std::thread([this] { loop(); });
  }
  ~LocalHttpServer() {
    stop_listening();
    thread_.join();
  }
  static std::string response(int status, const std::string& body) {
    return head(status, body.size()) + body;
  }
  static std::string head(int status, size_t length) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(length) + "\r\nConnection: close\r\n\r\n";
  }

 private:
  void loop() {
    for (;;) {
      int c = accept_one();
      if (c < 0) return;
      std::string method, path, body;
      const std::string out = read_request(c, &method, &path, &body) ? handler_(method, path, body) : "";
      if (!out.empty()) (void)!write(c, out.data(), out.size());
      close(c);
    }
  }
  Handler handler_;
  std::thread thread_;
};

// A model server on 127.0.0.1 that lists one model and is slow or stuck on
// every chat request: after `delay` it sends `head` (nothing when empty), then
// one byte every `every` (never when 0), and holds the connection until the
// server goes. Each connection is served on a thread of its own.
class StallingHttpServer : public LoopbackListener {
 public:
  struct Script {
    std::chrono::milliseconds delay{0};
    std::string head;
    std::chrono::milliseconds every{0};
  };
  explicit StallingHttpServer(Script s) : script_(std::move(s)) {
    thread_ = std::thread([this] { loop(); });
  }
  ~StallingHttpServer() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
      for (int c : open_) shutdown(c, SHUT_RDWR);
    }
    cv_.notify_all();
    stop_listening();
    thread_.join();
    for (auto& t : served_) t.join();
  }
  int chats() {
    std::lock_guard<std::mutex> lock(mu_);
    return chats_;
  }

 private:
  void loop() {
    for (;;) {
      int c = accept_one();
      if (c < 0) return;
      std::lock_guard<std::mutex> lock(mu_);
      open_.push_back(c);
      served_.emplace_back([this, c] { serve(c); });
    }
  }
  // Waits for ms, or for good when ms is 0; false once the server goes.
  bool pause(std::chrono::milliseconds ms) {
    std::unique_lock<std::mutex> lock(mu_);
    if (ms.count() == 0) cv_.wait(lock, [this] { return stop_; });
    else cv_.wait_for(lock, ms, [this] { return stop_; });
    return !stop_;
  }
  bool send_all(int c, const std::string& s) { return send(c, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size()); }
  void serve(int c) {
    std::string method, path, body;
    if (read_request(c, &method, &path, &body)) {
      if (method == "GET") {
        send_all(c, LocalHttpServer::response(200, R"({"data":[{"id":"tiny"}]})"));
      } else {
        {
          std::lock_guard<std::mutex> lock(mu_);
          ++chats_;
        }
        if (script_.delay.count() == 0 || pause(script_.delay))
          if (script_.head.empty() || send_all(c, script_.head))
            while (pause(script_.every) && send_all(c, " ")) {
            }
      }
    }
    std::lock_guard<std::mutex> lock(mu_);
    open_.erase(std::find(open_.begin(), open_.end(), c));
    close(c);
  }
  Script script_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  int chats_ = 0;
  std::vector<int> open_;
  std::vector<std::thread> served_;
  std::thread thread_;
};
