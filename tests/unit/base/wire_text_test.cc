// Escaping, field splitting, JSON string literals and UTF-8 repair.

#include <gtest/gtest.h>

#include <random>

#include "base/json_out.h"
#include "base/utf8.h"
#include "base/wire_text.h"

namespace {

using V = std::vector<std::string>;

TEST(WireText, Unescape) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a\\", "a\\"},          // a trailing backslash stays
      {"\\q", "q"},            // unknown escapes give the letter
      {"\\\\n", "\\n"},        // an escaped backslash, then a plain n
      {"\\n", "\n"},
      {"\\t\\r", "\t\r"},
      {"", ""},
      {"plain text", "plain text"},
      {"\\\\\\", "\\\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(wire_unescape(c.in), c.out) << c.in;
}

TEST(WireText, EscapeLeavesNoRawBreaksOrTabs) {
  std::string s = "a\\b\tc\nd\re";
  std::string e = wire_escape(s);
  EXPECT_EQ(e, "a\\\\b\\tc\\nd\\re");
  EXPECT_EQ(e.find_first_of("\t\n\r"), std::string::npos);
}

TEST(WireText, EscapeRoundTripsEveryByte) {
  std::mt19937 rng(7);
  for (int n = 0; n < 2000; ++n) {
    std::string s(rng() % 40, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 256);
    ASSERT_EQ(wire_unescape(wire_escape(s)), s);
  }
}

TEST(WireText, SplitTabs) {
  struct Case {
    std::string in;
    V out;
  } cases[] = {
      {"", {""}},
      {"\t\t", {"", "", ""}},
      {"a\t", {"a", ""}},
      {"\ta", {"", "a"}},
      {"a b\tc", {"a b", "c"}},
      {"a\\tb", {"a\\tb"}},  // escaped tabs are not separators
  };
  for (const Case& c : cases) EXPECT_EQ(split_tabs(c.in), c.out) << c.in;
}

// The view splitter cuts as split_tabs does, also when its vector held more
// fields from the line before.
TEST(WireText, SplitTabsIntoViewsMatchesSplitTabs) {
  std::vector<std::string_view> views;
  for (std::string in : {"a\tb\tc\t\td", "", "\t\t", "a\t", "\ta", "a b\tc", "a\\tb", "x"}) {
    split_tabs_into(in, views);
    EXPECT_EQ(V(views.begin(), views.end()), split_tabs(in)) << in;
    for (std::string_view v : views) EXPECT_TRUE(v.data() >= in.data() && v.data() + v.size() <= in.data() + in.size());
  }
}

TEST(WireText, SplitCommas) {
  using Views = std::vector<std::string_view>;
  EXPECT_EQ(split_commas(""), Views{""});
  EXPECT_EQ(split_commas(",a,,b\t,"), (Views{"", "a", "", "b\t", ""}));
  EXPECT_EQ(split_commas("peak, 1000"), (Views{"peak", " 1000"}));  // spaces are kept
}

TEST(WireText, JsonEscape) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {std::string(1, '\x01'), "\"\\u0001\""},
      {std::string(1, '\0'), "\"\\u0000\""},
      {"\b\x1f", "\"\\u0008\\u001f\""},
      {"\x7f", "\"\x7f\""},
      {"h\xc3\xa9llo \xe2\x82\xac", "\"h\xc3\xa9llo \xe2\x82\xac\""},
      {"\"", "\"\\\"\""},
      {"a/b\\c", "\"a/b\\\\c\""},
      {"\t\n\r", "\"\\t\\n\\r\""},
      {"\xff\xfe", "\"\xff\xfe\""},  // not validated
  };
  for (const Case& c : cases) EXPECT_EQ(json_escape(c.in), c.out);
}

}  // namespace

