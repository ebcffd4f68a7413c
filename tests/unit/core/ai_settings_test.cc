// Where the model server is found: the environment or the bundle's keys.

#include <gtest/gtest.h>

#include <map>

#include "core/startup.h"

namespace {

TEST(AiSettings, EnvironmentOrBundleKeys) {
  struct C {
    const char* what;
    std::map<std::string, std::string> env;
    std::map<std::string, std::string> keys;
    std::string url, model;
    bool remote;
  };
  const std::vector<C> cases = {
      {"nothing set", {}, {}, "", "", false},
      {"environment", {{"QUIBEX_AI_URL", "http://127.0.0.1:8080"}, {"QUIBEX_AI_MODEL", "m"}}, {}, "http://127.0.0.1:8080",
       "m", false},
      {"keys", {}, {{"QuibexAIURL", "http://localhost:1"}, {"QuibexAIModel", "k"}, {"QuibexAIRemote", "YES"}},
       "http://localhost:1", "k", true},
      {"a non-empty variable wins over the key",
       {{"QUIBEX_AI_URL", "http://127.0.0.1:2"}},
       {{"QuibexAIURL", "http://127.0.0.1:3"}},
       "http://127.0.0.1:2", "", false},
      {"an empty variable leaves the key", {{"QUIBEX_AI_URL", ""}, {"QUIBEX_AI_MODEL", ""}},
       {{"QuibexAIURL", "http://127.0.0.1:3"}, {"QuibexAIModel", "k"}}, "http://127.0.0.1:3", "k", false},
      {"remote only when said explicitly", {{"QUIBEX_AI_REMOTE", "yes"}}, {}, "", "", false},
      {"remote by the variable", {{"QUIBEX_AI_REMOTE", "1"}}, {}, "", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform::PlistDict info;
    info.strings = c.keys;
    const auto s = read_settings(
        [&](const char* n) -> const char* {
          auto it = c.env.find(n);
          return it == c.env.end() ? nullptr : it->second.c_str();
        },
        info, "");
    EXPECT_EQ(s.ai_url, c.url);
    EXPECT_EQ(s.ai_model, c.model);
    EXPECT_EQ(s.ai_remote, c.remote);
  }
}

}  // namespace
