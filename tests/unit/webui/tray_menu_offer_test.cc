// Which menu the tray item offers a desktop that draws item menus itself, as the
// backend's tray description changes.

#include "core/reader.h"
#include "tests/unit/core/window_test_support.h"
#include "webui/tray.h"

namespace {

using platform::fake::FakeStatusItem;
using V = std::vector<std::string>;

class TrayMenuOffer : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    tray_reset_for_tests();
  }
  void TearDown() override {
    tray_reset_for_tests();
    FakeDesktopTest::TearDown();
  }
  void feed(const V& lines) {
    for (const std::string& l : lines) reader.handle_line(l);
    desktop.queue.drain();
  }
  FakeStatusItem& tray() { return *desktop.status_items.back(); }
  CommandReader reader;
  WireCapture wire;
};

TEST_F(TrayMenuOffer, OnlyAMenuThatClicksOpenIsOfferedForTheSecondaryClick) {
  struct Case {
    const char* name;
    V lines;
    bool own_menu, secondary_menu;
  };
  const Case cases[] = {
      {"no items", {"TRAYBEGIN", "TRAYEND"}, false, false},
      {"items with click events", {"TRAYBEGIN T\t\t1\t\t1", "ITEM a\tA", "TRAYEND"}, false, true},
      {"items without click events", {"TRAYBEGIN T", "ITEM a\tA", "TRAYEND"}, true, false},
      {"click events again", {"TRAYBEGIN T\t\t1\t\t1", "ITEM a\tA", "TRAYEND"}, false, true},
      {"no items again", {"TRAYBEGIN T\t\t1\t\t1", "TRAYEND"}, false, false},
  };
  for (const Case& c : cases) {
    feed(c.lines);
    ASSERT_EQ(desktop.status_items.size(), 1u) << c.name;
    EXPECT_EQ(tray().menu != nullptr, c.own_menu) << c.name;
    EXPECT_EQ(tray().secondary_menu != nullptr, c.secondary_menu) << c.name;
  }
}

TEST_F(TrayMenuOffer, TheOfferedMenuIsTheOneASecondaryClickOpensAndItsChoicesSendTray) {
  feed({"TRAYBEGIN T\t\t1\t\t1", "ITEM a\tA", "ITEM b\tB", "TRAYEND"});
  ASSERT_NE(tray().secondary_menu, nullptr);
  tray().click(true);
  ASSERT_EQ(tray().popped.size(), 1u);
  EXPECT_EQ(tray().popped[0], tray().secondary_menu);
  ASSERT_TRUE(tray().secondary_chosen);
  tray().secondary_chosen(*tray().secondary_menu->items[1]);
  EXPECT_EQ(wire.lines(), V{"TRAY b"});
}

}  // namespace
