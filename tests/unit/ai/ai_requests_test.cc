// AI requests end to end inside the process: the GOT replies, the tool-call
// rendezvous on real threads, and the model server's failures, against a scripted
// model behind the transport and a scripted backend on the wire.

#include <gtest/gtest.h>

#include <map>

#include "ai/ai_requests.h"
#include "core/records.h"
#include "tests/unit/ai/ai_test_support.h"

namespace {

class AiRequests : public FakeDesktopTest {
 protected:
  void TearDown() override {
    ai_set_tool_timeout_for_tests(std::chrono::seconds(20));
    ai_set_generation_bounds_for_tests(kAiGenerationBound, kAiStallBound);
    ai_set_server_config({});
    FakeDesktopTest::TearDown();
  }
};

std::string got_of(ScriptedBackend& b, const std::string& id) { return b.wait_for("GOT " + id + " "); }

long aitool_id(const std::string& line) { return std::atol(line.c_str() + 7); }

TEST_F(AiRequests, AvailabilityWithoutAServerAndTheExactOpWord) {
  ai_set_server_config({});
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  run_ai_request("a1", "available", "", "", "");
  EXPECT_EQ(got_of(backend, "a1"), R"(GOT a1 {"ok":true,"status":"unavailable"})");
  // "Available" is not the op word: it asks for a generation, which fails here.
  run_ai_request("a2", "Available", "hi", "", "");
  EXPECT_EQ(got_of(backend, "a2"),
            R"x(GOT a2 {"ok":false,"error":"no on-device model server is set (QUIBEX_AI_URL)"})x");
}

TEST_F(AiRequests, AvailabilityAsked) {
  struct C {
    const char* what;
    HttpResponse models;
    std::string model;
    const char* status;
  };
  const std::vector<C> cases = {
      {"a model listed", ok_json(R"({"data":[{"id":"m1"}]})"), "", "available"},
      {"the named model listed", ok_json(R"({"data":[{"id":"m0"},{"id":"m1"}]})"), "m1", "available"},
      {"the named model by its tag", ok_json(R"({"data":[{"id":"llama3.2:latest"}]})"), "llama3.2", "available"},
      {"the named model missing", ok_json(R"({"data":[{"id":"m0"}]})"), "m1", "unavailable"},
      {"no model at all", ok_json(R"({"data":[]})"), "", "unavailable"},
      {"HTTP 500", {"", 500, ""}, "", "unavailable"},
      {"not JSON", ok_json("nope"), "", "unavailable"},
      {"no connection", {"Connection refused", 0, ""}, "", "unavailable"},
  };
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedModel model({c.models});
    ai_set_server_config({"http://127.0.0.1:9", c.model, false});
    const std::string id = "v" + std::to_string(++n);
    run_ai_request(id, "available", "", "", "");
    EXPECT_EQ(got_of(backend, id), "GOT " + id + R"( {"ok":true,"status":")" + c.status + "\"}");
    ASSERT_EQ(model.requests().size(), 1u);
    EXPECT_EQ(model.requests()[0].url, "http://127.0.0.1:9/v1/models");
    EXPECT_EQ(model.requests()[0].body, "");
  }
}

TEST_F(AiRequests, PlainGenerationThroughTheQueue) {
  ScriptedModel model({text_answer("Line \"one\"\nback\\slash\x01")});
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  do_ai(nullptr, std::make_unique<AiReq>("g1", "gen", "Hi", "", ""));
  auto* q = dynamic_cast<platform::fake::FakeSerialQueue*>(ai_queue_for_tests());
  ASSERT_NE(q, nullptr);
  EXPECT_TRUE(backend.lines().empty());  // nothing runs on the main thread
  EXPECT_EQ(q->drain(), 1u);
  EXPECT_EQ(got_of(backend, "g1"), R"(GOT g1 {"ok":true,"text":"Line \"one\"\nback\\slash\u0001"})");
  const AiJson body = model.body(0);
  EXPECT_EQ(model.requests()[0].url, "http://127.0.0.1:9/v1/chat/completions");
  EXPECT_FALSE(body.contains("tools"));
  ASSERT_EQ(body["messages"].size(), 1u);  // empty instructions: no system message
  EXPECT_EQ(body["messages"][0]["content"], "Hi");
}

