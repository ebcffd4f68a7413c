#include "platform/common/drag_layout.h"

#include <algorithm>

namespace platform {

std::vector<DragItem> layout_drag_items(const std::vector<std::string>& paths, std::optional<Size> icon) {
  std::vector<DragItem> items;
  double offset = 0;
  for (const std::string& path : paths) {
    if (path.empty()) continue;  // no file to name
    DragItem item;
    item.path = path;
    if (items.size() >= kDragImageItems) {
      item.drawn = false;
      item.w = item.h = 0;
      items.push_back(item);
      continue;
    }
    item.custom_icon = icon.has_value() && icon->w > 0 && icon->h > 0;
    if (item.custom_icon) {
      item.w = icon->w;
      item.h = icon->h;
    }
    const double larger = std::max(item.w, item.h);
    if (larger > 160) {
      item.w *= 160 / larger;
      item.h *= 160 / larger;
    }
    item.offset = offset;
    items.push_back(item);
    icon.reset();  // only the first item shows the icon
    offset += 4;
  }
  return items;
}

Size drag_image_size(const std::vector<DragItem>& items) {
  Size s;
  for (const DragItem& it : items) {
    if (!it.drawn) continue;
    s.w = std::max(s.w, it.offset + it.w);
    s.h = std::max(s.h, it.offset + it.h);
  }
  return s;
}

}  // namespace platform
