#pragma once
// The Linux desktop: GTK 3 on X11, WebKitGTK 4.1, the GLib main loop.

#include <memory>
#include <string>

#include "platform/gtk/glib_loop.h"
#include "platform/platform.h"

namespace platform::gtk {

class GtkScreens;

class GtkPlatform : public Platform {
 public:
  GtkPlatform();
  ~GtkPlatform() override;
  // Opens the X display; false when none is reachable.
  static bool init_display(int* argc, char*** argv);

  MainQueue& main_queue() override { return queue_; }
  Timers& timers() override { return timers_; }
  Screens& screens() override;
  std::unique_ptr<SerialQueue> make_serial_queue(const std::string& name) override;
  std::unique_ptr<NativeWindow> make_window(const WindowParams& params) override;
  std::unique_ptr<WebView> make_webview() override;

 private:
  GlibMainQueue queue_;
  GlibTimers timers_;
  std::unique_ptr<GtkScreens> screens_;
};

}  // namespace platform::gtk
