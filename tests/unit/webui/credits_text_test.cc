// The About panel: what it is given, which credits document a bundle's counts, and
// the text a credits document shows on a desktop that shows credits as plain text.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/startup.h"
#include "platform/common/credits_text.h"
#include "webui/menu_bar.h"
#include "window_test_support.h"

namespace {

namespace fs = std::filesystem;

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

class CreditsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = fs::temp_directory_path() / ("quibex-credits-" + std::to_string(::getpid())) / "Demo.app";
    fs::create_directories(res());
  }
  void TearDown() override { fs::remove_all(app_.parent_path()); }
  fs::path res() const { return app_ / "Contents/Resources"; }
  void write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  fs::path app_;
};

TEST_F(CreditsFiles, ABundlesCreditsAreHtmlThenRtfThenRtfd) {
  auto credits = [&] { return read_settings([](const char*) { return nullptr; }, {}, app_.string()).credits_file; };
  EXPECT_EQ(credits(), "");
  fs::create_directories(res() / "Credits.rtfd");
  write(res() / "Credits.rtfd/TXT.rtf", "{\\rtf1 From the package}");
  EXPECT_EQ(credits(), (res() / "Credits.rtfd").string());
  EXPECT_EQ(platform::credits_document_text(credits()), "From the package");
  write(res() / "Credits.rtf", "{\\rtf1 From RTF}");
  EXPECT_EQ(credits(), (res() / "Credits.rtf").string());
  EXPECT_EQ(platform::credits_document_text(credits()), "From RTF");
  write(res() / "Credits.html", "<p>From HTML</p>");
  EXPECT_EQ(credits(), (res() / "Credits.html").string());
  EXPECT_EQ(platform::credits_document_text(credits()), "From HTML");
  EXPECT_EQ(platform::credits_document_text((res() / "Missing.rtf").string()), "");
}

class AboutPanel : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    menu_bars_reset_for_tests();
  }
  void TearDown() override {
    g_app_name = "quibex";
    g_app_version = "0.0.0";
    g_attribution.clear();
    g_credits_file.clear();
    g_about_to_app.store(false);
    menu_bars_reset_for_tests();
    WindowTest::TearDown();
  }
};

TEST_F(AboutPanel, NameVersionAndCreditsAsTheSettingsHaveThem) {
  g_app_name = "Demo";
  g_app_version = "1.2.3";
  g_attribution = "By Ann";
  g_credits_file = "/b/Demo.app/Contents/Resources/Credits.rtf";
  show_about();
  ASSERT_EQ(desktop.abouts.size(), 1u);
  EXPECT_EQ(desktop.abouts[0].name, "Demo");
  EXPECT_EQ(desktop.abouts[0].version, "Version 1.2.3");
  // The desktop shows the document, which takes the place of the text.
  EXPECT_EQ(desktop.abouts[0].credits_file, g_credits_file);
  EXPECT_EQ(desktop.abouts[0].attribution, "By Ann");
  g_about_to_app.store(true);
  show_about();
  EXPECT_EQ(desktop.abouts.size(), 1u);
  EXPECT_EQ(wire.lines(), std::vector<std::string>{"MENU about"});
}

TEST(AboutSettings, AttributionFromTheEnvironmentWhenNonEmptyElseInfoPlist) {
  platform::PlistDict info;
  info.strings["QuibexAttribution"] = "From the bundle";
  struct Case {
    const char* env;
    const char* want;
  } cases[] = {{nullptr, "From the bundle"}, {"", "From the bundle"}, {"From the environment", "From the environment"}};
  for (const Case& c : cases) {
    const char* env = c.env;
    auto lookup = [env](const char* n) -> const char* { return std::string(n) == "QUIBEX_ATTRIBUTION" ? env : nullptr; };
    EXPECT_EQ(read_settings(lookup, info, "").attribution, c.want);
  }
}

}  // namespace
