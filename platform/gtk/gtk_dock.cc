// The tile on Linux: the launcher entry signal (com.canonical.Unity.LauncherEntry)
// that docks and panels read, the windows' icon composed with cairo, the urgency
// hint; and the media controls as an MPRIS2 player on the session bus.

#include <cairo.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/common/tile_bar.h"
#include "platform/dock.h"
#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_buses.h"
#include "platform/gtk/gtk_identity.h"
#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

constexpr int kTileSize = 128;

GObjectPtr<GDBusConnection> session_bus() { return GObjectPtr<GDBusConnection>(desktop_bus(G_BUS_TYPE_SESSION)); }

void rounded_rect(cairo_t* cr, const TileRect& r) {
  const double rad = std::min({r.radius, r.w / 2, r.h / 2});
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.x + r.w - rad, r.y + rad, rad, -M_PI / 2, 0);
  cairo_arc(cr, r.x + r.w - rad, r.y + r.h - rad, rad, 0, M_PI / 2);
  cairo_arc(cr, r.x + rad, r.y + r.h - rad, rad, M_PI / 2, M_PI);
  cairo_arc(cr, r.x + rad, r.y + rad, rad, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

GObjectPtr<GdkPixbuf> base_icon(const std::string& path) {
  if (!path.empty())
    if (GObjectPtr<GdkPixbuf> p{gdk_pixbuf_new_from_file_at_size(path.c_str(), kTileSize, kTileSize, nullptr)})
      return p;
  return app_icon_pixbuf(kTileSize);
}

void draw_badge(cairo_t* cr, const std::string& text) {
  cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  const double h = kTileSize * 0.4;
  cairo_set_font_size(cr, h * 0.6);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, text.c_str(), &ext);
  const double w = std::min(double(kTileSize), std::max(h, ext.x_advance + h * 0.5));
  const TileRect r{kTileSize - w, 0, w, h, h / 2};
  rounded_rect(cr, r);
  cairo_set_source_rgb(cr, 0.86, 0.16, 0.16);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  cairo_move_to(cr, r.x + (w - ext.x_advance) / 2, r.y + (h - ext.height) / 2 - ext.y_bearing);
  cairo_show_text(cr, text.c_str());
}

GObjectPtr<GdkPixbuf> compose(const DockTile& tile) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kTileSize, kTileSize);
  cairo_t* cr = cairo_create(s);
  if (GObjectPtr<GdkPixbuf> icon = base_icon(tile.icon)) {
    const int w = gdk_pixbuf_get_width(icon.get()), h = gdk_pixbuf_get_height(icon.get());
    gdk_cairo_set_source_pixbuf(cr, icon.get(), (kTileSize - w) / 2.0, (kTileSize - h) / 2.0);
    cairo_paint(cr);
  }
  if (auto bar = tile_progress_bar(kTileSize, kTileSize, tile.progress)) {
    rounded_rect(cr, bar->track);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    if (bar->fill) {
      rounded_rect(cr, *bar->fill);
      cairo_set_source_rgb(cr, 0.0, 0.48, 1.0);
      cairo_fill(cr);
    }
  }
  if (!tile.badge.empty()) draw_badge(cr, tile.badge);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  GObjectPtr<GdkPixbuf> out(gdk_pixbuf_get_from_surface(s, 0, 0, kTileSize, kTileSize));
  cairo_surface_destroy(s);
  return out;
}

// The host's own top-level windows (not menus or tooltips).
template <class Fn>
void each_window(Fn fn) {
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (gtk_window_get_window_type(GTK_WINDOW(l->data)) == GTK_WINDOW_TOPLEVEL) fn(GTK_WINDOW(l->data));
  g_list_free(all);
}

// ---- MPRIS --------------------------------------------------------------------

const char* kMprisXml = R"(<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/><method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/><method name="Previous"/><method name="Pause"/><method name="PlayPause"/>
    <method name="Stop"/><method name="Play"/>
    <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
    <method name="SetPosition"><arg direction="in" name="TrackId" type="o"/><arg direction="in" name="Position" type="x"/></method>
    <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="read"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="read"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
</node>)";

constexpr const char* kPath = "/org/mpris/MediaPlayer2";

struct Player {
  GObjectPtr<GDBusConnection> bus;
  std::string identity, desktop_entry;
  NowPlaying np;
  gint64 published_at = 0;  // monotonic, microseconds
  std::function<void(RemoteCommand, double)> on_command;
};
Player g_player;

gint64 position_us() {
  if (g_player.np.cleared || !g_player.np.elapsed) return 0;
  double s = *g_player.np.elapsed;
  if (g_player.np.playing) s += double(g_get_monotonic_time() - g_player.published_at) / 1e6;
  if (g_player.np.duration) s = std::min(s, *g_player.np.duration);
  return gint64(std::max(0.0, s) * 1e6);
}

