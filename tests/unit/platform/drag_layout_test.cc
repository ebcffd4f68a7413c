// The drag image of a file drag: which items it draws, where and how large.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/common/drag_layout.h"

namespace {

using platform::DragItem;
using platform::Size;

TEST(DragItems, TheIconShowsOnTheFirstItemOnlyAndItemsStepBy4Points) {
  EXPECT_EQ(platform::layout_drag_items({"/a", "/b", "/c"}, Size{64, 48}),
            (std::vector<DragItem>{{"/a", true, 64, 48, 0}, {"/b", false, 32, 32, 4}, {"/c", false, 32, 32, 8}}));
  EXPECT_EQ(platform::layout_drag_items({"/a"}, Size{320, 200}), (std::vector<DragItem>{{"/a", true, 160, 100, 0}}))
      << "no side beyond 160";
  EXPECT_EQ(platform::layout_drag_items({"/a", "/b"}, std::nullopt),
            (std::vector<DragItem>{{"/a", false, 32, 32, 0}, {"/b", false, 32, 32, 4}}));
  EXPECT_EQ(platform::layout_drag_items({"", "/b"}, Size{40, 40}), (std::vector<DragItem>{{"/b", true, 40, 40, 0}}))
      << "a path that names no file takes neither the icon nor a place";
}

}  // namespace
