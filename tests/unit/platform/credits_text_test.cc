// The text a credits document shows on a desktop that shows credits as plain text.

#include <gtest/gtest.h>

#include "platform/common/credits_text.h"

namespace {

TEST(CreditsText, HtmlReadsAsText) {
  struct Case {
    const char* html;
    const char* text;
  } cases[] = {
      {"<p>Made by <b>Ann</b> &amp; Bob</p>", "Made by Ann & Bob"},
      // Blocks apart by a blank line, a <br> by a line break.
      {"<h1>Credits</h1><p>One</p><p>Two<br>Three</p>", "Credits\n\nOne\n\nTwo\nThree"},
      {"<style>p{color:red}</style><script>var a = '<p>';</script>Text", "Text"},
      {"<!-- <p>hidden</p> -->shown", "shown"},
      {"  lots\n\tof   space  ", "lots of space"},
      {"&copy; 2024 &#8212; &#x41;&lt;&gt;&quot;&nbsp;x", "\xc2\xa9 2024 \xe2\x80\x94 A<>\" x"},
      {"&unknown; &#xZZ; 5 &", "&unknown; &#xZZ; 5 &"},
      {"Gr\xc3\xbc\xc3\x9f" "e", "Gr\xc3\xbc\xc3\x9f" "e"},
      {"<p>unclosed <b", "unclosed"},
      {"<script>never closed", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::html_text(c.html), c.text) << c.html;
}

TEST(CreditsText, RtfReadsAsText) {
  // What a desktop word processor writes for two short paragraphs.
  const char* saved =
      "{\\rtf1\\ansi\\ansicpg1252\\cocoartf2639\n"
      "\\cocoatextscaling0\\cocoaplatform0{\\fonttbl\\f0\\fswiss\\fcharset0 Helvetica;}\n"
      "{\\colortbl;\\red255\\green255\\blue255;}\n"
      "{\\*\\expandedcolortbl;;}\n"
      "\\paperw11900\\paperh16840\\margl1440\\margr1440\\vieww11520\\viewh8400\\viewkind0\n"
      "\\pard\\tx566\\tx1133\\pardirnatural\\partightenfactor0\n\n"
      "\\f0\\fs24 \\cf0 Made by Ann \\'96 caf\\'e9\\\n"
      "With thanks to \\u8364 ?everyone\\par\n"
      "}";
  EXPECT_EQ(platform::rtf_text(saved), "Made by Ann \xe2\x80\x93 caf\xc3\xa9\nWith thanks to \xe2\x82\xac" "everyone");
  struct Case {
    const char* rtf;
    const char* text;
  } cases[] = {
      {"{\\rtf1 a\\{b\\}c\\\\d}", "a{b}c\\d"},
      {"{\\rtf1 {\\*\\generator Writer;}text}", "text"},
      {"{\\rtf1 {\\info{\\title T}}body\\tab x}", "body\tx"},
      {"{\\rtf1\\uc2 \\u-10179\\'3f\\'3f\\u-8704 ??ok}", "\xf0\x9f\x98\x80ok"},  // a pair of surrogates
      {"{\\rtf1 \\u233\\'e9 \\ldblquote q\\rdblquote }", "\xc3\xa9 \xe2\x80\x9cq\xe2\x80\x9d"},
      {"{\\rtf1 cut short \\'4", "cut short"},
      {"}}}{\\rtf1 x", "x"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::rtf_text(c.rtf), c.text) << c.rtf;
}

}  // namespace
