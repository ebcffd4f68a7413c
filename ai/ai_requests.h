#pragma once
// AI requests from the backend and the rendezvous of the model's tool calls with
// the backend's answers. do_ai (main thread) queues a generation on the AI queue,
// one at a time in arrival order; "available" runs beside that queue on a thread
// of its own, so a generation never holds it up. Every request gets exactly one
// GOT line.

#include <chrono>
#include <memory>
#include <string>

#include "core/records.h"

// AI: the request, answered by exactly one GOT line.
void do_ai(void* w, std::unique_ptr<AiReq> r);
// AITOOLRESULT, on the reader thread: the backend's answer to tool call id (value
// already unescaped); an id no call waits for is ignored.
void ai_tool_result(long id, const std::string& value);

// The body of one AI request, run on the AI queue (or directly by tests):
// writes exactly one GOT line.
void run_ai_request(const std::string& id, const std::string& op, const std::string& prompt,
                    const std::string& instructions, const std::string& tools);

// The tool callback handed to the model bridge: sends AITOOL and waits for the
// backend's AITOOLRESULT, at most 20 seconds. Returns a strdup copy, never null.
char* ai_tool_invoke(const char* name, const char* args);

// For tests: the bound of one tool call's wait (20 s unless changed).
void ai_set_tool_timeout_for_tests(std::chrono::milliseconds bound);
namespace platform {
class SerialQueue;
}
// For tests: the AI queue, null before the first request.
platform::SerialQueue* ai_queue_for_tests();
// For tests: the entries the rendezvous holds (waiting calls and stored results).
size_t ai_tool_entries_for_tests();
