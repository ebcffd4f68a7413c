// The tools declaration, the request body sent to the model server and the
// reading of its answers.

#include <gtest/gtest.h>

#include "ai/model_bridge.h"

namespace {

using P = AiParamType;

struct ParamWant {
  std::string name;
  P type;
  std::optional<std::string> description;
};
struct ToolWant {
  std::string name, description;
  std::vector<ParamWant> params;
};

struct DeclCase {
  const char* what;
  std::string json;
  std::vector<ToolWant> want;
};

TEST(AiToolsDeclaration, Table) {
  const std::vector<DeclCase> cases = {
      {"a name alone: no parameters, the name describes it", R"([{"name":"clock"}])", {{"clock", "clock", {}}}},
      {"bare and object parameters, in the text's order",
       R"([{"name":"w","description":"Weather","parameters":{"city":"string","n":"number",
           "i":{"type":"int","description":"count"},"b":{"type":"bool"},"x":{"description":"d"},
           "cap":"Number","q":7,"f":"float","d":"double","k":"integer","y":"boolean","o":{"type":["number"]}}}])",
       {{"w",
         "Weather",
         {{"city", P::String, {}},
          {"n", P::Number, {}},
          {"i", P::Integer, "count"},
          {"b", P::Boolean, {}},
          {"x", P::String, "d"},
          {"cap", P::String, {}},
          {"q", P::String, {}},
          {"f", P::Number, {}},
          {"d", P::Number, {}},
          {"k", P::Integer, {}},
          {"y", P::Boolean, {}},
          {"o", P::String, {}}}}}},
      {"a non-string description falls back to the name; parameters that are no object give none",
       R"([{"name":5},{"name":"b","description":5,"parameters":[1,2]},{"name":"c","parameters":{"p":{"description":3}}}])",
       {{"b", "b", {}}, {"c", "c", {{"p", P::String, {}}}}}},
      {"one valid tool and a number: no tools at all", R"([{"name":"a"},5])", {}},
      {"the only object lacks a name", R"([{"description":"x"}])", {}},
      {"not JSON", "not json", {}},
      {"an object, not an array", R"({"name":"a"})", {}},
      {"empty text", "", {}},
      {"an empty array", "[]", {}},
      {"bytes that are not UTF-8", "[{\"name\":\"\xff\"}]", {}},
      {"tools keep the array's order", R"([{"name":"z"},{"name":"a"}])", {{"z", "z", {}}, {"a", "a", {}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto tools = ai_tools_from(c.json);
    ASSERT_EQ(tools.size(), c.want.size());
    for (size_t i = 0; i < tools.size(); ++i) {
      EXPECT_EQ(tools[i].name, c.want[i].name);
      EXPECT_EQ(tools[i].description, c.want[i].description);
      ASSERT_EQ(tools[i].params.size(), c.want[i].params.size());
      for (size_t k = 0; k < tools[i].params.size(); ++k) {
        EXPECT_EQ(tools[i].params[k].name, c.want[i].params[k].name);
        EXPECT_EQ(tools[i].params[k].type, c.want[i].params[k].type) << tools[i].params[k].name;
        EXPECT_EQ(tools[i].params[k].description, c.want[i].params[k].description) << tools[i].params[k].name;
      }
    }
  }
}

TEST(AiToolsDeclaration, HugeAndDeepDeclarationsDoNotCrash) {
  std::string many = "[";
  for (int i = 0; i < 5000; ++i) many += std::string(i ? "," : "") + R"({"name":"t)" + std::to_string(i) + R"("})";
  many += "]";
  auto tools = ai_tools_from(many);
  ASSERT_EQ(tools.size(), 5000u);
  EXPECT_EQ(tools[4999].name, "t4999");
  // The body with all of them is still built.
  EXPECT_NE(ai_chat_body("", ai_first_messages("p", nullptr), tools).find("t4999Args"), std::string::npos);

  const int depth = 200000;
  const std::string deep = R"([{"name":"d","parameters":{"p":{"type":)" + std::string(depth, '[') +
                           std::string(depth, ']') + "}}}]";
  tools = ai_tools_from(deep);
  ASSERT_EQ(tools.size(), 1u);
  ASSERT_EQ(tools[0].params.size(), 1u);
  EXPECT_EQ(tools[0].params[0].type, P::String);
  EXPECT_TRUE(ai_tools_from(std::string(depth, '[')).empty());
}

TEST(AiRequestBody, SessionMessagesAndToolSchema) {
  const auto tools =
      ai_tools_from(R"([{"name":"weather","description":"Weather now","parameters":{"city":{"type":"string",
      "description":"City name"},"days":"int","metric":"bool","lat":"double"}}])");
  const AiJson body = AiJson::parse(ai_chat_body("llama3", ai_first_messages("Hi", "Be brief"), tools));
  EXPECT_EQ(body["model"], "llama3");
  EXPECT_EQ(body["stream"], false);
  ASSERT_EQ(body["messages"].size(), 2u);
  EXPECT_EQ(body["messages"][0], (AiJson{{"role", "system"}, {"content", "Be brief"}}));
  EXPECT_EQ(body["messages"][1], (AiJson{{"role", "user"}, {"content", "Hi"}}));
  ASSERT_EQ(body["tools"].size(), 1u);
  const AiJson& t = body["tools"][0];
  EXPECT_EQ(t["type"], "function");
  EXPECT_EQ(t["function"]["name"], "weather");
  EXPECT_EQ(t["function"]["description"], "Weather now");
  const AiJson& s = t["function"]["parameters"];
  EXPECT_EQ(s["type"], "object");
  EXPECT_EQ(s["properties"]["city"], (AiJson{{"type", "string"}, {"description", "City name"}}));
  EXPECT_EQ(s["properties"]["days"], (AiJson{{"type", "integer"}}));
  EXPECT_EQ(s["properties"]["metric"], (AiJson{{"type", "boolean"}}));
  EXPECT_EQ(s["properties"]["lat"], (AiJson{{"type", "number"}}));
  EXPECT_EQ(s["required"], (AiJson{"city", "days", "metric", "lat"}));
}

