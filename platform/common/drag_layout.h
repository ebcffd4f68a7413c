#pragma once
// The drag image of a file drag out of a window: which files it draws, where and
// how large, for the desktops that draw it themselves.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform {

// One file of a drag out of a window. Every file travels with the drag; the first
// few are drawn, stacked: item i is drawn offset by (offset, offset) points from the
// first, whose centre is under the pointer.
struct DragItem {
  std::string path;
  bool custom_icon = false;  // the drag's icon image, else the file's own icon
  double w = 32, h = 32;     // 0 x 0 for an item that is not drawn
  double offset = 0;
  bool drawn = true;
  bool operator==(const DragItem&) const = default;
};

// The drag image draws at most this many items, so its size stays bounded
// however many files a drag carries.
inline constexpr std::size_t kDragImageItems = 8;

// Lays out the items of a file drag: the icon (when one was loaded, of that size)
// shows on the first item only; other items use the file's icon at 32 x 32; no
// side exceeds 160 points; each item is 4 points further along both axes; items
// past kDragImageItems are carried but not drawn.
std::vector<DragItem> layout_drag_items(const std::vector<std::string>& paths, std::optional<Size> icon);
// The size of the image that holds the drawn items.
Size drag_image_size(const std::vector<DragItem>& items);

}  // namespace platform