GVariant* metadata() {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  const NowPlaying& np = g_player.np;
  g_variant_builder_add(&b, "{sv}", "mpris:trackid",
                        g_variant_new_object_path(np.cleared ? "/org/mpris/MediaPlayer2/TrackList/NoTrack"
                                                             : "/io/quibex/Track/current"));
  if (!np.cleared) {
    if (np.title) g_variant_builder_add(&b, "{sv}", "xesam:title", g_variant_new_string(np.title->c_str()));
    if (np.artist) {
      const char* artists[] = {np.artist->c_str(), nullptr};
      g_variant_builder_add(&b, "{sv}", "xesam:artist", g_variant_new_strv(artists, 1));
    }
    if (np.album) g_variant_builder_add(&b, "{sv}", "xesam:album", g_variant_new_string(np.album->c_str()));
    if (np.duration && std::isfinite(*np.duration))
      g_variant_builder_add(&b, "{sv}", "mpris:length", g_variant_new_int64(gint64(std::max(0.0, *np.duration) * 1e6)));
  }
  return g_variant_builder_end(&b);
}

const char* status() { return g_player.np.cleared ? "Stopped" : g_player.np.playing ? "Playing" : "Paused"; }

GVariant* get_property(GDBusConnection*, const char*, const char*, const char* iface, const char* name, GError**,
                       gpointer) {
  const std::string n = name;
  if (std::string(iface) == "org.mpris.MediaPlayer2") {
    if (n == "Identity") return g_variant_new_string(g_player.identity.c_str());
    if (n == "DesktopEntry") return g_variant_new_string(g_player.desktop_entry.c_str());
    if (n == "SupportedUriSchemes" || n == "SupportedMimeTypes") return g_variant_new_strv(nullptr, 0);
    return g_variant_new_boolean(FALSE);  // CanQuit, CanRaise, HasTrackList
  }
  if (n == "PlaybackStatus") return g_variant_new_string(status());
  if (n == "Metadata") return metadata();
  if (n == "Position") return g_variant_new_int64(position_us());
  if (n == "Rate") return g_variant_new_double(g_player.np.playing && !g_player.np.cleared ? 1.0 : 0.0);
  if (n == "MinimumRate" || n == "MaximumRate" || n == "Volume") return g_variant_new_double(1.0);
  return g_variant_new_boolean(TRUE);  // the Can* properties: the backend decides what a command does
}

void method_call(GDBusConnection*, const char*, const char*, const char* iface, const char* method,
                 GVariant* params, GDBusMethodInvocation* inv, gpointer) {
  const std::string m = method;
  auto send = [](RemoteCommand c, double pos = 0) {
    if (g_player.on_command) g_player.on_command(c, pos);
  };
  if (std::string(iface) == "org.mpris.MediaPlayer2.Player") {
    if (m == "Play") send(RemoteCommand::kPlay);
    else if (m == "Pause") send(RemoteCommand::kPause);
    else if (m == "PlayPause") send(RemoteCommand::kToggle);
    else if (m == "Next") send(RemoteCommand::kNext);
    else if (m == "Previous") send(RemoteCommand::kPrevious);
    else if (m == "Seek") {
      gint64 offset = 0;
      g_variant_get(params, "(x)", &offset);
      send(RemoteCommand::kSeek, std::max<double>(0, double(position_us() + offset)) / 1e6);
    } else if (m == "SetPosition") {
      const char* track = nullptr;
      gint64 pos = 0;
      g_variant_get(params, "(&ox)", &track, &pos);
      // Positions outside the track are ignored, as players do.
      const bool beyond = g_player.np.duration && double(pos) > *g_player.np.duration * 1e6;
      if (pos >= 0 && !beyond) send(RemoteCommand::kSeek, double(pos) / 1e6);
    }
  }
  g_dbus_method_invocation_return_value(inv, nullptr);
}

void properties_changed() {
  if (!g_player.bus) return;
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&b, "{sv}", "PlaybackStatus", g_variant_new_string(status()));
  g_variant_builder_add(&b, "{sv}", "Metadata", metadata());
  g_variant_builder_add(&b, "{sv}", "Rate", g_variant_new_double(g_player.np.playing && !g_player.np.cleared ? 1.0 : 0.0));
  g_dbus_connection_emit_signal(g_player.bus.get(), nullptr, kPath, "org.freedesktop.DBus.Properties",
                                "PropertiesChanged",
                                g_variant_new("(sa{sv}as)", "org.mpris.MediaPlayer2.Player", &b, nullptr), nullptr);
  // Where the track is now, for the controls that show it.
  g_dbus_connection_emit_signal(g_player.bus.get(), nullptr, kPath, "org.mpris.MediaPlayer2.Player", "Seeked",
                                g_variant_new("(x)", position_us()), nullptr);
}

