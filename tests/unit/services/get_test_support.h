#pragma once
// GET against the fake desktop: two screens of different scales, a main window,
// the system sources a test sets, and the one answer line read back.

#include <string>
#include <vector>

#include "platform/fake/fake_system_info.h"
#include "services/get_queries.h"
#include "tests/unit/core/window_test_support.h"

class GetTest : public WindowTest {
 protected:
  platform::fake::FakeSystemInfo& sys() { return desktop.system; }

  // Asks and returns the JSON of the single answer line; fails the test unless
  // exactly one line "GOT <id> ..." came back.
  std::string get(const std::string& key, const std::string& id = "q1") {
    lines();  // what the set-up wrote (WINSTATE and the like)
    do_get(w(), std::make_unique<GetReq>(id, key));
    return answer(id, key);
  }
  std::string answer(const std::string& id, const std::string& what) {
    std::vector<std::string> l = lines();
    EXPECT_EQ(l.size(), 1u) << what;
    if (l.size() != 1) return "<" + std::to_string(l.size()) + " lines>";
    const std::string prefix = "GOT " + id + " ";
    EXPECT_EQ(l[0].rfind(prefix, 0), 0u) << l[0];
    return l[0].substr(std::min(prefix.size(), l[0].size()));
  }

  // The raw text of a member of a JSON object (braces matched; no strings with
  // braces in the answers this reads).
  static std::string member(const std::string& json, const std::string& name) {
    const std::string tag = "\"" + name + "\":";
    size_t at = json.find(tag);
    if (at == std::string::npos) return "<no " + name + ">";
    at += tag.size();
    size_t end = at;
    int depth = 0;
    for (; end < json.size(); ++end) {
      const char c = json[end];
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') {
        if (depth == 0) break;
        if (--depth == 0) {
          ++end;
          break;
        }
      }
      if (c == ',' && depth == 0) break;
    }
    return json.substr(at, end - at);
  }
};
