#pragma once
// Where a tile's progress bar goes: the track and its fill, for the desktops that
// draw the tile themselves.

#include <optional>

namespace platform {

// A rounded rectangle in a tile of W x H, y down from the top-left.
struct TileRect {
  double x = 0, y = 0, w = 0, h = 0, radius = 0;
  bool operator==(const TileRect&) const = default;
};
struct TileBar {
  TileRect track;
  std::optional<TileRect> fill;  // none when narrower than half a point
};
// The progress bar of a tile: none for a progress below 0 or not a number.
std::optional<TileBar> tile_progress_bar(double W, double H, double progress);

}  // namespace platform
