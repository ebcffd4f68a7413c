// The real HTTP exchange with a model server on 127.0.0.1: availability, a
// generation with a tool call, and servers that fail in the ways servers do.

#include <gtest/gtest.h>

#include <future>

#include "tests/unit/ai/ai_test_support.h"

namespace {

class AiHttp : public ::testing::Test {
 protected:
  void TearDown() override {
    ai_set_server_config({});
    ai_set_generation_bounds_for_tests(kAiGenerationBound, kAiStallBound);
  }
  std::string generate(const char* tools = nullptr) {
    char* err = nullptr;
    char* text = tools ? quib_ai_generate_tools("Hi", "Be brief", tools, invoke, &err)
                       : quib_ai_generate("Hi", nullptr, &err);
    std::string out = text ? "text:" + std::string(text) : "error:" + std::string(err ? err : "(none)");
    free(text);
    free(err);
    return out;
  }
  static char* invoke(const char* name, const char* args) {
    return strdup((std::string(name) + " got " + args).c_str());
  }
};

TEST_F(AiHttp, AvailableWhenTheServerListsAModel) {
  std::string asked;
  LocalHttpServer server([&](const std::string& method, const std::string& path, const std::string&) {
    asked = method + " " + path;
    return LocalHttpServer::response(200, R"({"object":"list","data":[{"id":"tiny","object":"model"}]})");
  });
  ai_set_server_config({server.url(), "", false});
  EXPECT_EQ(quib_ai_available(), 1);
  EXPECT_EQ(asked, "GET /v1/models");
  ai_set_server_config({server.url(), "other", false});
  EXPECT_EQ(quib_ai_available(), 0);
}

TEST_F(AiHttp, UnavailableWithoutAServer) {
  int port;
  {
    LocalHttpServer gone([](auto&, auto&, auto&) { return std::string(); });
    port = std::atoi(gone.url().c_str() + gone.url().rfind(':') + 1);
  }
  ai_set_server_config({"http://127.0.0.1:" + std::to_string(port), "", false});
  EXPECT_EQ(quib_ai_available(), 0);
  EXPECT_EQ(generate().rfind("error:cannot reach the model server", 0), 0u) << generate();
  ai_set_server_config({});
  EXPECT_EQ(quib_ai_available(), 0);
}

TEST_F(AiHttp, GenerationWithAToolCall) {
  std::vector<AiJson> bodies;
  LocalHttpServer server([&](auto&, const std::string& path, const std::string& body) {
    bodies.push_back(AiJson::parse(body));
    if (bodies.size() == 1)
      return LocalHttpServer::response(200, tool_answer({{"call_1", "echo", R"({"s":"x"})"}}).body);
    return LocalHttpServer::response(200, text_answer("final").body);
  });
  ai_set_server_config({server.url(), "tiny", false});
  EXPECT_EQ(generate(R"([{"name":"echo","parameters":{"s":"string"}}])"), "text:final");
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[0]["model"], "tiny");
  EXPECT_EQ(bodies[1]["messages"].back()["content"], R"(echo got {"s":"x"})");
}

TEST_F(AiHttp, ServersThatFail) {
  struct C {
    const char* what;
    std::string raw;  // "" = close without answering
    std::string error_part;
  };
  const std::vector<C> cases = {
      {"closes the connection", "", "cannot reach the model server"},
      {"HTTP 500", LocalHttpServer::response(500, R"({"error":{"message":"kaputt"}})"), "HTTP 500: kaputt"},
      {"invalid JSON", LocalHttpServer::response(200, "{\"choices\":"), "not valid JSON"},
      {"garbage instead of HTTP", "hello\r\n\r\n", "cannot reach the model server"},
      {"a tool call for an undeclared tool", LocalHttpServer::response(200, tool_answer({{"c", "nope", "{}"}}).body),
       "not declared: nope"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LocalHttpServer server([&](auto&, auto&, auto&) { return c.raw; });
    ai_set_server_config({server.url(), "", false});
    const std::string out = generate("[{\"name\":\"echo\"}]");
    EXPECT_EQ(out.rfind("error:", 0), 0u) << out;
    EXPECT_NE(out.find(c.error_part), std::string::npos) << out;
  }
}

TEST_F(AiHttp, AServerThatHangsOrTricklesIsCutOffButAModelAtWorkIsNot) {
  using ms = std::chrono::milliseconds;
  const std::string head = LocalHttpServer::head(200, 100000);
  struct C {
    const char* what;
    StallingHttpServer::Script script;
    ms total;
    std::string out_part;
  };
  const std::vector<C> cases = {
      {"hangs after its head", {ms(0), head, ms(0)}, ms(20000),
       "error:the model server stopped in the middle of its answer: nothing came for 300 ms"},
      {"trickles a byte every 50 ms", {ms(0), head, ms(50)}, ms(1000),
       "error:the model server did not finish its answer within 1 s"},
      {"accepts and never answers", {ms(0), "", ms(0)}, ms(1000),
       "error:the model server did not finish its answer within 1 s"},
      // Silent longer than the stall bound before its answer, as a model at work is.
      {"answers after a while", {ms(700), LocalHttpServer::response(200, text_answer("late").body), ms(0)}, ms(20000),
       "text:late"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto server = std::make_unique<StallingHttpServer>(c.script);
    ai_set_server_config({server->url(), "", false});
    ai_set_generation_bounds_for_tests(c.total, ms(300));
    auto out = std::async(std::launch::async, [this] { return generate(); });
    EXPECT_EQ(out.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "no answer in 10 s";
    server.reset();  // a generation that still hangs ends with its server
    EXPECT_EQ(out.get(), c.out_part);
  }
}

TEST_F(AiHttp, AProxyFromTheEnvironmentIsNotUsedForTheLocalServer) {
  std::atomic<int> proxied{0};
  LocalHttpServer proxy([&](auto&, auto&, auto&) {
    ++proxied;
    return LocalHttpServer::response(200, text_answer("via proxy").body);
  });
  LocalHttpServer server([](auto&, auto&, auto&) { return LocalHttpServer::response(200, text_answer("direct").body); });
  setenv("http_proxy", proxy.url().c_str(), 1);
  setenv("HTTP_PROXY", proxy.url().c_str(), 1);
  ai_set_server_config({server.url(), "", false});
  const std::string out = generate();
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  EXPECT_EQ(out, "text:direct");
  EXPECT_EQ(proxied.load(), 0);
}

TEST_F(AiHttp, AnErrorSlotIsOptional) {
  ai_set_server_config({});
  EXPECT_EQ(quib_ai_generate("Hi", nullptr, nullptr), nullptr);
  EXPECT_EQ(quib_ai_generate_tools("Hi", nullptr, nullptr, nullptr, nullptr), nullptr);
}

}  // namespace
