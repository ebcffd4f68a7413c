#pragma once
// The desktop's notification server (org.freedesktop.Notifications on Linux).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct NotifyAction {
  std::string key;    // what the server reports when it is chosen
  std::string label;  // what the user sees
};

struct NotifyRequest {
  std::string app_name;
  std::string app_icon;       // an image file, "" = none
  std::string desktop_entry;  // the application's desktop entry without ".desktop", "" = none
  std::uint32_t replaces_id = 0;  // the server's id of a notification this one replaces
  std::string summary;
  std::string body;
  std::vector<NotifyAction> actions;  // "default" is the click on the notification itself
  std::string sound_name;             // a sound theme name, "" = silent
  // A text field the user answers in, where the server offers one.
  bool inline_reply = false;
  std::string reply_placeholder;
  std::string reply_button;
};

struct NotifyEvent {
  enum Kind { kAction, kReplied, kClosed } kind = kAction;
  std::uint32_t id = 0;  // the server's id
  std::string text;      // the action key, or the reply text
};

class Notifier {
 public:
  virtual ~Notifier() = default;
  // The server's capabilities; none when no notification server can be reached.
  // done runs exactly once on the main thread.
  virtual void server(std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
  // Shows a notification; done gets the server's id, or 0 and the reason.
  virtual void notify(const NotifyRequest& request, std::function<void(std::uint32_t, std::string)> done) = 0;
  // Where the server's signals go (one listener; main thread).
  virtual void listen(std::function<void(const NotifyEvent&)> fn) = 0;
};

Notifier* notifier();
void install_notifier(Notifier* n);

}  // namespace platform
