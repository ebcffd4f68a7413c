#include "platform/common/tile_bar.h"

#include <algorithm>

namespace platform {

std::optional<TileBar> tile_progress_bar(double W, double H, double progress) {
  if (!(progress >= 0)) return std::nullopt;  // below 0, or not a number
  const double p = std::min(progress, 1.0);
  const double h = 0.12 * H, inset = 0.09 * W;
  TileBar bar;
  // The track sits 0.55 of its height above the bottom edge.
  bar.track = {inset, H - 0.55 * h - h, W - 2 * inset, h, h / 2};
  // Inset by 2 points, never below nothing: a small tile has no room for a fill.
  TileRect fill{bar.track.x + 2, bar.track.y + 2, std::max(0.0, bar.track.w - 4), std::max(0.0, bar.track.h - 4), 0};
  fill.w *= p;
  fill.radius = std::min(fill.w, fill.h) / 2;
  if (fill.w > 0.5 && fill.h > 0) bar.fill = fill;
  return bar;
}

}  // namespace platform