TEST_F(AiRequests, ModelNameAndInstructionsReachTheServer) {
  ScriptedModel model({text_answer("ok")});
  ai_set_server_config({"http://127.0.0.1:9", "qwen", false});
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  run_ai_request("g2", "gen", "", "Be brief", "");
  EXPECT_EQ(got_of(backend, "g2"), R"(GOT g2 {"ok":true,"text":"ok"})");
  const AiJson body = model.body(0);
  EXPECT_EQ(body["model"], "qwen");
  EXPECT_EQ(body["messages"][0], (AiJson{{"role", "system"}, {"content", "Be brief"}}));
  EXPECT_EQ(body["messages"][1], (AiJson{{"role", "user"}, {"content", ""}}));
}

TEST_F(AiRequests, AvailabilityAndQueuedGenerationsAreAnsweredWhileAGenerationHangs) {
  using ms = std::chrono::milliseconds;
  auto server = std::make_unique<StallingHttpServer>(
      StallingHttpServer::Script{ms(0), LocalHttpServer::head(200, 100), ms(0)});
  ai_set_server_config({server->url(), "", false});
  ai_set_generation_bounds_for_tests(ms(20000), ms(500));
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  do_ai(nullptr, std::make_unique<AiReq>("h1", "gen", "p", "", ""));
  do_ai(nullptr, std::make_unique<AiReq>("h2", "gen", "p", "", ""));
  auto* q = dynamic_cast<platform::fake::FakeSerialQueue*>(ai_queue_for_tests());
  ASSERT_NE(q, nullptr);
  std::thread queue([q] { q->drain(); });
  for (int i = 0; i < 1000 && server->chats() == 0; ++i) std::this_thread::sleep_for(ms(5));
  // h1 hangs on the server now; the questions are answered beside it.
  do_ai(nullptr, std::make_unique<AiReq>("v1", "available", "", "", ""));
  do_ai(nullptr, std::make_unique<AiReq>("v2", "available", "", "", ""));
  EXPECT_EQ(got_of(backend, "v1"), R"(GOT v1 {"ok":true,"status":"available"})");
  EXPECT_EQ(got_of(backend, "v2"), R"(GOT v2 {"ok":true,"status":"available"})");
  for (auto& l : backend.lines()) EXPECT_NE(l.rfind("GOT h", 0), 0u) << "answered before the questions: " << l;
  const std::string stalled =
      R"({"ok":false,"error":"the model server stopped in the middle of its answer: nothing came for 500 ms"})";
  EXPECT_EQ(got_of(backend, "h1"), "GOT h1 " + stalled);
  EXPECT_EQ(got_of(backend, "h2"), "GOT h2 " + stalled);
  server.reset();  // ends a generation that still hangs, so that the queue's thread returns
  queue.join();
  std::map<std::string, int> answers;
  for (auto& l : backend.lines())
    if (l.rfind("GOT ", 0) == 0) ++answers[l.substr(4, l.find(' ', 4) - 4)];
  EXPECT_EQ(answers, (std::map<std::string, int>{{"h1", 1}, {"h2", 1}, {"v1", 1}, {"v2", 1}}));
}

TEST_F(AiRequests, ToolWaitsDoNotCountAgainstTheGenerationBound) {
  ai_set_generation_bounds_for_tests(std::chrono::milliseconds(300), std::chrono::milliseconds(300));
  ScriptedModel model({tool_answer({{"c1", "slow", "{}"}}), text_answer("done")});
  ScriptedBackend backend([](long, auto&, auto&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return std::optional<std::string>("r");
  });
  run_ai_request("b1", "gen", "p", "", R"([{"name":"slow"}])");
  EXPECT_EQ(got_of(backend, "b1"), R"(GOT b1 {"ok":true,"text":"done"})");
  const auto requests = model.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_GT(requests[1].timeout_ms, 0);  // what the first round left of the bound
  EXPECT_LE(requests[1].timeout_ms, requests[0].timeout_ms);
  EXPECT_EQ(requests[0].stall_ms, 300);
}