bool start_player(const std::string& bus_suffix) {
  g_player.bus = session_bus();
  if (!g_player.bus) return false;
  GPtr<GDBusNodeInfo> info(g_dbus_node_info_new_for_xml(kMprisXml, nullptr));
  static const GDBusInterfaceVTable vtable = {method_call, get_property, nullptr, {}};
  for (int i = 0; info && info->interfaces[i]; ++i)
    g_dbus_connection_register_object(g_player.bus.get(), kPath, info->interfaces[i], &vtable, nullptr, nullptr,
                                      nullptr);
  const std::string name = "org.mpris.MediaPlayer2." + bus_suffix;
  g_bus_own_name_on_connection(g_player.bus.get(), name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, nullptr,
                               nullptr);
  return true;
}

class GtkDock : public Dock {
 public:
  bool image_loadable(const std::string& path, int* width, int* height) override {
    GObjectPtr<GdkPixbuf> p(gdk_pixbuf_new_from_file(path.c_str(), nullptr));
    if (!p) return false;
    if (width) *width = gdk_pixbuf_get_width(p.get());
    if (height) *height = gdk_pixbuf_get_height(p.get());
    return true;
  }

  void show_tile(const DockTile& tile) override {
    if (tile.icon.empty() && !(tile.progress >= 0) && tile.badge.empty()) {
      // Back to the plain application icon.
      each_window([](GtkWindow* w) { gtk_window_set_icon(w, nullptr); });
      restore_app_icon();
      return;
    }
    GObjectPtr<GdkPixbuf> icon = compose(tile);
    if (!icon) return;
    gtk_window_set_default_icon(icon.get());  // windows made later
    each_window([&icon](GtkWindow* w) { gtk_window_set_icon(w, icon.get()); });
  }

  void publish_launcher_entry(const LauncherEntry& e) override {
    GObjectPtr<GDBusConnection> bus = session_bus();
    if (!bus) return;
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&b, "{sv}", "count", g_variant_new_int64(e.count));
    g_variant_builder_add(&b, "{sv}", "count-visible", g_variant_new_boolean(e.count_visible));
    g_variant_builder_add(&b, "{sv}", "progress", g_variant_new_double(e.progress));
    g_variant_builder_add(&b, "{sv}", "progress-visible", g_variant_new_boolean(e.progress_visible));
    if (e.urgent) g_variant_builder_add(&b, "{sv}", "urgent", g_variant_new_boolean(TRUE));
    // Docks listen for the signal from any object; a path of the application's own.
    const std::string path = "/com/canonical/unity/launcherentry/" + std::to_string(g_str_hash(e.app_uri.c_str()));
    g_dbus_connection_emit_signal(bus.get(), nullptr, path.c_str(), "com.canonical.Unity.LauncherEntry", "Update",
                                  g_variant_new("(sa{sv})", e.app_uri.c_str(), &b), nullptr);
    g_dbus_connection_flush(bus.get(), nullptr, nullptr, nullptr);
  }

  void request_attention(bool) override {
    // The urgency hint asks until the user comes to the window; it is taken back then.
    each_window([](GtkWindow* w) {
      if (!gtk_widget_get_visible(GTK_WIDGET(w)) || gtk_window_is_active(w)) return;
      gtk_window_set_urgency_hint(w, TRUE);
      if (!g_object_get_data(G_OBJECT(w), "quibex-urgency")) {
        g_object_set_data(G_OBJECT(w), "quibex-urgency", GINT_TO_POINTER(1));
        g_signal_connect(w, "notify::is-active", G_CALLBACK(+[](GtkWindow* win, GParamSpec*, gpointer) {
          if (gtk_window_is_active(win)) gtk_window_set_urgency_hint(win, FALSE);
        }), nullptr);
      }
    });
  }

  void publish_now_playing(const NowPlaying& np, const std::string& bus_suffix, const std::string& identity,
                           std::function<void(RemoteCommand, double)> on_command) override {
    g_player.np = np;
    g_player.published_at = g_get_monotonic_time();
    g_player.identity = identity;
    g_player.on_command = std::move(on_command);
    if (!g_player.bus) {
      g_player.desktop_entry = bus_suffix.substr(0, bus_suffix.rfind(".instance"));
      if (!start_player(bus_suffix)) return;
    }
    properties_changed();
  }
};

}  // namespace

Dock& gtk_dock() {
  static GtkDock d;
  return d;
}

}  // namespace platform::gtk
