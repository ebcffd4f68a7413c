// The GTK desktop: display set-up and queues (windows in gtk_window.cc, screens
// in gtk_screens.cc).

#include <clocale>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <webkit2/webkit2.h>

#include <map>

#include "platform/gtk/gtk_capture.h"  // screen capture
#include "platform/gtk/gtk_clip_notify.h"
#include "platform/gtk/gtk_desktop_services.h"
#include "platform/gtk/gtk_identity.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/gtk_screens.h"
#include "platform/gtk/gtk_system_info.h"
#include "platform/gtk/gtk_window.h"
#include "platform/speech.h"  // desktop services

namespace platform::gtk {

// ---- platform --------------------------------------------------------------

GtkPlatform::GtkPlatform() {
  install_application(&gtk_application());
  install_system_info(&gtk_system_info());
  install_app_instance(&gtk_app_instance());
  install_clipboard(&gtk_clipboard());
  install_notifier(&gtk_notifier());
  install_screen_capture(&gtk_capture());  // screen capture
  install_system_access(&gtk_system_access());  // desktop services
  install_speech_factory(make_gtk_speech);       // desktop services
  install_desktop_shell(&gtk_desktop_shell());   // desktop services
  install_dock(&gtk_dock());                     // desktop services
  install_gtk_http_client(true);
  install_desktop_keys(&gtk_desktop_keys());
  install_system_events(&gtk_system_events());
  install_permissions(&gtk_permissions());
}
GtkPlatform::~GtkPlatform() {
  if (desktop_keys() == &gtk_desktop_keys()) install_desktop_keys(nullptr);
  if (system_events() == &gtk_system_events()) install_system_events(nullptr);
  if (permissions() == &gtk_permissions()) install_permissions(nullptr);
  if (app_instance() == &gtk_app_instance()) install_app_instance(nullptr);
  if (application() == &gtk_application()) install_application(nullptr);
  if (system_info() == &gtk_system_info()) install_system_info(nullptr);
  if (clipboard() == &gtk_clipboard()) install_clipboard(nullptr);
  if (notifier() == &gtk_notifier()) install_notifier(nullptr);
  if (screen_capture() == &gtk_capture()) install_screen_capture(nullptr);  // screen capture
  if (system_access() == &gtk_system_access()) install_system_access(nullptr);  // desktop services
  install_speech_factory(nullptr);  // desktop services
  if (desktop_shell() == &gtk_desktop_shell()) install_desktop_shell(nullptr);
  if (dock() == &gtk_dock()) install_dock(nullptr);
  install_gtk_http_client(false);
  reset_speech();
}

bool GtkPlatform::init_display() {
  gdk_set_allowed_backends("x11");
  bool ok = gtk_init_check(nullptr, nullptr);
  // GDK ends the process on any X error nobody trapped. Other clients and the window
  // manager can destroy our windows at any moment, and a request racing with that
  // must not take every window and the backend's session down with it: one trap for
  // the whole process takes whatever no narrower trap took.
  if (ok)
    if (GdkDisplay* d = gdk_display_get_default(); d && GDK_IS_X11_DISPLAY(d)) gdk_x11_display_error_trap_push(d);
  if (ok) apply_identity_to_windows();
  // Numbers on the wire and in JSON are always read and written the C way.
  setlocale(LC_NUMERIC, "C");
  return ok;
}

void GtkPlatform::on_termination_signal(std::function<void()> fn) {
  // GLib runs these on the main context, so the end takes the normal path.
  static std::function<void()> handler;
  handler = std::move(fn);
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    g_unix_signal_add(
        sig,
        +[](gpointer) -> gboolean {
          if (handler) handler();
          return G_SOURCE_CONTINUE;
        },
        nullptr);
}

std::unique_ptr<SerialQueue> GtkPlatform::make_serial_queue(const std::string& name) {
  return std::make_unique<GlibSerialQueue>(name.c_str());
}

}  // namespace platform::gtk