TEST_F(AiRequests, TwoToolCallsAtOnceAnsweredInReverseOrder) {
  ScriptedModel model({tool_answer({{"c1", "weather", R"({"city":"Oslo"})"}, {"c2", "time", "{}"}}),
                       text_answer("Cold at noon")});
  std::mutex mu;
  std::vector<std::pair<long, std::string>> seen;
  ScriptedBackend backend([&](long id, const std::string& name, const std::string& args) -> std::optional<std::string> {
    std::lock_guard<std::mutex> lock(mu);
    seen.push_back({id, name + "|" + args});
    if (seen.size() < 2) return std::nullopt;
    // Both wait now: answer the later one first, then the earlier.
    ai_tool_result(seen[1].first, "result of " + seen[1].second.substr(0, seen[1].second.find('|')));
    ai_tool_result(seen[0].first, "result of " + seen[0].second.substr(0, seen[0].second.find('|')));
    return std::nullopt;
  });
  const std::string tools = R"([{"name":"weather","parameters":{"city":"string"}},{"name":"time"}])";
  run_ai_request("t1", "gen", "Weather?", "", tools);
  EXPECT_EQ(got_of(backend, "t1"), R"(GOT t1 {"ok":true,"text":"Cold at noon"})");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0].first, seen[1].first);
  ASSERT_EQ(model.requests().size(), 2u);
  const AiJson second = model.body(1);
  ASSERT_EQ(second["messages"].size(), 4u);
  EXPECT_EQ(second["messages"][1]["role"], "assistant");
  EXPECT_EQ(second["messages"][1]["tool_calls"].size(), 2u);
  EXPECT_EQ(second["messages"][2], (AiJson{{"role", "tool"}, {"tool_call_id", "c1"}, {"content", "result of weather"}}));
  EXPECT_EQ(second["messages"][3], (AiJson{{"role", "tool"}, {"tool_call_id", "c2"}, {"content", "result of time"}}));
  EXPECT_EQ(second["tools"].size(), 2u);
  EXPECT_EQ(ai_tool_entries_for_tests(), 0u);
}

TEST_F(AiRequests, AitoolLineIsOneLineWithEscapedFields) {
  ScriptedModel model({tool_answer({{"c1", "a\tb", "x\ny\\z"}}), text_answer("done")});
  ScriptedBackend backend([](long, auto&, auto&) { return std::optional<std::string>("r\tesult"); });
  run_ai_request("e1", "gen", "p", "", R"([{"name":"a\tb"}])");
  EXPECT_EQ(got_of(backend, "e1"), R"(GOT e1 {"ok":true,"text":"done"})");
  const std::string line = backend.wait_for("AITOOL ");
  EXPECT_EQ(line.substr(line.find(' ', 7)), " a\\tb\tx\\ny\\\\z");
  EXPECT_EQ(model.body(1)["messages"][2]["content"], "r\tesult");
}

TEST_F(AiRequests, ToolResultThatNeverComesTimesOutAndALateOneIsDropped) {
  ai_set_tool_timeout_for_tests(std::chrono::milliseconds(150));
  ScriptedModel model({tool_answer({{"c1", "slow", "{}"}}), tool_answer({{"c2", "slow", "{}"}}), text_answer("end")});
  std::atomic<long> first{0};
  ScriptedBackend backend([&](long id, auto&, auto&) -> std::optional<std::string> {
    if (!first) {
      first = id;
      return std::nullopt;  // never answered in time
    }
    ai_tool_result(first, "late");  // too late: must not reach the second call
    return "fresh";
  });
  run_ai_request("o1", "gen", "p", "", R"([{"name":"slow"}])");
  EXPECT_EQ(got_of(backend, "o1"), R"(GOT o1 {"ok":true,"text":"end"})");
  EXPECT_EQ(model.body(1)["messages"][2]["content"], R"({"error":"tool timed out"})");
  EXPECT_EQ(model.body(2)["messages"][4]["content"], "fresh");
  EXPECT_EQ(ai_tool_entries_for_tests(), 0u);
}

