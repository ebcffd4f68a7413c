#pragma once
// The screens, in the host's coordinates: points, y growing upward from the bottom
// edge of the first screen, which is the primary monitor and listed first.

#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

struct Rect {
  double x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Rect&) const = default;
};

struct ScreenInfo {
  std::uint32_t display_id = 0;  // stable for the life of the monitor
  Rect frame;                    // whole screen
  Rect visible_frame;            // without panels and docks
  double scale = 1.0;            // device pixels per point
  bool operator==(const ScreenInfo&) const = default;
};

class Screens {
 public:
  virtual ~Screens() = default;
  // First element = the reference screen; empty only when no monitor is attached.
  virtual std::vector<ScreenInfo> list() = 0;
  // Called on the main thread whenever monitors are added, removed or changed.
  virtual void set_change_callback(std::function<void()> cb) = 0;
};

}  // namespace platform
