#pragma once
// The bridge to the on-device language model: three plain functions that take and
// return NUL-terminated UTF-8, so that request handling knows nothing of the model.
// Strings passed out are strdup copies the caller frees; an error slot is written
// only on failure and only when it is not null.

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ai/model_server.h"

// A tool's body as the host gives it: (name, arguments text) -> heap result or null.
using AiToolInvoke = char* (*)(const char* name, const char* args);

// 1 when the model can be used now, 0 when it cannot (whatever the reason), -1
// when the bridge cannot work on this system at all.
int quib_ai_available();
// One generation; blocks until the model has answered. Null instructions = none.
char* quib_ai_generate(const char* prompt, const char* instructions, char** err);
// The same with the declared tools (null toolsJson counts as "[]"); each tool call
// the model makes runs invoke, several at once on threads of their own.
char* quib_ai_generate_tools(const char* prompt, const char* instructions, const char* toolsJson,
                             AiToolInvoke invoke, char** err);

// The bounds that keep a server that hangs or trickles from holding a request
// for good. A generation's exchanges with the server take at most
// kAiGenerationBound together (the waits for tool results are not counted); a
// real model working on a long answer sends nothing until it is done, so only
// this bound covers that wait. Once an answer has begun, or while a request is
// being sent, kAiStallBound without a byte fails the generation.
// Availability asks for at most kAiAvailableBound.
constexpr std::chrono::milliseconds kAiGenerationBound = std::chrono::minutes(10);
constexpr std::chrono::milliseconds kAiStallBound = std::chrono::seconds(60);
constexpr std::chrono::milliseconds kAiAvailableBound = std::chrono::seconds(5);

// For tests: the generation's two bounds (the constants above unless changed).
void ai_set_generation_bounds_for_tests(std::chrono::milliseconds total, std::chrono::milliseconds stall);

// --- what the functions above are made of; visible for tests ---

enum class AiParamType { Number, Integer, Boolean, String };

struct AiToolParam {
  std::string name;
  AiParamType type = AiParamType::String;
  std::optional<std::string> description;
};

struct AiTool {
  std::string name;
  std::string description;
  std::vector<AiToolParam> params;  // every one required
};

// The schema type of a declared type word (exact, case-sensitive).
AiParamType ai_node_for(const std::string& word);
// The tools of a declaration; an unusable declaration gives none.
std::vector<AiTool> ai_tools_from(const std::string& json);

using AiJson = nlohmann::ordered_json;

// The chat-completions request: model (left out when ""), messages, tools as
// function tools with a JSON schema (left out when there are none).
std::string ai_chat_body(const std::string& model, const AiJson& messages, const std::vector<AiTool>& tools);
// The opening messages of a session: the instructions as the system message
// (none when null), the prompt as the user message.
AiJson ai_first_messages(const char* prompt, const char* instructions);

struct AiToolCall {
  std::string id;
  std::string name;
  std::string args;  // the arguments' text; "{}" when the model gave none
};

// One chat-completions answer, read.
struct AiAnswer {
  std::string error;  // "" = a usable answer
  std::string text;   // the answer's text, when it calls no tool
  std::vector<AiToolCall> calls;
  AiJson message;     // the assistant message, to send back with the tool results
};
AiAnswer ai_read_answer(const HttpResponse& response);
