#include "ai/ai_requests.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "ai/model_bridge.h"
#include "base/wire_text.h"
#include "core/answers.h"
#include "base/json_out.h"
#include "core/records.h"
#include "core/wire.h"
#include "platform/platform.h"

namespace {

// Created by the first request on the main thread and never released: a
// generation may still run on it while the process ends.
platform::SerialQueue* g_ai_queue = nullptr;

// The tool globals. Never destroyed, for the same reason.
std::mutex& g_tool_mu = *new std::mutex;
std::condition_variable& g_tool_cv = *new std::condition_variable;
long g_tool_seq = 0;
std::set<long>& g_tool_pending = *new std::set<long>;
std::map<long, std::string>& g_tool_results = *new std::map<long, std::string>;

std::atomic<long long> g_tool_bound_ms{20000};

// Availability is asked off the AI queue, so that a generation never holds it
// up. One check runs at a time; requests that come while it runs are answered
// by it (so each within the check's bound), and one that comes after its answer
// starts the next. Never destroyed, like the tool globals.
std::mutex& g_avail_mu = *new std::mutex;
std::vector<std::string>& g_avail_waiting = *new std::vector<std::string>;
bool g_avail_running = false;

void write_available(const std::string& id, int a) {
  const char* status = a == 1 ? "available" : a == 0 ? "unavailable" : "unsupported";
  send_got(id, JsonObject().boolean("ok", true).text("status", status).str());
}

void availability_checks() {
  for (;;) {
    const int a = quib_ai_available();
    std::vector<std::string> ids;
    {
      std::lock_guard<std::mutex> lock(g_avail_mu);
      ids.swap(g_avail_waiting);
    }
    for (const std::string& id : ids) write_available(id, a);
    std::lock_guard<std::mutex> lock(g_avail_mu);
    if (g_avail_waiting.empty()) {
      g_avail_running = false;
      return;
    }
  }
}

void ask_available(const std::string& id) {
  {
    std::lock_guard<std::mutex> lock(g_avail_mu);
    g_avail_waiting.push_back(id);
    if (g_avail_running) return;
    g_avail_running = true;
  }
  try {
    std::thread(availability_checks).detach();
  } catch (const std::system_error&) {
    g_ai_queue->post(availability_checks);  // no thread to be had: behind the generations, but answered
  }
}

}  // namespace

void ai_set_tool_timeout_for_tests(std::chrono::milliseconds bound) { g_tool_bound_ms = bound.count(); }

platform::SerialQueue* ai_queue_for_tests() { return g_ai_queue; }

size_t ai_tool_entries_for_tests() {
  std::lock_guard<std::mutex> lock(g_tool_mu);
  return g_tool_pending.size() + g_tool_results.size();
}

void do_ai(void*, std::unique_ptr<AiReq> r) {
  if (!r) return;
  if (!g_ai_queue) g_ai_queue = platform::current().make_serial_queue("quibex.ai").release();
  if (r->op == "available") return ask_available(r->id);
  g_ai_queue->post([id = std::move(r->id), op = std::move(r->op), prompt = std::move(r->prompt),
                    instructions = std::move(r->instructions), tools = std::move(r->tools)] {
    run_ai_request(id, op, prompt, instructions, tools);
  });
}

void run_ai_request(const std::string& id, const std::string& op, const std::string& prompt,
                    const std::string& instructions, const std::string& tools) {
  if (op == "available") return write_available(id, quib_ai_available());
  char* error = nullptr;
  const char* instr = instructions.empty() ? nullptr : instructions.c_str();
  char* text = tools.empty() ? quib_ai_generate(prompt.c_str(), instr, &error)
                             : quib_ai_generate_tools(prompt.c_str(), instr, tools.c_str(), ai_tool_invoke, &error);
  if (text) {
    send_got(id, JsonObject().boolean("ok", true).text("text", text).str());
    std::free(text);
  } else {
    send_got(id, error_json(error ? error : "generation failed"));
  }
  std::free(error);
}

char* ai_tool_invoke(const char* name, const char* args) {
  long n;
  {
    std::lock_guard<std::mutex> lock(g_tool_mu);
    n = ++g_tool_seq;
    g_tool_pending.insert(n);
  }
  sock_write_line("AITOOL " + std::to_string(n) + " " + wire_escape(name ? name : "") + "\t" +
                  wire_escape(args ? args : "{}"));
  std::string result;
  {
    std::unique_lock<std::mutex> lock(g_tool_mu);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_tool_bound_ms.load());
    if (g_tool_cv.wait_until(lock, deadline, [n] { return g_tool_results.count(n) != 0; }))
      result = g_tool_results[n];
    else
      result = "{\"error\":\"tool timed out\"}";
    g_tool_results.erase(n);
    g_tool_pending.erase(n);
  }
  return strdup(result.c_str());
}

void ai_tool_result(long id, const std::string& value) {
  bool stored = false;
  {
    std::lock_guard<std::mutex> lock(g_tool_mu);
    if (g_tool_pending.count(id)) {
      g_tool_results[id] = value;
      stored = true;
    }
  }
  if (stored) g_tool_cv.notify_all();
}
