#pragma once
// The tile's progress bar and the media controls' words, as the dock and
// now-playing commands compute them.

#include <memory>
#include <optional>
#include <string>

#include "core/records.h"
#include "platform/dock.h"

// The now-playing JSON's members (text that is no JSON object has none).
platform::NowPlaying parse_now_playing(const std::string& info);
// "MEDIAKEY play" and the like; "MEDIAKEY seek\t83.250" for a position.
std::string media_key_line(platform::RemoteCommand c, double position);
// The launcher entry for a badge text, progress and attention.
platform::LauncherEntry launcher_entry_for(const std::string& badge, double progress, bool urgent);

// The application's desktop id (the identity's application id, else "quibex")
// and the media controls' bus name suffix: "<desktop id>.instance<pid>".
std::string app_desktop_id();
std::string media_bus_suffix();

// Forgets the tile's and the media controls' state; for tests.
void dock_reset_for_tests();
// The start-up icon from QUIBEX_ICON.
void apply_dev_icon();
// GET "debug:icon": the icon set for the task bar, its size, and QUIBEX_ICON.
std::string dock_icon_json();

// BADGE (the label), ATTENTION, PROGRESS, APPICON (the image's path; empty: the
// default icon) and NOWPLAYING.
void do_badge(void* w, std::unique_ptr<std::string> text);
void do_attention(void* w, std::unique_ptr<int> v);
void do_progress(void* w, std::unique_ptr<double> v);
void do_appicon(void* w, std::unique_ptr<std::string> path);
void do_nowplaying(void* w, std::unique_ptr<NowPlayingReq> req);
