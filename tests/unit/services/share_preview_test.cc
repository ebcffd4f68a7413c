// SHARE and QUICKLOOK: what reaches the desktop, and what never does.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/records.h"
#include "platform/fake/fake_desktop_shell.h"
#include "services/desktop_commands.h"
#include "tests/unit/core/window_test_support.h"

namespace {

class SharePreviewTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    platform::install_desktop_shell(&shell);
  }
  void TearDown() override {
    platform::install_desktop_shell(nullptr);
    WindowTest::TearDown();
  }
  void share(const std::string& win, const std::string& text, const std::string& url,
             std::vector<std::string> files = {}) {
    auto r = std::make_unique<ShareReq>();
    r->window = win;
    r->text = text;
    r->url = url;
    r->files = std::move(files);
    r->x = 12;
    r->y = 34;
    do_share(w(), std::move(r));
  }
  platform::fake::FakeDesktopShell shell;
};

TEST_F(SharePreviewTest, ShareOffersTheItemsOverTheWindowsView) {
  share("main", "hello", "https://example.com", {"/tmp/a b.txt"});
  share("main", "", "not a url", {});           // nothing left to offer
  share("main", "", "", {});                    // nothing at all
  share("nosuchwindow", "hi", "", {});          // no such window
  share("main", "", "mailto:x@y.z", {});
  ASSERT_EQ(shell.shares.size(), 2u);
  EXPECT_EQ(shell.shares[0].view, main_view());
  EXPECT_EQ(shell.shares[0].items, (platform::ShareItems{"hello", "https://example.com", {"/tmp/a b.txt"}}));
  EXPECT_EQ(shell.shares[0].x, 12);
  EXPECT_EQ(shell.shares[0].y, 34);
  EXPECT_EQ(shell.shares[1].items, (platform::ShareItems{"", "mailto:x@y.z", {}}));
  EXPECT_TRUE(wire.lines().empty());  // no reply
}

TEST_F(SharePreviewTest, QuickLookShowsAndCloses) {
  do_quicklook(nullptr, std::make_unique<QLReq>(QLReq{{"/tmp/a.png", "/tmp/b.txt"}}));
  do_quicklook(nullptr, std::make_unique<QLReq>());
  EXPECT_EQ(shell.previews, (std::vector<std::vector<std::string>>{{"/tmp/a.png", "/tmp/b.txt"}, {}}));
  EXPECT_TRUE(wire.lines().empty());
}

}  // namespace
