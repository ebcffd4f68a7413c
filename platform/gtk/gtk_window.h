#pragma once
// The application object of the GTK desktop (windows live in gtk_window.cc).

#include "platform/window.h"

namespace platform::gtk {

Application& gtk_application();

}  // namespace platform::gtk