namespace {

TEST(WireText, Utf8SanitizeReplacesEachIllFormedSubpartOnce) {
  const std::string R = "\xef\xbf\xbd";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"a\xffz", "a" + R + "z"},                  // a byte that never starts a character
      {"\xc3", R},                                // cut off at the end
      {"\xe2\x82", R},                            // one replacement for the whole cut-off character
      {"\xe2\x82z", R + "z"},
      {"\xc0\xaf", R + R},                        // overlong forms
      {"\xed\xa0\x80", R + R + R},                // a surrogate
      {"\xf4\x90\x80\x80", R + R + R + R},        // past U+10FFFF
      {"\x80\x80", R + R},                        // stray continuation bytes
      {std::string("nul\0in", 6), std::string("nul\0in", 6)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8_sanitize(c.in), c.out) << json_escape(c.in);
    EXPECT_EQ(utf8_valid(c.in), c.in == c.out) << json_escape(c.in);
    EXPECT_TRUE(utf8_valid(utf8_sanitize(c.in)));
  }
}

TEST(WireText, Utf8CutNeverSplitsACharacter) {
  const std::string s = "a\xc3\xa9\xe2\x82\xac";  // 1, 2 and 3 bytes
  const size_t want[] = {0, 1, 1, 3, 3, 3, 6, 6, 6};
  for (size_t max = 0; max < std::size(want); ++max) EXPECT_EQ(utf8_cut(s, max), want[max]) << max;
  EXPECT_EQ(utf8_cut("\x80\x80", 1), 0u);  // nothing to keep before stray continuation bytes
}

TEST(WireText, Utf8SanitizeAlwaysGivesValidText) {
  std::mt19937 rng(11);
  for (int n = 0; n < 5000; ++n) {
    std::string s(rng() % 24, '\0');
    for (char& c : s) c = static_cast<char>(0x7f + rng() % 0x81);
    EXPECT_TRUE(utf8_valid(utf8_sanitize(s)));
  }
}

}  // namespace

namespace {

// The helpers go through text eight bytes at a time; every edge case below is put
// at each offset around two word boundaries, between runs of plain text.
template <class F>
void at_every_offset(std::string_view piece, F check) {
  for (size_t before = 0; before <= 17; ++before)
    for (size_t after : {size_t(0), size_t(1), size_t(7), size_t(9)})
      check(std::string(before, 'a') + std::string(piece) + std::string(after, 'b'), std::string(before, 'a'),
            std::string(after, 'b'));
}

TEST(WireText, EscapesAtEveryOffset) {
  struct Case {
    std::string in, wire, json;
  } cases[] = {
      {"\n", "\\n", "\\n"},     {"\\", "\\\\", "\\\\"},          {"\t\r", "\\t\\r", "\\t\\r"},
      {"\"", "\"", "\\\""},     {"\x01", "\x01", "\\u0001"},     {"\x1f\x7f", "\x1f\x7f", "\\u001f\x7f"},
      {"\x0e", "\x0e", "\\u000e"},  // just past CR: no wire escape
  };
  for (const Case& c : cases)
    at_every_offset(c.in, [&](const std::string& s, const std::string& a, const std::string& b) {
      EXPECT_EQ(wire_escape(s), a + c.wire + b) << json_escape(s);
      EXPECT_EQ(wire_unescape(a + c.wire + b), s) << json_escape(s);
      EXPECT_EQ(json_escape(s), "\"" + a + c.json + b + "\"") << json_escape(s);
      EXPECT_EQ(json_escaped_size(s), json_escape(s).size());
    });
  for (size_t before = 0; before <= 17; ++before) {
    const std::string s = std::string(before, 'a') + "\\";
    EXPECT_EQ(wire_unescape(s), s);  // a trailing backslash stays
  }
}

TEST(WireText, Utf8AtEveryOffset) {
  const std::string R = "\xef\xbf\xbd";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"\xe2\x82\xac", "\xe2\x82\xac"},          {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {"\xff", R},                               {"\xc3\xa9\x80", "\xc3\xa9" + R},
      {"\xf0\x9f\x98", R},                       {"\xe2\x28\xa1", R + "(" + R},
  };
  for (const Case& c : cases)
    at_every_offset(c.in, [&](const std::string& s, const std::string& a, const std::string& b) {
      EXPECT_EQ(utf8_sanitize(s), a + c.out + b) << json_escape(s);
      EXPECT_EQ(utf8_valid(s), c.in == c.out) << json_escape(s);
      std::string in_place = s;
      utf8_sanitize_in_place(in_place);
      EXPECT_EQ(in_place, a + c.out + b);
    });
}

}  // namespace
