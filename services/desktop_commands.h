#pragma once
// What the desktop commands compute before they reach the desktop: how SHELL
// reads its argument, and the login item's autostart entry.

#include <memory>
#include <string>

#include "core/records.h"
#include "services/clip_format.h"

struct ShellTarget {
  bool has_scheme = false;  // a URL with a scheme (file: included)
  bool file_url = false;
  std::string path;         // the file's path: the argument with "~" expanded, or the file URL's path
};

// The user's home folder ($HOME, else the password database's).
std::string home_dir();
ShellTarget parse_shell_arg(const std::string& arg, const std::string& home);

// The XDG autostart entry that starts the application at log-in.
std::string autostart_entry(const std::string& name, const std::string& executable);
// Where it lives: $XDG_CONFIG_HOME/autostart/<application id>.desktop.
std::string autostart_path(const std::string& app_id);
// How long a SOUND waits for the desktop to start the sound before it answers
// {"ok":false}: a sound server that stops answering must not leave it pending.
inline constexpr double kSoundAnswerLimitMs = 3000;
// Forgets the power inhibition held (the desktop that held it went away); for tests.
void power_reset_for_tests();

// SHELL, LOGIN, POWER, SOUND, SPOTLIGHT, SHARE and QUICKLOOK.
void do_shell(void* w, std::unique_ptr<ShellReq> req);
void do_login(void* w, std::unique_ptr<LoginReq> req);
void do_power(void* w, std::unique_ptr<PowerReq> req);
void do_sound(void* w, std::unique_ptr<SoundReq> req);
void do_spotlight(void* w, std::unique_ptr<SpotlightReq> req);
void do_share(void* w, std::unique_ptr<ShareReq> req);
void do_quicklook(void* w, std::unique_ptr<QLReq> req);