TEST_F(AiRequests, UndeclaredToolFailsTheGenerationWithoutAskingTheBackend) {
  struct C {
    const char* what;
    std::string tools;
  };
  for (const C& c : std::vector<C>{{"other tools declared", R"([{"name":"a"}])"},
                                   {"no tools", ""},
                                   {"an unusable declaration", "{oops"}}) {
    SCOPED_TRACE(c.what);
    ScriptedModel model({tool_answer({{"c1", "rm", "{}"}})});
    ScriptedBackend backend([](long, auto&, auto&) { return std::optional<std::string>("x"); });
    run_ai_request("u1", "gen", "p", "", c.tools);
    EXPECT_EQ(got_of(backend, "u1"),
              R"(GOT u1 {"ok":false,"error":"the model called a tool that was not declared: rm"})");
    for (auto& l : backend.lines()) EXPECT_NE(l.rfind("AITOOL ", 0), 0u) << l;
  }
}

TEST_F(AiRequests, UnparsableDeclarationGeneratesWithoutTools) {
  ScriptedModel model({text_answer("plain")});
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  run_ai_request("d1", "gen", "p", "sys", "[{\"name\":\"a\"},1]");
  EXPECT_EQ(got_of(backend, "d1"), R"(GOT d1 {"ok":true,"text":"plain"})");
  EXPECT_FALSE(model.body(0).contains("tools"));
}

TEST_F(AiRequests, ServerFailuresGiveAFailedGeneration) {
  struct C {
    const char* what;
    HttpResponse answer;
    std::string error;
  };
  const std::vector<C> cases = {
      {"HTTP 500", {"", 500, R"({"error":{"message":"boom"}})"}, "the model server answered HTTP 500: boom"},
      {"invalid JSON", ok_json("{"), "the model server's answer is not valid JSON"},
      {"closed connection", {"Empty reply from server", 0, ""}, "cannot reach the model server: Empty reply from server"},
  };
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedModel model({c.answer});
    const std::string id = "f" + std::to_string(++n);
    run_ai_request(id, "gen", "p", "", R"([{"name":"a"}])");
    EXPECT_EQ(got_of(backend, id), "GOT " + id + R"( {"ok":false,"error":")" + c.error + "\"}");
  }
}

TEST_F(AiRequests, RemoteServerRefusedUnlessAllowed) {
  ScriptedModel model({text_answer("x")});
  ai_set_server_config({"http://10.1.2.3:8080", "", false});
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  run_ai_request("r1", "gen", "secret prompt", "", "");
  run_ai_request("r2", "available", "", "", "");
  EXPECT_EQ(got_of(backend, "r1"),
            R"(GOT r1 {"ok":false,"error":"the model server 10.1.2.3 is not on this machine; set QUIBEX_AI_REMOTE=1 to allow it"})");
  EXPECT_EQ(got_of(backend, "r2"), R"(GOT r2 {"ok":true,"status":"unavailable"})");
  EXPECT_TRUE(model.requests().empty());  // nothing left the machine
  ai_set_server_config({"http://10.1.2.3:8080", "", true});
  run_ai_request("r3", "gen", "p", "", "");
  EXPECT_EQ(got_of(backend, "r3"), R"(GOT r3 {"ok":true,"text":"x"})");
  EXPECT_FALSE(model.requests().at(0).loopback_only);
}

TEST_F(AiRequests, ErrorTextThatIsNotUtf8StillMakesValidJson) {
  ai_set_server_config({"\xff", "", true});
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  run_ai_request("x1", "gen", "p", "", "");
  const std::string got = got_of(backend, "x1");
  ASSERT_FALSE(got.empty());
  const AiJson j = AiJson::parse(got.substr(7));  // throws on bytes that are not UTF-8
  EXPECT_EQ(j["ok"], false);
  EXPECT_EQ(j["error"], "the model server address is not an http URL: \xEF\xBF\xBD");
  ai_set_server_config({});
}