TEST(AiRequestBody, NoInstructionsNoModelNoTools) {
  const AiJson body = AiJson::parse(ai_chat_body("", ai_first_messages("Hi", nullptr), {}));
  EXPECT_FALSE(body.contains("model"));
  EXPECT_FALSE(body.contains("tools"));
  ASSERT_EQ(body["messages"].size(), 1u);
  EXPECT_EQ(body["messages"][0]["role"], "user");
  // Empty instructions are instructions (the request handler passes none for an empty field).
  EXPECT_EQ(ai_first_messages("Hi", "")[0], (AiJson{{"role", "system"}, {"content", ""}}));
}

TEST(AiRequestBody, TextThatIsNotUtf8StillMakesABody) {
  const AiJson body = AiJson::parse(ai_chat_body("", ai_first_messages("a\xff" "b", nullptr), {}));
  EXPECT_EQ(body["messages"][0]["content"], "a\xEF\xBF\xBD" "b");
}

struct AnswerCase {
  const char* what;
  HttpResponse response;
  std::string error_part;  // "" = a usable answer
  std::string text;
  std::vector<AiToolCall> calls;
};

TEST(AiModelAnswer, Table) {
  const std::vector<AnswerCase> cases = {
      {"text", {"", 200, R"({"choices":[{"message":{"role":"assistant","content":"He said \"hi\"\n"}}]})"}, "",
       "He said \"hi\"\n", {}},
      {"empty text is a success", {"", 200, R"({"choices":[{"message":{"content":""}}]})"}, "", "", {}},
      {"null content without tool calls", {"", 200, R"({"choices":[{"message":{"content":null}}]})"}, "", "", {}},
      {"tool calls: text, object and missing arguments",
       {"", 200,
        R"({"choices":[{"message":{"content":null,"tool_calls":[
          {"id":"c1","type":"function","function":{"name":"a","arguments":"{\"x\":1}"}},
          {"id":"c2","type":"function","function":{"name":"b","arguments":{"y":true}}},
          {"id":"c3","type":"function","function":{"name":"c"}},
          {"id":"c4","type":"function","function":{"name":"d","arguments":""}}]}}]})"},
       "",
       "",
       {{"c1", "a", R"({"x":1})"}, {"c2", "b", R"({"y":true})"}, {"c3", "c", "{}"}, {"c4", "d", "{}"}}},
      {"HTTP 500 with the server's reason", {"", 500, R"({"error":{"message":"out of memory"}})"},
       "the model server answered HTTP 500: out of memory", "", {}},
      {"HTTP 400 with a plain error string", {"", 400, R"({"error":"model is required"})"},
       "HTTP 400: model is required", "", {}},
      {"HTTP 503 without a body", {"", 503, ""}, "the model server answered HTTP 503", "", {}},
      {"not JSON", {"", 200, "<html>"}, "not valid JSON", "", {}},
      {"truncated JSON", {"", 200, R"({"choices":[{"message":)"}, "not valid JSON", "", {}},
      {"no choices", {"", 200, R"({"object":"chat.completion"})"}, "holds no message", "", {}},
      {"empty choices", {"", 200, R"({"choices":[]})"}, "holds no message", "", {}},
      {"a tool call that is no object", {"", 200, R"({"choices":[{"message":{"tool_calls":[3]}}]})"},
       "not an object", "", {}},
      {"no connection", {"Connection refused", 0, ""}, "cannot reach the model server: Connection refused", "", {}},
      {"nested too deeply", {"", 200, std::string(100000, '[')}, "nested too deeply", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const AiAnswer a = ai_read_answer(c.response);
    if (c.error_part.empty()) {
      EXPECT_EQ(a.error, "");
    } else {
      EXPECT_NE(a.error.find(c.error_part), std::string::npos) << a.error;
      continue;
    }
    EXPECT_EQ(a.text, c.text);
    ASSERT_EQ(a.calls.size(), c.calls.size());
    for (size_t i = 0; i < a.calls.size(); ++i) {
      EXPECT_EQ(a.calls[i].id, c.calls[i].id);
      EXPECT_EQ(a.calls[i].name, c.calls[i].name);
      EXPECT_EQ(a.calls[i].args, c.calls[i].args);
    }
    if (!a.calls.empty()) {
      EXPECT_EQ(a.message["role"], "assistant");
      EXPECT_EQ(a.message["tool_calls"].size(), a.calls.size());
    }
  }
}

