#pragma once
// What the desktop tells about the machine and the other applications on it: the
// power source, the Wi-Fi link, input idle time, the selected text, other
// applications' windows, the pointer and the screens' names. Rectangles and
// points are in the host's coordinates (see screens.h).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/screens.h"

namespace platform {

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// The machine's first power source (a battery or a UPS), as the power daemon has it.
struct PowerSource {
  double current = 0;  // charge now, on the scale of max
  double max = 0;      // charge when full
  bool charging = false;
  bool on_ac = false;  // the machine runs on external power
  long long minutes_to_empty = -1;  // -1: not known (still being estimated)
  long long minutes_to_full = -1;
};

// The Wi-Fi interface while its radio is on.
struct WifiLink {
  std::optional<std::string> ssid;   // none while not associated
  std::optional<std::string> bssid;
  std::optional<long> rssi;   // dBm; none when the desktop does not say
  std::optional<long> noise;  // dBm; likewise
  double tx_rate = 0;         // Mbit/s
};

// An application as the window system knows it. pid 0: not known.
struct AppIdentity {
  long pid = 0;
  std::optional<std::string> name;
  std::optional<std::string> bundle_id;  // the application's reverse-DNS id
};

// One window of another application: its outer frame (none when it cannot be
// read, e.g. it went away meanwhile) and its title.
struct AppWindow {
  std::optional<Rect> frame;
  std::string title;
};

// A running application with windows, in the order the window system lists them.
struct RunningApp {
  AppIdentity app;
  bool regular = true;  // shows in the task bar (not a panel, dock or background helper)
  std::vector<AppWindow> windows;
};

// A window on screen, as the stacking order lists it.
struct OnscreenWindow {
  long pid = 0;               // 0: owner not known
  bool normal_layer = true;   // neither kept above or below, nor a dock or desktop
  std::optional<Rect> frame;  // outer frame
};

// What the screens list leaves out: a stable identifier, a name for people, and
// whether the screen is built into the machine.
struct ScreenDetails {
  std::string uid;  // "" when the screen has none
  std::string name;
  bool internal = false;
};

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // Each calls done exactly once on the main thread, at once or later; none when
  // the machine or the desktop has no such thing (or its service is missing).
  virtual void power_source(std::function<void(std::optional<PowerSource>)> done) = 0;
  virtual void wifi(std::function<void(std::optional<WifiLink>)> done) = 0;
  virtual void selected_text(std::function<void(std::optional<std::string>)> done) = 0;

  // Seconds since the last input event of any kind; none when the desktop does not say.
  virtual std::optional<double> idle_seconds() = 0;
  // The application that owns the focused window; none when there is none.
  virtual std::optional<AppIdentity> frontmost_app() = 0;
  // The applications with windows; none when the window system keeps no such list.
  virtual std::optional<std::vector<RunningApp>> running_apps() = 0;
  // The windows on screen, front to back; none when the window system keeps no such list.
  virtual std::optional<std::vector<OnscreenWindow>> onscreen_windows() = 0;
  // Where the pointer is; none when there is no pointer.
  virtual std::optional<Point> mouse_location() = 0;
  virtual ScreenDetails screen_details(std::uint32_t display_id) = 0;
};

// The desktop's system information; null until a desktop installs one.
SystemInfo* system_info();
void install_system_info(SystemInfo* info);

}  // namespace platform