// The rendezvous alone, on real threads.
class ToolRendezvous : public ::testing::Test {
 protected:
  void TearDown() override { ai_set_tool_timeout_for_tests(std::chrono::seconds(20)); }
};

TEST_F(ToolRendezvous, ResultAtOnceAndAfterAWhile) {
  for (int delay_ms : {0, 50}) {
    SCOPED_TRACE(delay_ms);
    ScriptedBackend backend([&](long id, auto&, auto&) -> std::optional<std::string> {
      std::thread([id, delay_ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        ai_tool_result(id, "v" + std::to_string(id));
      }).detach();
      return std::nullopt;
    });
    char* r = ai_tool_invoke(nullptr, nullptr);
    const std::string line = backend.wait_for("AITOOL ");
    EXPECT_EQ(line.substr(line.find(' ', 7)), " \t{}");  // null name and args
    EXPECT_EQ(std::string(r), "v" + std::to_string(aitool_id(line)));
    free(r);
  }
}

TEST_F(ToolRendezvous, IdsRiseAndAreNeverReused) {
  ScriptedBackend backend([](long id, auto&, auto&) { return std::optional<std::string>(std::to_string(id)); });
  std::vector<long> ids;
  for (int i = 0; i < 3; ++i) {
    char* r = ai_tool_invoke("t", "{}");
    ids.push_back(std::atol(r));
    free(r);
  }
  EXPECT_EQ(ids[1], ids[0] + 1);
  EXPECT_EQ(ids[2], ids[1] + 1);
  EXPECT_GE(ids[0], 1);
}

TEST_F(ToolRendezvous, UnknownAndEndedIdsAreDropped) {
  ai_set_tool_timeout_for_tests(std::chrono::milliseconds(100));
  ScriptedBackend backend([](long, auto&, auto&) { return std::nullopt; });
  // Ids never handed out: 0 (what an unparsable number reads as), negative, far ahead.
  for (long id : {0L, -1L, 1L << 40}) ai_tool_result(id, "x");
  EXPECT_EQ(ai_tool_entries_for_tests(), 0u);
  char* r = ai_tool_invoke("t", "{}");
  EXPECT_STREQ(r, R"({"error":"tool timed out"})");
  free(r);
  const long ended = aitool_id(backend.wait_for("AITOOL "));
  EXPECT_EQ(ai_tool_entries_for_tests(), 0u);
  ai_tool_result(ended, "late");
  EXPECT_EQ(ai_tool_entries_for_tests(), 0u);
}

TEST_F(ToolRendezvous, ManyWaitingAtOnceEachGetsItsOwn) {
  std::mutex mu;
  std::vector<long> waiting;
  const int n = 8;
  ScriptedBackend backend([&](long id, auto&, auto& args) -> std::optional<std::string> {
    std::lock_guard<std::mutex> lock(mu);
    waiting.push_back(id);
    if (waiting.size() == n)
      for (auto it = waiting.rbegin(); it != waiting.rend(); ++it) ai_tool_result(*it, "r" + std::to_string(*it));
    return std::nullopt;
  });
  std::vector<std::string> results(n);
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i)
    threads.emplace_back([&, i] {
      char* r = ai_tool_invoke("t", std::to_string(i).c_str());
      results[i] = r;
      free(r);
    });
  for (auto& t : threads) t.join();
  // Each thread's AITOOL line carried its own args; its result names its own id.
  for (auto& line : backend.lines()) {
    if (line.rfind("AITOOL ", 0) != 0) continue;
    const int i = std::atoi(line.c_str() + line.find('\t') + 1);
    EXPECT_EQ(results[i], "r" + std::to_string(aitool_id(line)));
  }
  EXPECT_EQ(ai_tool_entries_for_tests(), 0u);
}

}  // namespace
