// The texts of page calls and of their answers, read and written.

#include "core/page_messages.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Calls = std::vector<std::pair<std::string, std::string>>;

// The UTF-16 length of UTF-8 text, code point by code point.
std::size_t units(const std::string& s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
    n += len == 4 ? 2 : 1;
    i += len;
  }
  return n;
}

// A batch as the shim writes one.
std::string batch(const Calls& calls) {
  std::string out = "*";
  for (const auto& [seq, text] : calls) out += seq + ":" + std::to_string(units(text)) + ":" + text;
  return out;
}

bool read(const std::string& body, Calls& out) {
  std::vector<PageCall> calls{{"stale", "stale"}};
  const bool ok = read_page_calls(body, calls);
  out.clear();
  for (const PageCall& c : calls) out.emplace_back(std::string(c.seq), std::string(c.text));
  return ok;
}

const std::string kSmile = "\xf0\x9f\x98\x80";  // two UTF-16 units

TEST(PageMessages, OneCallOrTheCallsOfATurnAreReadWithTheirOwnNumbers) {
  struct Case {
    std::string body;
    Calls calls;
  } cases[] = {
      {"12:{\"m\":1}", {{"12", "{\"m\":1}"}}},
      {"1:a:b", {{"1", "a:b"}}},
      {"3:", {{"3", ""}}},
      {"*", {}},
      {"*1:1:a2:0:3:3:a:b", {{"1", "a"}, {"2", ""}, {"3", "a:b"}}},
      {"*7:2:\xc3\xa9\xe2\x9c\x93", {{"7", "\xc3\xa9\xe2\x9c\x93"}}},
      {"*7:3:" + kSmile + "x8:1:y", {{"7", kSmile + "x"}, {"8", "y"}}},
      {std::string("*5:3:a\0b", 8), {{"5", std::string("a\0b", 3)}}},
      {"*5:3:*1:", {{"5", "*1:"}}},
      {"*123456789012345:0:", {{"123456789012345", ""}}},
      {"*4:1:\n4:1:\r", {{"4", "\n"}, {"4", "\r"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Calls got;
    EXPECT_TRUE(read(c.body, got));
    EXPECT_EQ(got, c.calls);
  }
}

// What a hostile page may post: each is refused whole, without a call.
TEST(PageMessages, MalformedTextsAreRefusedWhole) {
  const std::string bad[] = {
      "", "x", ":p", "1a:p", "-1:p", " 1:p", "1234567890123456:p", "no colon",
      "**", "*1", "*1:", "*1:1", "*1:1:", "*1:2:a", "*:1:a", "*1::a", "*1:x:a", "*1:-1:a", "*1:+1:a",
      "*1 :1:a", "* 1:1:a", "*1:1:a2", "*1:1:a2:", "*1:1:a2:1", "*1:1:a2:5:b", "*1:1:ab", "*1:1:a:",
      "*1234567890123456:0:", "*1:12345678901:a", "*1:99999:a", "*1:4294967296:a",
      "*1:1:" + kSmile,           // the count ends inside a character
      "*1:1:\xff", "*1:3:\xe2\x9c",  // the text ends inside a character
      "*1:1:a*2:1:b", std::string("*1:1:a\0", 7),
  };
  for (const std::string& body : bad) {
    SCOPED_TRACE(body);
    Calls got;
    EXPECT_FALSE(read(body, got));
    EXPECT_TRUE(got.empty());
  }
}

TEST(PageMessages, AnyBatchTheShimWritesReadsBackAsWritten) {
  std::mt19937 rng(7);
  const std::string pieces[] = {"a", ":", "*", "1", "\xc3\xa9", "\xe2\x9c\x93", kSmile, std::string(1, '\0'), "\n"};
  for (int round = 0; round < 500; ++round) {
    Calls calls;
    for (int n = int(rng() % 6); n > 0; --n) {
      std::string text;
      for (int k = int(rng() % 8); k > 0; --k) text += pieces[rng() % std::size(pieces)];
      calls.emplace_back(std::to_string(rng() % 100000), text);
    }
    const std::string body = batch(calls);
    Calls got;
    ASSERT_TRUE(read(body, got)) << body;
    ASSERT_EQ(got, calls) << body;
    // Cut short or with a byte changed, it is refused or read within its own bytes.
    std::string cut = body.substr(0, rng() % body.size());
    std::string changed = body;
    changed[rng() % body.size()] = char(rng());
    for (const std::string& b : {cut, changed}) {
      std::vector<PageCall> out;
      if (!read_page_calls(b, out)) continue;
      for (const PageCall& c : out) {
        EXPECT_GE(c.text.data(), b.data());
        EXPECT_LE(c.text.data() + c.text.size(), b.data() + b.size());
      }
    }
  }
}

TEST(PageMessages, AnswersAreWrittenWithTheirLengthInUtf16Units) {
  EXPECT_EQ(utf16_units(""), 0u);
  EXPECT_EQ(utf16_units("ab"), 2u);
  EXPECT_EQ(utf16_units("\xc3\xa9\xe2\x9c\x93"), 2u);
  EXPECT_EQ(utf16_units(kSmile + "x"), 3u);
  EXPECT_EQ(utf16_units(std::string("a\0b", 3)), 3u);

  std::string out = "-";
  append_page_answer(out, 5, true, "{\"a\":\"" + kSmile + "\"}");
  append_page_answer(out, 12, false, "");
  append_page_answer(out, 3, true, "[1,\"x:y\"]");
  EXPECT_EQ(out, "-15:10:{\"a\":\"" + kSmile + "\"}012:0:13:9:[1,\"x:y\"]");
}

// ASCII goes eight bytes at a time: each character at every offset around word
// boundaries, in a call of a batch and in an answer's length.
TEST(PageMessages, CharactersAtEveryOffsetKeepTheirUnits) {
  for (const std::string& ch : {std::string("\xc3\xa9"), std::string("\xe2\x9c\x93"), kSmile})
    for (size_t before = 0; before <= 17; ++before) {
      const std::string text = std::string(before, 'a') + ch + std::string(9, 'b');
      EXPECT_EQ(utf16_units(text), units(text));
      const Calls calls = {{"1", text}, {"2", "tail"}};
      Calls got;
      EXPECT_TRUE(read(batch(calls), got));
      EXPECT_EQ(got, calls);
    }
}

}  // namespace
