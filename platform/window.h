#pragma once
// A native top-level window. Frames cross this boundary in the host's coordinates
// (see screens.h); the desktop layer converts at the last step.

#include <functional>
#include <memory>
#include <string>

#include "platform/screens.h"

namespace platform {

class WebView;

struct WindowParams {
  std::string title;
  double width = 600, height = 400;  // content size in points
  bool panel = false;                // a utility window that does not take focus on show
  bool rgba = false;                 // ask for a visual with an alpha channel
};

// What the desktop reports about a window; every callback runs on the main thread.
struct WindowEvents {
  std::function<void()> on_close_request;  // the user asked to close
  std::function<void()> on_state_changed;  // visible, minimised, full screen or key changed
  std::function<void()> on_frame_changed;  // moved or resized
  std::function<void()> on_destroyed;
};

class NativeWindow {
 public:
  virtual ~NativeWindow() = default;
  virtual void set_events(WindowEvents events) = 0;
  virtual void set_title(const std::string& title) = 0;
  virtual std::string title() const = 0;
  virtual void set_content_size(double w, double h) = 0;
  virtual Rect frame() const = 0;
  virtual void set_frame(const Rect& frame) = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool visible() const = 0;
  // Puts the web view into the window as its only content.
  virtual void set_content(WebView* view) = 0;
  virtual void close() = 0;
  // The toolkit object (GtkWindow* on GTK), for the desktop layer only.
  virtual void* native_handle() = 0;
};

}  // namespace platform
