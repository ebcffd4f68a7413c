#pragma once
// What the desktop tells about the user's settings and the machine's state: the
// theme, the locale, sleep and wake; and the desktop's answers about privacy
// permissions. Screen changes come from Screens.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct LocaleInfo {
  std::vector<std::string> preferred;  // the user's languages, most preferred first
  std::optional<std::vector<std::string>> system;  // the machine's languages, where it says
  std::optional<std::string> region;   // country code
  std::string time_zone;               // "Europe/Berlin"
};

struct SystemEventHandlers {
  // Once, when the desktop has said which theme it has (or cannot say): until
  // then dark_theme() is only a guess. May run inside set_handlers.
  std::function<void()> theme_known;
  std::function<void()> theme_changed;
  std::function<void()> locale_changed;
  std::function<void()> will_sleep;
  std::function<void()> did_wake;
};

class SystemEvents {
 public:
  virtual ~SystemEvents() = default;
  virtual bool dark_theme() = 0;
  virtual LocaleInfo locale() = 0;
  // Handlers run on the main thread; set once. Never waits for the desktop.
  virtual void set_handlers(SystemEventHandlers handlers) = 0;
};

// The desktop's answers for each permission kind. Each done is called exactly
// once, on the main thread, at once or later.
class Permissions {
 public:
  enum class Location { kUndetermined, kGranted, kDenied };
  virtual ~Permissions() = default;
  virtual bool can_control_input() = 0;   // key presses and pointer may be posted
  virtual bool can_capture_screen() = 0;
  virtual void notification_server(std::function<void(bool present)> done) = 0;
  virtual bool camera_usable() = 0;
  virtual void microphone_usable(std::function<void(bool)> done) = 0;
  // The location service's state for this application, without asking the user.
  virtual void location_status(std::function<void(Location)> done) = 0;
  // Asks the user where the desktop does; done with the outcome (kUndetermined
  // when the prompt was dismissed or the service did not decide).
  virtual void location_request(std::function<void(Location)> done) = 0;
};

SystemEvents* system_events();
void install_system_events(SystemEvents* events);
Permissions* permissions();
void install_permissions(Permissions* p);

}  // namespace platform
