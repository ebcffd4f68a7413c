#pragma once
// The application object of the GTK desktop (windows live in gtk_window.cc).

#include "platform/platform.h"
#include "platform/window.h"

namespace platform::gtk {

Application& gtk_application();
// The application's running instance (gtk_app_instance.cc).
AppInstance& gtk_app_instance();

}  // namespace platform::gtk
