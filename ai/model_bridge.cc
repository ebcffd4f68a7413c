#include "ai/model_bridge.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <system_error>
#include <thread>

namespace {

// Deeper answers are refused before parsing: writing them out again (the tool
// calls go back to the model) recurses once per level.
constexpr int kMaxAnswerDepth = 256;

std::atomic<long long> g_generation_ms{kAiGenerationBound.count()};
std::atomic<long long> g_stall_ms{kAiStallBound.count()};

// "10 min", "60 s", "300 ms": a bound as a user reads it.
std::string duration_text(long long ms) {
  if (ms >= 60000 && ms % 60000 == 0) return std::to_string(ms / 60000) + " min";
  if (ms >= 1000 && ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

char* fail(char** err, const std::string& text) {
  if (err) *err = strdup(text.c_str());
  return nullptr;
}

bool depth_within(const std::string& text, int limit) {
  int depth = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// The server's own words on a failed request, when its body carries them.
std::string server_reason(const std::string& body) {
  std::string reason;
  if (depth_within(body, kMaxAnswerDepth)) {
    AiJson j = AiJson::parse(body, nullptr, false);
    if (j.is_object()) {
      auto e = j.find("error");
      if (e != j.end() && e->is_string()) reason = e->get<std::string>();
      if (e != j.end() && e->is_object()) {
        auto m = e->find("message");
        if (m != e->end() && m->is_string()) reason = m->get<std::string>();
      }
    }
  }
  if (reason.size() > 300) reason = reason.substr(0, 300) + "...";
  return reason;
}

const char* schema_type(AiParamType t) {
  switch (t) {
    case AiParamType::Number: return "number";
    case AiParamType::Integer: return "integer";
    case AiParamType::Boolean: return "boolean";
    case AiParamType::String: break;
  }
  return "string";
}

std::string call_tool(AiToolInvoke invoke, const AiToolCall& c) {
  char* r = invoke ? invoke(c.name.c_str(), c.args.c_str()) : nullptr;
  if (!r) return "";
  std::string out(r);
  std::free(r);
  return out;
}

// Each call of one round on a thread of its own, as the model may ask for
// several at once; the round ends when all have returned.
std::vector<std::string> run_tools(AiToolInvoke invoke, const std::vector<AiToolCall>& calls) {
  std::vector<std::string> results(calls.size());
  std::vector<std::thread> threads;
  for (size_t i = 1; i < calls.size(); ++i) {
    try {
      threads.emplace_back([&, i] { results[i] = call_tool(invoke, calls[i]); });
    } catch (const std::system_error&) {
      results[i] = call_tool(invoke, calls[i]);  // no thread to be had: run it here
    }
  }
  if (!calls.empty()) results[0] = call_tool(invoke, calls[0]);
  for (auto& t : threads) t.join();
  return results;
}

char* generate(const char* prompt, const char* instructions, const std::vector<AiTool>& tools, AiToolInvoke invoke,
               char** err) {
  if (!ai_http_ready()) return fail(err, "the model bridge cannot work on this system");
  const AiServerConfig cfg = ai_server_config();
  const std::string bad = ai_check_server(cfg);
  if (!bad.empty()) return fail(err, bad);
  std::set<std::string> declared;
  for (const AiTool& t : tools) declared.insert(t.name);

  AiJson messages = ai_first_messages(prompt, instructions);
  HttpRequest req;
  req.url = ai_endpoint(cfg.url, "/chat/completions");
  req.loopback_only = !cfg.allow_remote;
  req.stall_ms = long(g_stall_ms.load());
  const long long total = g_generation_ms.load();
  const std::string too_long = "the model server did not finish its answer within " + duration_text(total);
  // Only the time spent on the server counts, never a tool's wait for the backend.
  long long left = total;
  for (;;) {
    if (left <= 0) return fail(err, too_long);
    req.body = ai_chat_body(cfg.model, messages, tools);
    req.timeout_ms = long(left);
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse r = ai_http(req);
    left -= std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (r.cut == HttpCut::TimedOut) return fail(err, too_long);
    if (r.cut == HttpCut::Stalled)
      return fail(err, "the model server stopped in the middle of its answer: nothing came for " +
                           duration_text(req.stall_ms));
    AiAnswer a = ai_read_answer(r);
    if (!a.error.empty()) return fail(err, a.error);
    if (a.calls.empty()) return strdup(a.text.c_str());
    for (const AiToolCall& c : a.calls)
      if (!declared.count(c.name)) return fail(err, "the model called a tool that was not declared: " + c.name);
    const std::vector<std::string> results = run_tools(invoke, a.calls);
    messages.push_back(std::move(a.message));
    for (size_t i = 0; i < a.calls.size(); ++i)
      messages.push_back(AiJson{{"role", "tool"}, {"tool_call_id", a.calls[i].id}, {"content", results[i]}});
  }
}

}  // namespace

void ai_set_generation_bounds_for_tests(std::chrono::milliseconds total, std::chrono::milliseconds stall) {
  g_generation_ms = total.count();
  g_stall_ms = stall.count();
}

AiParamType ai_node_for(const std::string& w) {
  if (w == "number" || w == "float" || w == "double") return AiParamType::Number;
  if (w == "integer" || w == "int") return AiParamType::Integer;
  if (w == "boolean" || w == "bool") return AiParamType::Boolean;
  return AiParamType::String;
}

std::vector<AiTool> ai_tools_from(const std::string& text) {
  // Parsing and freeing are iterative in this JSON library, so any depth is safe
  // here; nothing below copies or writes out a declared value.
  const AiJson j = AiJson::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_array()) return {};
  for (const auto& e : j)
    if (!e.is_object()) return {};  // one element of another kind spoils the whole declaration
  std::vector<AiTool> tools;
  for (const auto& e : j) {
    auto name = e.find("name");
    if (name == e.end() || !name->is_string()) continue;
    AiTool t;
    t.name = name->get<std::string>();
    auto desc = e.find("description");
    t.description = desc != e.end() && desc->is_string() ? desc->get<std::string>() : t.name;
    auto params = e.find("parameters");
    if (params != e.end() && params->is_object()) {
      for (auto it = params->begin(); it != params->end(); ++it) {
        AiToolParam p;
        p.name = it.key();
        const AiJson& spec = it.value();
        // A bare value stands for {"type": value}.
        const AiJson* type = &spec;
        if (spec.is_object()) {
          auto ty = spec.find("type");
          type = ty != spec.end() ? &*ty : nullptr;
          auto d = spec.find("description");
          if (d != spec.end() && d->is_string()) p.description = d->get<std::string>();
        }
        p.type = ai_node_for(type && type->is_string() ? type->get<std::string>() : "string");
        t.params.push_back(std::move(p));
      }
    }
    tools.push_back(std::move(t));
  }
  return tools;
}

AiJson ai_first_messages(const char* prompt, const char* instructions) {
  AiJson m = AiJson::array();
  if (instructions) m.push_back(AiJson{{"role", "system"}, {"content", instructions}});
  m.push_back(AiJson{{"role", "user"}, {"content", prompt ? prompt : ""}});
  return m;
}

std::string ai_chat_body(const std::string& model, const AiJson& messages, const std::vector<AiTool>& tools) {
  AiJson body = AiJson::object();
  if (!model.empty()) body["model"] = model;
  body["messages"] = messages;
  if (!tools.empty()) {
    AiJson list = AiJson::array();
    for (const AiTool& t : tools) {
      AiJson props = AiJson::object();
      AiJson required = AiJson::array();
      for (const AiToolParam& p : t.params) {
        AiJson s{{"type", schema_type(p.type)}};
        if (p.description) s["description"] = *p.description;
        props[p.name] = std::move(s);
        required.push_back(p.name);
      }
      AiJson schema{{"type", "object"},
                    {"title", t.name + "Args"},
                    {"description", t.description},
                    {"properties", std::move(props)},
                    {"required", std::move(required)}};
      list.push_back(AiJson{{"type", "function"},
                            {"function", {{"name", t.name}, {"description", t.description}, {"parameters", schema}}}});
    }
    body["tools"] = std::move(list);
  }
  body["stream"] = false;
  // Text from outside (a prompt, a tool's result) may hold bytes that are not
  // UTF-8; they go as U+FFFD rather than failing the request.
  return body.dump(-1, ' ', false, AiJson::error_handler_t::replace);
}

AiAnswer ai_read_answer(const HttpResponse& r) {
  AiAnswer a;
  if (!r.error.empty()) {
    a.error = "cannot reach the model server: " + r.error;
    return a;
  }
  if (r.status < 200 || r.status > 299) {
    const std::string why = server_reason(r.body);
    a.error = "the model server answered HTTP " + std::to_string(r.status) + (why.empty() ? "" : ": " + why);
    return a;
  }
  if (!depth_within(r.body, kMaxAnswerDepth)) {
    a.error = "the model server's answer is nested too deeply";
    return a;
  }
  AiJson j = AiJson::parse(r.body, nullptr, false);
  if (j.is_discarded()) {
    a.error = "the model server's answer is not valid JSON";
    return a;
  }
  const AiJson* msg = nullptr;
  if (j.is_object()) {
    auto choices = j.find("choices");
    if (choices != j.end() && choices->is_array() && !choices->empty() && choices->front().is_object()) {
      auto m = choices->front().find("message");
      if (m != choices->front().end() && m->is_object()) msg = &*m;
    }
  }
  if (!msg) {
    const std::string why = j.is_object() ? server_reason(r.body) : "";
    a.error = "the model server's answer holds no message" + (why.empty() ? "" : ": " + why);
    return a;
  }
  auto content = msg->find("content");
  if (content != msg->end() && content->is_string()) a.text = content->get<std::string>();
  auto calls = msg->find("tool_calls");
  if (calls != msg->end() && calls->is_array()) {
    for (const auto& c : *calls) {
      AiToolCall call;
      if (!c.is_object()) {
        a.error = "the model server's answer holds a tool call that is not an object";
        return a;
      }
      auto id = c.find("id");
      if (id != c.end() && id->is_string()) call.id = id->get<std::string>();
      auto fn = c.find("function");
      if (fn != c.end() && fn->is_object()) {
        auto n = fn->find("name");
        if (n != fn->end() && n->is_string()) call.name = n->get<std::string>();
        auto args = fn->find("arguments");
        if (args == fn->end() || args->is_null()) call.args = "{}";
        else if (args->is_string()) call.args = args->get<std::string>().empty() ? "{}" : args->get<std::string>();
        else call.args = args->dump();
      } else {
        call.args = "{}";
      }
      a.calls.push_back(std::move(call));
    }
  }
  if (!a.calls.empty()) {
    a.message = AiJson{{"role", "assistant"},
                       {"content", content != msg->end() && content->is_string() ? *content : AiJson(nullptr)},
                       {"tool_calls", *calls}};
  }
  return a;
}

int quib_ai_available() {
  if (!ai_http_ready()) return -1;
  try {
    const AiServerConfig cfg = ai_server_config();
    if (!ai_check_server(cfg).empty()) return 0;
    HttpRequest req;
    req.url = ai_endpoint(cfg.url, "/models");
    req.timeout_ms = long(kAiAvailableBound.count());
    req.loopback_only = !cfg.allow_remote;
    const HttpResponse r = ai_http(req);
    if (!r.error.empty() || r.status != 200 || !depth_within(r.body, kMaxAnswerDepth)) return 0;
    const AiJson j = AiJson::parse(r.body, nullptr, false);
    if (!j.is_object()) return 0;
    auto data = j.find("data");
    if (data == j.end() || !data->is_array()) return 0;
    for (const auto& m : *data) {
      if (!m.is_object()) continue;
      auto id = m.find("id");
      if (id == m.end() || !id->is_string()) continue;
      const std::string name = id->get<std::string>();
      // A server that names its models by tag ("llama3.2:latest") serves the bare name too.
      if (cfg.model.empty() || name == cfg.model || name == cfg.model + ":latest") return 1;
    }
    return 0;
  } catch (const std::exception&) {
    return 0;
  }
}

char* quib_ai_generate(const char* prompt, const char* instructions, char** err) {
  try {
    return generate(prompt, instructions, {}, nullptr, err);
  } catch (const std::exception& e) {
    return fail(err, std::string("generation failed: ") + e.what());
  }
}

char* quib_ai_generate_tools(const char* prompt, const char* instructions, const char* toolsJson,
                             AiToolInvoke invoke, char** err) {
  if (!ai_http_ready()) return fail(err, "the model bridge cannot work on this system");
  try {
    const std::vector<AiTool> tools = ai_tools_from(toolsJson ? toolsJson : "[]");
    return generate(prompt, instructions, tools, invoke, err);
  } catch (const std::exception& e) {
    return fail(err, std::string("generation failed: ") + e.what());
  }
}
