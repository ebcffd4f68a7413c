#pragma once
// The boundary between the host's logic and the desktop. core/, webui/, services/
// and ai/ reach the desktop only through these interfaces; platform/gtk implements
// them for the Linux desktop and platform/fake in memory for tests.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/main_queue.h"
#include "platform/screens.h"
#include "platform/timers.h"
#include "platform/webview.h"
#include "platform/window.h"

namespace platform {

// A property list's top-level dictionary: strings and booleans, as the host reads them.
struct PlistDict {
  std::map<std::string, std::string> strings;
  std::map<std::string, bool> bools;
  bool has(const std::string& key) const { return strings.count(key) || bools.count(key); }
  std::string string(const std::string& key) const {
    auto it = strings.find(key);
    return it == strings.end() ? std::string() : it->second;
  }
  // A string value counts as true the way a property list's boolValue reads it.
  bool boolean(const std::string& key) const;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // Connects to the display server; false when there is none to reach.
  virtual bool init_display() = 0;
  // The absolute path of the running executable.
  virtual std::string executable_path() = 0;
  // The temporary directory, ending in "/".
  virtual std::string temp_dir() = 0;
  // Reads a property-list file; false when it is missing or unreadable.
  virtual bool read_plist(const std::string& path, PlistDict& out) = 0;
  // Calls fn on the main thread when the process is asked to end (SIGTERM, SIGINT,
  // SIGHUP), instead of ending at once.
  virtual void on_termination_signal(std::function<void()> fn) = 0;
  // A modal alert with one OK button; critical selects the error style.
  virtual void show_alert(bool critical, const std::string& message, const std::string& informative) = 0;
  virtual MainQueue& main_queue() = 0;
  virtual Timers& timers() = 0;
  virtual Screens& screens() = 0;
  virtual std::unique_ptr<SerialQueue> make_serial_queue(const std::string& name) = 0;
  virtual std::unique_ptr<NativeWindow> make_window(const WindowParams& params) = 0;
  virtual std::unique_ptr<WebView> make_webview() = 0;
};

// The platform in use; set once by main() or by a test before anything runs.
Platform& current();
void install(Platform* p);

}  // namespace platform
