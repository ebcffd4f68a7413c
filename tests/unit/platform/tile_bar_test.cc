// The tile's progress bar: where its track and fill go for a progress and size.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/common/tile_bar.h"

namespace {

TEST(TileBar, Geometry) {
  struct Case {
    double size, progress;
    bool bar, fill;
    double fill_w;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {128, -1, false, false, 0}, {128, nan, false, false, 0},
      {128, 0, true, false, 0},          // the track, no fill
      {128, 0.001, true, false, 0},      // narrower than half a point
      {128, 0.5, true, true, 0.5 * (128 - 2 * 0.09 * 128 - 4)},
      {128, 1.7, true, true, 128 - 2 * 0.09 * 128 - 4},  // a full bar
      {16, 0.8, true, false, 0},         // too small for a fill: no negative height
      {0, 0.5, true, false, 0},
  };
  for (const Case& c : cases) {
    auto bar = platform::tile_progress_bar(c.size, c.size, c.progress);
    ASSERT_EQ(bar.has_value(), c.bar) << c.size << " " << c.progress;
    if (!bar) continue;
    EXPECT_NEAR(bar->track.h, 0.12 * c.size, 1e-9);
    EXPECT_NEAR(bar->track.y + bar->track.h, c.size - 0.55 * 0.12 * c.size, 1e-9);  // y down
    EXPECT_NEAR(bar->track.radius, bar->track.h / 2, 1e-9);
    ASSERT_EQ(bar->fill.has_value(), c.fill) << c.size << " " << c.progress;
    if (bar->fill) {
      EXPECT_NEAR(bar->fill->w, c.fill_w, 1e-9);
      EXPECT_GE(bar->fill->h, 0);
      EXPECT_NEAR(bar->fill->radius, std::min(bar->fill->w, bar->fill->h) / 2, 1e-9);
    }
  }
}

}  // namespace
