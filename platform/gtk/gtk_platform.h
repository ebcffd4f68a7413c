#pragma once
// The Linux desktop: GTK 3 on X11, WebKitGTK 4.1, the GLib main loop.

#include <memory>
#include <string>

#include "platform/gtk/glib_loop.h"
#include "platform/platform.h"
#include "platform/desktop_shell.h"
#include "platform/dock.h"
#include "platform/speech.h"
#include "platform/system_access.h"

namespace platform::gtk {

class GtkScreens;

class GtkPlatform : public Platform {
 public:
  GtkPlatform();
  ~GtkPlatform() override;
  bool init_display() override;
  std::string executable_path() override;
  std::string temp_dir() override;
  bool read_plist(const std::string& path, PlistDict& out) override;
  void show_alert(bool critical, const std::string& message, const std::string& informative) override;
  void on_termination_signal(std::function<void()> fn) override;

  MainQueue& main_queue() override { return queue_; }
  Timers& timers() override { return timers_; }
  Screens& screens() override;
  std::unique_ptr<SerialQueue> make_serial_queue(const std::string& name) override;
  std::unique_ptr<NativeWindow> make_window(const WindowParams& params) override;
  std::unique_ptr<WebView> make_webview() override;
  std::unique_ptr<StatusItem> make_status_item() override;
  void install_media_scheme(MediaScheme scheme) override;
  void show_about_panel(const AboutPanel& about) override;
  void set_identity(const HostIdentity& identity) override;  // gtk_identity.cc
  void show_help(const std::string& book) override;
  CookieStore& cookie_store() override;  // gtk_cookies.cc
  Dialogs& dialogs() override;
  std::string downloads_dir() override;
  std::string preferred_extension(const std::string& mime_type) override;
  size_t download_name_max(const std::string& dir) override;
  void open_external(const std::string& url) override;

 private:
  GlibMainQueue queue_;
  GlibTimers timers_;
  std::unique_ptr<GtkScreens> screens_;
};

// Camera and microphone requests of a page go to the host's trust list.
void connect_capture_permission(struct _WebKitWebView* view);

SystemAccess& gtk_system_access();
std::unique_ptr<Speech> make_gtk_speech();
DesktopShell& gtk_desktop_shell();
Dock& gtk_dock();
// Installs (or takes back) the HTTP client served by the http module. Apart
// from platform/http.h, whose names X11's macros would break.
void install_gtk_http_client(bool install);

}  // namespace platform::gtk
