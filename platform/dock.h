#pragma once
// The application's tile where the desktop has one (a dock or task bar entry and
// the windows' icon), and its entry in the desktop's media controls.

#include <functional>
#include <optional>
#include <string>

namespace platform {

// What the tile shows.
struct DockTile {
  std::string icon;       // an image file; "" = the application's own icon
  double progress = -1;   // below 0 (or not a number): no bar
  std::string badge;      // "" = none
  bool operator==(const DockTile&) const = default;
};

// The launcher entry's properties as docks read them.
struct LauncherEntry {
  std::string app_uri;  // "application://<desktop id>.desktop"
  bool count_visible = false;
  long long count = 0;
  bool progress_visible = false;
  double progress = 0;  // 0..1
  bool urgent = false;  // sent only when true: the dock clears it as the user comes
  bool operator==(const LauncherEntry&) const = default;
};

struct NowPlaying {
  bool cleared = true;  // nothing playing: the stopped state
  std::optional<std::string> title, artist, album;
  std::optional<double> duration, elapsed;  // seconds
  bool playing = false;
  bool operator==(const NowPlaying&) const = default;
};

// Commands that come back from the desktop's media controls.
enum class RemoteCommand { kPlay, kPause, kToggle, kNext, kPrevious, kSeek };

class Dock {
 public:
  virtual ~Dock() = default;
  // Whether the file is an image the desktop can load; its size in pixels when so.
  virtual bool image_loadable(const std::string& path, int* width = nullptr, int* height = nullptr) = 0;
  // Shows the tile on every window's icon, drawn over the icon as it is (the
  // bar as platform/common/tile_bar.h lays it out).
  virtual void show_tile(const DockTile& tile) = 0;
  virtual void publish_launcher_entry(const LauncherEntry& entry) = 0;
  // Asks for the user's attention on every window; critical until they come.
  virtual void request_attention(bool critical) = 0;

  // Publishes what is playing; the first call makes the media-controls entry,
  // whose commands go to on_command from then on (position: seconds, for kSeek).
  // bus_suffix: what follows "org.mpris.MediaPlayer2."; identity: the player's name.
  virtual void publish_now_playing(const NowPlaying& np, const std::string& bus_suffix, const std::string& identity,
                                   std::function<void(RemoteCommand, double position)> on_command) = 0;
};

Dock* dock();
void install_dock(Dock* d);

}  // namespace platform
