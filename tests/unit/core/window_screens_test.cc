// Screens, positions in points and pixels, and the rescue of off-screen windows.

#include "window_test_support.h"

namespace {

const std::vector<ScreenInfo> kTwo = {laptop_screen(), monitor_screen()};

TEST(ScreenForRect, TheLargestOverlapWinsAndTheFirstOfEqualsWins) {
  struct Case {
    const char* what;
    Rect rect;
    std::uint32_t want;  // 0 = none
  } cases[] = {
      {"inside the first", {100, 100, 200, 200}, 70},
      {"mostly on the second", {1400, 100, 200, 200}, 71},
      {"straddling evenly", {1340, 100, 200, 200}, 70},
      {"touching an edge only", {-200, 100, 200, 200}, 0},
      {"nowhere", {9000, 9000, 10, 10}, 0},
      {"empty", {100, 100, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(screen_display_id(screen_for_rect(c.rect, kTwo)), c.want);
  }
}

TEST(RescuedFrame, OnlyWindowsShowingLessThan24By24PointsMove) {
  struct Case {
    const char* what;
    Rect frame;
    std::optional<Rect> want;
  } cases[] = {
      {"on screen", {100, 100, 400, 300}, std::nullopt},
      {"a 24-point strip still shows", {-376, 100, 400, 300}, std::nullopt},
      {"a 23-point strip is not enough", {-377, 100, 400, 300}, Rect{0, 100, 400, 300}},
      {"under the top panel only", {100, 880, 400, 300}, Rect{100, 576, 400, 300}},
      {"wholly left", {-1000, 100, 400, 300}, Rect{0, 100, 400, 300}},
      {"wholly below, bottom edge on the screen's", {100, -2000, 400, 300}, Rect{100, 0, 400, 300}},
      {"wider than the nearest screen: left edges aligned", {5000, 100, 2500, 300}, Rect{1440, 100, 2500, 300}},
      // Taller than the screen: the top edge comes onto the screen from either side.
      {"taller and wholly below", {100, -3000, 400, 1000}, Rect{100, -124, 400, 1000}},
      {"taller and wholly above", {100, 2000, 400, 1000}, Rect{100, -124, 400, 1000}},
      {"taller, off to the side, top edge on screen: only x changes", {-2000, -200, 400, 1000}, Rect{0, -200, 400, 1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(rescued_frame(c.frame, kTwo), c.want);
  }
  EXPECT_EQ(rescued_frame({-5000, 0, 10, 10}, {}), std::nullopt) << "no screens, nothing to move to";
}

TEST(RescuedFrame, TheNearestScreenTakesTheWindowAndTheFirstWinsATie) {
  // Far right of the second screen: it moves there, not onto the first.
  EXPECT_EQ(rescued_frame({8000, 100, 400, 300}, kTwo), (Rect{2960, 100, 400, 300}));
  ScreenInfo left{1, {0, 0, 100, 100}, {0, 0, 100, 100}, 1}, right{2, {300, 0, 100, 100}, {300, 0, 100, 100}, 1};
  // Centred between the two.
  EXPECT_EQ(rescued_frame({175, 500, 50, 50}, {left, right}), (Rect{50, 50, 50, 50}));
}

class Positions : public WindowTest {};

TEST_F(Positions, TopLeftCornersInPointsAndPixelsLandOnTheRightScreen) {
  FakeWindow* w2 = open("w2");
  const double h = w2->frame().h;
  struct Case {
    std::string op;
    double x, top;  // the frame's top-left corner afterwards (host coordinates)
  } cases[] = {
      {"pos 0 0", 0, 900},
      {"pos 30 40", 30, 860},
      {"spos 71 100 50", 1540, 850},
      {"spos 71 100 50 pt", 1540, 850},
      {"spos 70 100 50 px", 50, 875},  // scale 2: half as many points
      {"spos 71 100 50 px", 1540, 850},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    w2->set_frame({500, 500, w2->frame().w, h});
    winop("w2", c.op);
    EXPECT_EQ(w2->frame().x, c.x);
    EXPECT_EQ(w2->frame().y + w2->frame().h, c.top);
    EXPECT_EQ(w2->frame().h, h) << "a move keeps the size";
  }
}

TEST_F(Positions, MalformedPositionsLeaveTheWindowWhereItIs) {
  FakeWindow* w2 = open("w2");
  const Rect before = w2->frame();
  for (const char* op : {"pos 10", "pos x y", "spos 99 10 10", "spos -1 10 10", "spos 70 10", "spos 70 nan 10",
                         "spos 70 10 inf", "pxsize 0 100", "pxsize -5 100", "pxsize 100", "minsize 0x100",
                         "minsize 100", "fsscreen 99", "fsscreen -70"}) {
    SCOPED_TRACE(op);
    winop("w2", op);
    EXPECT_EQ(w2->frame(), before);
    EXPECT_FALSE(w2->style_mask() & platform::kStyleFullScreen);
  }
}

TEST_F(Positions, PixelSizesUseTheScaleOfTheWindowsScreen) {
  FakeWindow* w2 = open("w2");
  w2->set_frame({100, 100, 600, 428});
  winop("w2", "pxsize 800 600");
  EXPECT_EQ(content_of(w2).w, 400);
  EXPECT_EQ(content_of(w2).h, 300);
  EXPECT_EQ(w2->frame().y + w2->frame().h, 528) << "top edge kept";
  w2->set_frame({2000, 100, 600, 428});
  winop("w2", "pxsize 800 600");
  EXPECT_EQ(content_of(w2).w, 800);
  EXPECT_EQ(content_of(w2).h, 600);
}

TEST_F(Positions, AWindowOpenedAt00HasItsTopLeftCornerAtTheFirstScreensTopLeft) {
  auto r = std::make_unique<WinOpenReq>();
  r->id = "w2";
  r->hasPos = true;
  do_winopen(w(), std::move(r));
  EXPECT_EQ(win("w2")->frame().x, 0);
  EXPECT_EQ(win("w2")->frame().y + win("w2")->frame().h, 900);
}

TEST_F(Positions, OnscreenRescuesOnlyWhenAsked) {
  FakeWindow* w2 = open("w2");
  w2->set_frame({-3000, 100, 400, 300});
  winop("w2", "onscreen");
  EXPECT_EQ(w2->frame(), (Rect{0, 100, 400, 300}));
}

}  // namespace
