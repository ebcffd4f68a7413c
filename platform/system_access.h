#pragma once
// Protected parts of the desktop: the user's secret store, asking the user to
// authenticate, and moving other applications' windows.

#include <functional>
#include <optional>
#include <string>

#include "platform/screens.h"

namespace platform {

// The outcome of one secret-store operation. status 0: done; otherwise the store's
// error code (never 0) and what it said.
struct SecretResult {
  int status = 0;
  std::string message;
  bool found = false;                // get: an item matched
  std::optional<std::string> value;  // get: its secret, when it is UTF-8 text
};

enum class WindowMove {
  kMoved,     // the window manager was asked to move and resize it
  kNoWindow,  // the process has no window the window manager lists
  kRefused,   // its window may not be moved or resized
};

// Main thread only: every call, and every done, runs there.
class SystemAccess {
 public:
  virtual ~SystemAccess() = default;
  // Each calls done exactly once on the main thread, at once or later (a store
  // may first ask the user to unlock it). Items are generic passwords identified
  // by service and account alone, both UTF-8 text; set replaces the matching item
  // in one step, so a failed set leaves the old secret in place. Each returns what
  // withdraws the request (an open prompt is dismissed, done is not called); it
  // does nothing once done has run.
  virtual std::function<void()> secret_get(const std::string& service, const std::string& account,
                                           std::function<void(SecretResult)> done) = 0;
  virtual std::function<void()> secret_set(const std::string& service, const std::string& account,
                                           const std::string& value, std::function<void(SecretResult)> done) = 0;
  virtual std::function<void()> secret_delete(const std::string& service, const std::string& account,
                                              std::function<void(SecretResult)> done) = 0;

  // Asks the user to prove they are the device's owner; reason is UTF-8 text.
  // done(ok, error) runs once on the main thread: at once with the reason when the
  // desktop has no way to ask. Returns what withdraws the request (the prompt
  // closes, done is not called); it does nothing once done has run.
  virtual std::function<void()> authenticate(
      const std::string& reason, std::function<void(bool ok, std::optional<std::string> error)> done) = 0;

  // Moves and resizes the main window of process pid to frame (outer frame, host
  // coordinates).
  virtual WindowMove move_app_window(long pid, const Rect& frame) = 0;
};

// The desktop's protected services; null until a desktop installs them.
SystemAccess* system_access();
void install_system_access(SystemAccess* access);

}  // namespace platform
