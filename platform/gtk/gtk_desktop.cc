// The GTK desktop: display set-up and queues (windows in gtk_window.cc, screens
// in gtk_screens.cc).

#include <clocale>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <map>

#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/gtk_screens.h"
#include "platform/gtk/gtk_window.h"

namespace platform::gtk {

// ---- platform --------------------------------------------------------------

GtkPlatform::GtkPlatform() { install_application(&gtk_application()); }
GtkPlatform::~GtkPlatform() {
  if (application() == &gtk_application()) install_application(nullptr);
}

bool GtkPlatform::init_display() {
  gdk_set_allowed_backends("x11");
  bool ok = gtk_init_check(nullptr, nullptr);
  // Numbers on the wire and in JSON are always read and written the C way.
  setlocale(LC_NUMERIC, "C");
  return ok;
}

std::unique_ptr<SerialQueue> GtkPlatform::make_serial_queue(const std::string& name) {
  return std::make_unique<GlibSerialQueue>(name.c_str());
}

}  // namespace platform::gtk
