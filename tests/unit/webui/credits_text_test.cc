// The About panel: what it is given, and which credits document a bundle's counts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/startup.h"
#include "platform/common/credits_text.h"
#include "tests/unit/core/window_test_support.h"
#include "webui/menu_bar.h"

namespace {

namespace fs = std::filesystem;

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
    settings().app_name = "quibex";
    settings().app_version = "0.0.0";
    settings().attribution.clear();
    settings().credits_file.clear();
    g_about_to_app.store(false);
    menu_bars_reset_for_tests();
    WindowTest::TearDown();
  }
};

TEST_F(AboutPanel, NameVersionAndCreditsAsTheSettingsHaveThem) {
  settings().app_name = "Demo";
  settings().app_version = "1.2.3";
  settings().attribution = "By Ann";
  settings().credits_file = "/b/Demo.app/Contents/Resources/Credits.rtf";
  show_about();
  ASSERT_EQ(desktop.abouts.size(), 1u);
  EXPECT_EQ(desktop.abouts[0].name, "Demo");
  EXPECT_EQ(desktop.abouts[0].version, "Version 1.2.3");
  // The desktop shows the document, which takes the place of the text.
  EXPECT_EQ(desktop.abouts[0].credits_file, settings().credits_file);
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
