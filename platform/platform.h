#pragma once
// The boundary between the host's logic and the desktop. core/, webui/, services/
// and ai/ reach the desktop only through these interfaces; platform/gtk implements
// them for the Linux desktop and platform/fake in memory for tests.

#include <memory>
#include <string>

#include "platform/main_queue.h"
#include "platform/screens.h"
#include "platform/timers.h"
#include "platform/webview.h"
#include "platform/window.h"

namespace platform {

class Platform {
 public:
  virtual ~Platform() = default;
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
