// The GOT line and the answer objects many commands share.

#include <gtest/gtest.h>

#include "core/answers.h"
#include "tests/unit/core/test_support.h"

namespace {

using V = std::vector<std::string>;

TEST(Answers, GotLineCarriesTheIdAndTheJsonAsGiven) {
  WireCapture wire;
  send_got("r7", ok_json());
  send_got("x:1", "[1,2]");
  EXPECT_EQ(wire.lines(), (V{"GOT r7 {\"ok\":true}", "GOT x:1 [1,2]"}));
}

TEST(Answers, Objects) {
  EXPECT_EQ(ok_json(false), "{\"ok\":false}");
  EXPECT_EQ(error_json("no \"such\" file"), "{\"ok\":false,\"error\":\"no \\\"such\\\" file\"}");
  EXPECT_EQ(error_json("bad \xff"), "{\"ok\":false,\"error\":\"bad \xef\xbf\xbd\"}");  // always JSON
  EXPECT_EQ(ok_error_json(true, ""), "{\"ok\":true,\"error\":null}");
  EXPECT_EQ(ok_error_json(false, ""), "{\"ok\":false,\"error\":null}");
  EXPECT_EQ(ok_error_json(false, "gone"), "{\"ok\":false,\"error\":\"gone\"}");
}

}  // namespace
