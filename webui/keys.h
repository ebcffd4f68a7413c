#pragma once
// Key combinations the backend names ("cmd+shift+k"), global hot keys, posted
// key presses, and the first-click policy of the web views.

#include <cstdint>
#include <memory>
#include <string>

#include "core/records.h"
#include "platform/menu.h"

struct Combo {
  bool cmd = false;
  bool ctrl = false;
  bool alt = false;
  bool shift = false;
  bool win = false;  // used as Command
  std::string key;   // canonical name; empty when not valid
  bool valid = false;
};

Combo read_combo(const std::string& text);
std::string canonical_key(const std::string& name);
// The key code of a canonical name; -1 when the table has no such key.
int keycode_for(const std::string& name);

// Lets the desktop ask each web view's first-click flag.
void install_first_mouse_hook();

// Forgets every hot key (tests).
void hotkeys_reset_for_tests();

// HKREG and HKUNREG; KEYSTROKE.
void do_hotkey(void* w, std::unique_ptr<HotkeyReq> record);
void do_keystroke(void* w, std::unique_ptr<KeystrokeReq> record);
