// BADGE, ATTENTION, PROGRESS, APPICON and NOWPLAYING.

#include "services/dock_media.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "core/app_identity.h"
#include "base/json_out.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/wire.h"

namespace {

void media_command(platform::RemoteCommand c, double position) { sock_write_line(media_key_line(c, position)); }

std::string g_dock_icon;          // "" = the application's own icon
std::string g_dock_icon_default;  // QUIBEX_ICON's, what an empty APPICON restores
int g_dock_icon_w = 0, g_dock_icon_h = 0, g_default_w = 0, g_default_h = 0;
double g_dock_progress = -1.0;
std::string g_badge;
bool g_media_armed = false;

void publish_now(const platform::NowPlaying& np) {
  if (platform::Dock* d = platform::dock()) d->publish_now_playing(np, media_bus_suffix(), settings().app_name, media_command);
}

void publish_entry(bool urgent) {
  if (platform::Dock* d = platform::dock()) d->publish_launcher_entry(launcher_entry_for(g_badge, g_dock_progress, urgent));
}

void dock_tile_refresh() {
  if (platform::Dock* d = platform::dock()) d->show_tile({g_dock_icon, g_dock_progress, g_badge});
}

}  // namespace

platform::NowPlaying parse_now_playing(const std::string& info) {
  platform::NowPlaying np;
  np.cleared = false;
  const nlohmann::json j = nlohmann::json::parse(info, nullptr, false);
  if (!j.is_object()) return np;
  auto text = [&](const char* k) -> std::optional<std::string> {
    auto it = j.find(k);
    if (it == j.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  auto number = [&](const char* k) -> std::optional<double> {
    auto it = j.find(k);
    if (it == j.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
  };
  np.title = text("title");
  np.artist = text("artist");
  np.album = text("album");
  np.duration = number("duration");
  np.elapsed = number("elapsed");
  if (auto it = j.find("playing"); it != j.end()) {
    if (it->is_boolean()) np.playing = it->get<bool>();
    else if (it->is_number()) np.playing = it->get<double>() != 0;
  }
  return np;
}

std::string media_key_line(platform::RemoteCommand c, double position) {
  switch (c) {
    case platform::RemoteCommand::kPlay: return "MEDIAKEY play";
    case platform::RemoteCommand::kPause: return "MEDIAKEY pause";
    case platform::RemoteCommand::kToggle: return "MEDIAKEY toggle";
    case platform::RemoteCommand::kNext: return "MEDIAKEY next";
    case platform::RemoteCommand::kPrevious: return "MEDIAKEY previous";
    case platform::RemoteCommand::kSeek: return "MEDIAKEY seek\t" + json_fixed(position, 3);
  }
  return "MEDIAKEY play";
}

platform::LauncherEntry launcher_entry_for(const std::string& badge, double progress, bool urgent) {
  platform::LauncherEntry e;
  // Docks show a count: a badge that reads as a whole number is one.
  char* end = nullptr;
  errno = 0;
  const long long n = badge.empty() ? 0 : std::strtoll(badge.c_str(), &end, 10);
  if (!badge.empty() && end && *end == 0 && errno == 0) {
    e.count_visible = true;
    e.count = n;
  }
  if (progress >= 0) {
    e.progress_visible = true;
    e.progress = std::min(progress, 1.0);
  }
  e.urgent = urgent;
  e.app_uri = "application://" + app_desktop_id() + ".desktop";
  return e;
}

// The identity the windows carry, so that a dock matches the tile to them; a
// command-line start from a bundle's executable has none, as its windows.
std::string app_desktop_id() { return settings().app_id.empty() ? "quibex" : settings().app_id; }

std::string media_bus_suffix() { return app_desktop_id() + ".instance" + std::to_string(getpid()); }

void dock_reset_for_tests() {
  g_dock_icon.clear();
  g_dock_icon_default.clear();
  g_dock_icon_w = g_dock_icon_h = g_default_w = g_default_h = 0;
  g_dock_progress = -1.0;
  g_badge.clear();
  g_media_armed = false;
}

void apply_dev_icon() {
  const char* path = std::getenv("QUIBEX_ICON");
  platform::Dock* d = platform::dock();
  if (!path || !*path || !d || !d->image_loadable(path, &g_default_w, &g_default_h)) return;
  g_dock_icon_default = path;
  if (g_dock_icon.empty()) {
    g_dock_icon = path;
    g_dock_icon_w = g_default_w;
    g_dock_icon_h = g_default_h;
  }
  dock_tile_refresh();
}

void do_badge(void*, std::unique_ptr<std::string> text) {
  g_badge = *text;
  publish_entry(false);
  dock_tile_refresh();
}

void do_attention(void*, std::unique_ptr<int> v) {
  if (platform::Dock* d = platform::dock()) d->request_attention(*v != 0);
  publish_entry(true);
}

void do_progress(void*, std::unique_ptr<double> v) {
  g_dock_progress = std::isnan(*v) ? -1.0 : *v;
  publish_entry(false);
  dock_tile_refresh();
}

void do_appicon(void*, std::unique_ptr<std::string> path) {
  if (path->empty()) {
    g_dock_icon = g_dock_icon_default;
    g_dock_icon_w = g_default_w;
    g_dock_icon_h = g_default_h;
  } else {
    platform::Dock* d = platform::dock();
    int w = 0, h = 0;
    if (!d || !d->image_loadable(*path, &w, &h)) return;  // unreadable: nothing changes
    g_dock_icon = *path;
    g_dock_icon_w = w;
    g_dock_icon_h = h;
  }
  dock_tile_refresh();
}

void do_nowplaying(void*, std::unique_ptr<NowPlayingReq> req) {
  platform::Dock* d = platform::dock();
  if (!d) return;
  if (req->info.empty() || req->info == "clear") {
    // Clearing keeps the media controls' entry (and its commands), stopped.
    if (g_media_armed) publish_now(platform::NowPlaying{});
    return;
  }
  g_media_armed = true;
  publish_now(parse_now_playing(req->info));
}

std::string dock_icon_json() {
  const char* env = std::getenv("QUIBEX_ICON");
  const bool set = !g_dock_icon.empty();
  return JsonObject()
      .boolean("set", set)
      .raw("width", std::to_string(set ? g_dock_icon_w : 0))
      .raw("height", std::to_string(set ? g_dock_icon_h : 0))
      .boolean("hasDevDefault", !g_dock_icon_default.empty())
      .text("env", env ? env : "")
      .str();
}