TEST(AiModelServer, AddressRules) {
  struct C {
    std::string url;
    bool remote;
    std::string error_part;  // "" = usable
  };
  const std::vector<C> cases = {
      {"http://127.0.0.1:8080", false, ""},
      {"http://127.8.9.1:8080/", false, ""},
      {"http://localhost:11434", false, ""},
      {"http://[::1]:8080", false, ""},
      {"https://127.0.0.1", false, ""},
      {"", false, "QUIBEX_AI_URL"},
      {"http://192.168.1.5:8080", false, "not on this machine"},
      {"http://example.com", false, "not on this machine"},
      {"http://127.0.0.1.example.com", false, "not on this machine"},
      {"http://192.168.1.5:8080", true, ""},
      {"ftp://127.0.0.1", false, "not an http URL"},
      {"127.0.0.1:8080", false, "not an http URL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const std::string e = ai_check_server({c.url, "", c.remote});
    if (c.error_part.empty()) EXPECT_EQ(e, "");
    else EXPECT_NE(e.find(c.error_part), std::string::npos) << e;
  }
  EXPECT_EQ(ai_endpoint("http://127.0.0.1:8080", "/models"), "http://127.0.0.1:8080/v1/models");
  EXPECT_EQ(ai_endpoint("http://127.0.0.1:8080/", "/models"), "http://127.0.0.1:8080/v1/models");
  EXPECT_EQ(ai_endpoint("http://127.0.0.1:11434/v1", "/chat/completions"),
            "http://127.0.0.1:11434/v1/chat/completions");
}

}  // namespace
