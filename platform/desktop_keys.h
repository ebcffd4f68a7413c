#pragma once
// Keys beyond the host's own windows: hot keys the desktop reports while any
// application is active, and key presses posted to the desktop as if typed.
// Keys travel in the host's vocabulary: the key codes of the host's key table
// (an ANSI layout's virtual codes) and its modifier bits; the desktop layer
// translates them at the last step.

#include <cstdint>
#include <functional>

namespace platform {

// Hot-key modifier bits.
inline constexpr std::uint32_t kHotCommand = 0x100;
inline constexpr std::uint32_t kHotShift = 0x200;
inline constexpr std::uint32_t kHotOption = 0x800;
inline constexpr std::uint32_t kHotControl = 0x1000;

class WebView;

class DesktopKeys {
 public:
  virtual ~DesktopKeys() = default;
  // Grabs the key for the whole desktop; presses reach the press handler with id.
  // False when the desktop refuses it (another client holds it).
  virtual bool grab_hotkey(int key_code, std::uint32_t modifiers, std::uint32_t id) = 0;
  // Releases the grab of id; an unknown id does nothing.
  virtual void ungrab_hotkey(std::uint32_t id) = 0;
  // Called on the main thread with the id of a pressed hot key.
  virtual void set_hotkey_handler(std::function<void(std::uint32_t id)> handler) = 0;
  // Whether the desktop lets this process post key presses.
  virtual bool can_post_keys() = 0;
  // Posts a key press and release with the modifiers held around it (the
  // menus' modifier bits: kModCommand, kModShift, ...). False when nothing was
  // posted (the keyboard has no such key, or posting is not allowed).
  virtual bool post_key(int key_code, std::uint64_t modifiers) = 0;
  // Asked for a web view before a click that would activate its window reaches
  // the page: false keeps the click from the page.
  virtual void set_first_click_policy(std::function<bool(WebView*)> accepts) = 0;
};

// The desktop's keys; null until a desktop installs them.
DesktopKeys* desktop_keys();
void install_desktop_keys(DesktopKeys* keys);

}  // namespace platform
