// Names the windows for the desktop: task bars, docks and window lists match
// a window to its application by WM_CLASS (a desktop entry's StartupWMClass)
// or by the application id GTK publishes. The process keeps its program name:
// WebKit keeps each program's website data (local storage, databases, caches)
// in a folder named after it, and a new name would leave that data behind.

#include "platform/gtk/gtk_identity.h"

#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <map>
#include <string>

#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

HostIdentity g_identity;
bool g_gtk_ready = false;

// Every top-level window gets the names as it maps, before the window manager
// sees it; a hook on the signal reaches the windows GTK and WebKit make
// themselves (dialogs, the About panel) as well as the host's own.
gboolean on_map(GSignalInvocationHint*, guint n, const GValue* params, gpointer) {
  if (n < 1 || g_identity.app_id.empty()) return TRUE;
  GObject* obj = static_cast<GObject*>(g_value_get_object(&params[0]));
  if (!GTK_IS_WINDOW(obj) || gtk_window_get_window_type(GTK_WINDOW(obj)) != GTK_WINDOW_TOPLEVEL) return TRUE;
  GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(obj));
  if (!w || !GDK_IS_X11_WINDOW(w)) return TRUE;
  // WM_CLASS: the application id as the instance, the name people see as the class.
  XClassHint hint{const_cast<char*>(g_identity.app_id.c_str()), const_cast<char*>(g_identity.name.c_str())};
  XSetClassHint(GDK_WINDOW_XDISPLAY(w), GDK_WINDOW_XID(w), &hint);
  gdk_x11_window_set_utf8_property(w, "_GTK_APPLICATION_ID", g_identity.app_id.c_str());
  return TRUE;
}

// The theme's generic icon at `size`, as gtk_icon_theme_load_icon gives it with
// GTK_ICON_LOOKUP_FORCE_SIZE, but with each image file decoded only once across
// the calls sharing `decoded`: the theme serves the larger sizes from one big image,
// and decoding it again for each size was most of what the icon cost start-up. A
// file is scaled as the theme scales it (bilinear, to the size over its larger
// side); a drawn (SVG) icon is left to the theme.
GObjectPtr<GdkPixbuf> generic_icon(int size, std::map<std::string, GObjectPtr<GdkPixbuf>>& decoded) {
  GObjectPtr<GtkIconInfo> info(
      gtk_icon_theme_lookup_icon(gtk_icon_theme_get_default(), kGenericAppIcon, size, GTK_ICON_LOOKUP_FORCE_SIZE));
  const char* file = info ? gtk_icon_info_get_filename(info.get()) : nullptr;
  if (!file || g_str_has_suffix(file, ".svg") || g_str_has_suffix(file, ".svgz")) return app_icon_pixbuf(size);
  GObjectPtr<GdkPixbuf>& source = decoded[file];
  if (!source) source.reset(gdk_pixbuf_new_from_file(file, nullptr));
  if (!source) return app_icon_pixbuf(size);
  const int w = gdk_pixbuf_get_width(source.get()), h = gdk_pixbuf_get_height(source.get());
  const double scale = double(size) / double(std::max(w, h));
  if (scale == 1.0) return add_ref(source.get());
  return GObjectPtr<GdkPixbuf>(
      gdk_pixbuf_scale_simple(source.get(), int(0.5 + w * scale), int(0.5 + h * scale), GDK_INTERP_BILINEAR));
}

}  // namespace

void GtkPlatform::set_identity(const HostIdentity& identity) {
  g_identity = identity;
  if (!identity.app_id.empty()) g_set_application_name(identity.name.c_str());
  if (g_gtk_ready) restore_app_icon();
}

void apply_identity_to_windows() {
  if (g_gtk_ready) return;
  g_gtk_ready = true;
  g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, on_map, nullptr, nullptr);
  restore_app_icon();
}

std::string desktop_id() {
  if (!g_identity.app_id.empty()) return g_identity.app_id;
  return g_get_prgname() ? g_get_prgname() : "quibex";
}

GObjectPtr<GdkPixbuf> app_icon_pixbuf(int size) {
  if (!g_identity.icon.empty())
    if (GObjectPtr<GdkPixbuf> p{gdk_pixbuf_new_from_file_at_size(g_identity.icon.c_str(), size, size, nullptr)})
      return p;
  return GObjectPtr<GdkPixbuf>(gtk_icon_theme_load_icon(gtk_icon_theme_get_default(), kGenericAppIcon, size,
                                                        GTK_ICON_LOOKUP_FORCE_SIZE, nullptr));
}

void restore_app_icon() {
  // A few sizes for the window manager to choose from, not the file's own
  // (which may be huge) as one. Pixbufs, not the theme's icon name: GTK gives
  // a new default name only to windows that showed a named one, not to those
  // that showed the tile.
  GList* sizes = nullptr;
  std::map<std::string, GObjectPtr<GdkPixbuf>> decoded;
  for (int s : {16, 32, 48, 64, 128})
    if (GObjectPtr<GdkPixbuf> p = g_identity.icon.empty() ? generic_icon(s, decoded) : app_icon_pixbuf(s))
      sizes = g_list_append(sizes, p.release());
  if (sizes)
    gtk_window_set_default_icon_list(sizes);
  else
    gtk_window_set_default_icon_name(kGenericAppIcon);
  g_list_free_full(sizes, g_object_unref);
}

}  // namespace platform::gtk
