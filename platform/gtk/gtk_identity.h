#pragma once
// The application's identity on the X11 desktop (gtk_identity.cc): WM_CLASS
// and the application id (_GTK_APPLICATION_ID) of every top-level window, and
// the application's own icon, which windows show when nothing else (the tile)
// is drawn on them. Main thread.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

#include "platform/gtk/glib_ptr.h"

namespace platform::gtk {

// Once GTK runs: the icon becomes the windows' default and every top-level
// window that maps gets the names. Called by init_display.
void apply_identity_to_windows();

// What other services know the application by (its desktop entry's name
// without ".desktop"): the application id, else the program's name.
std::string desktop_id();

// The application's own icon at size x size (its aspect kept): the identity's
// icon file, else the icon theme's generic application icon; null when neither
// can be loaded.
GObjectPtr<GdkPixbuf> app_icon_pixbuf(int size);
// The name of the theme's generic application icon.
inline constexpr const char* kGenericAppIcon = "application-x-executable";

// Makes the application's own icon the default of every window again: of those
// without an icon of their own, and of windows made later.
void restore_app_icon();

}  // namespace platform::gtk
