#pragma once
// A dock that records what it was shown and lets a test press the media controls.

#include <set>
#include <string>
#include <vector>

#include "platform/dock.h"

namespace platform::fake {

class FakeDock : public Dock {
 public:
  bool image_loadable(const std::string& path, int* width, int* height) override {
    if (!images.count(path)) return false;
    if (width) *width = image_width;
    if (height) *height = image_height;
    return true;
  }
  void show_tile(const DockTile& tile) override { tiles.push_back(tile); }
  void publish_launcher_entry(const LauncherEntry& e) override { entries.push_back(e); }
  void request_attention(bool critical) override { attentions.push_back(critical); }
  void publish_now_playing(const NowPlaying& np, const std::string& bus_suffix, const std::string& identity,
                           std::function<void(RemoteCommand, double)> on_command) override {
    playing.push_back(np);
    suffix = bus_suffix;
    command = std::move(on_command);
  }

  std::set<std::string> images;  // every one image_width x image_height
  int image_width = 128, image_height = 96;
  std::vector<DockTile> tiles;
  std::vector<LauncherEntry> entries;
  std::vector<bool> attentions;
  std::vector<NowPlaying> playing;
  std::string suffix;
  std::function<void(RemoteCommand, double)> command;
};

}  // namespace platform::fake
