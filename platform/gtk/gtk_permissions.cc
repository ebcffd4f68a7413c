// Permission answers on Linux, where the desktop asks the user about none of
// them but location: each says whether the thing can be done here at all.

#include <fcntl.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <glob.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_desktop_services.h"
#include "platform/gtk/gtk_identity.h"

namespace platform::gtk {

namespace {

using Loc = Permissions::Location;
using Done = std::function<void(GVariant*)>;  // the reply, null on any failure; done unrefs nothing

void call(GDBusConnection* bus, const char* dest, const char* path, const char* iface, const char* method,
          GVariant* args, int timeout_ms, Done done) {
  g_dbus_connection_call(
      bus, dest, path, iface, method, args, nullptr, G_DBUS_CALL_FLAGS_NONE, timeout_ms, nullptr,
      +[](GObject* src, GAsyncResult* res, gpointer data) {
        std::unique_ptr<Done> fn(static_cast<Done*>(data));
        GPtr<GVariant> r(g_dbus_connection_call_finish(G_DBUS_CONNECTION(src), res, nullptr));
        (*fn)(r.get());
      },
      new Done(std::move(done)));
}

bool owned(GVariant* r) {
  gboolean has = FALSE;
  if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(b)"))) g_variant_get(r, "(b)", &has);
  return has;
}

// A question to the bus itself.
void bus_call(GDBusConnection* bus, const char* method, GVariant* args, Done done) {
  call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method, args, 1500,
       std::move(done));
}

bool lists(GVariant* r, const char* name) {
  if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(as)"))) return false;
  GVariantIter* it = nullptr;
  const gchar* each = nullptr;
  bool found = false;
  g_variant_get(r, "(as)", &it);
  GPtr<GVariantIter> owned(it);
  while (!found && g_variant_iter_next(it, "&s", &each)) found = g_str_equal(each, name);
  return found;
}

constexpr const char* kNotifications = "org.freedesktop.Notifications";
constexpr const char* kGeo = "org.freedesktop.GeoClue2";
constexpr const char* kGeoManager = "/org/freedesktop/GeoClue2/Manager";

// With the system bus and GeoClue running: done(bus), else done(null).
void with_geoclue(std::function<void(GDBusConnection*)> done) {
  with_desktop_system_bus([done = std::move(done)](GDBusConnection* bus) {
    if (!bus) return done(nullptr);
    bus_call(bus, "NameHasOwner", g_variant_new("(s)", kGeo),
             [bus, done](GVariant* r) { done(owned(r) ? bus : nullptr); });
  });
}

class GtkPermissions : public Permissions {
 public:
  bool can_control_input() override { return gtk_desktop_keys().can_post_keys(); }
  bool can_capture_screen() override {
    // Any X11 client may read the root window's pixels.
    GdkDisplay* d = gdk_display_get_default();
    return d && GDK_IS_X11_DISPLAY(d);
  }
  void notification_server(std::function<void(bool)> done) override {
    GDBusConnection* bus = desktop_session_bus();
    if (!bus) return done(false);
    bus_call(bus, "NameHasOwner", g_variant_new("(s)", kNotifications), [done](GVariant* r) {
      if (owned(r)) return done(true);
      // A server the bus starts on the first notification shows it as well.
      GDBusConnection* again = desktop_session_bus();
      if (!again) return done(false);
      bus_call(again, "ListActivatableNames", nullptr, [done](GVariant* names) { done(lists(names, kNotifications)); });
    });
  }
  bool camera_usable() override {
    glob_t g{};
    bool ok = false;
    if (glob("/dev/video*", 0, nullptr, &g) == 0) {
      for (size_t i = 0; i < g.gl_pathc && !ok; ++i) {
        const int fd = open(g.gl_pathv[i], O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
          const unsigned caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
          ok = caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE);
        }
        close(fd);
      }
    }
    globfree(&g);
    return ok;
  }
  void microphone_usable(std::function<void(bool)> done) override {
    // An ALSA capture device this user may open (sound servers capture through them).
    glob_t g{};
    bool ok = false;
    if (glob("/dev/snd/pcmC*D*c", 0, nullptr, &g) == 0)
      for (size_t i = 0; i < g.gl_pathc && !ok; ++i) ok = access(g.gl_pathv[i], R_OK | W_OK) == 0;
    globfree(&g);
    done(ok);
  }
  void location_status(std::function<void(Location)> done) override {
    // No location service is location switched off: denied. With one, the
    // agent decides per request.
    with_geoclue([done](GDBusConnection* bus) {
      if (!bus) return done(Loc::kDenied);
      call(bus, kGeo, kGeoManager, "org.freedesktop.DBus.Properties", "Get",
           g_variant_new("(ss)", "org.freedesktop.GeoClue2.Manager", "AvailableAccuracyLevel"), 1500,
           [done](GVariant* r) {
             guint32 level = 0;
             if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(v)"))) {
               GVariant* v = nullptr;
               g_variant_get(r, "(v)", &v);
               GPtr<GVariant> owned(v);
               if (v && g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) level = g_variant_get_uint32(v);
             }
             done(level ? Loc::kUndetermined : Loc::kDenied);
           });
    });
  }
  void location_request(std::function<void(Location)> done) override {
    // Starting a client is what makes GeoClue's agent ask the user.
    with_geoclue([done](GDBusConnection* bus) {
      if (!bus) return done(Loc::kDenied);
      call(bus, kGeo, kGeoManager, "org.freedesktop.GeoClue2.Manager", "GetClient", nullptr, 5000,
           [bus, done](GVariant* r) {
             const gchar* path = nullptr;
             if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(o)"))) return done(Loc::kUndetermined);
             g_variant_get(r, "(&o)", &path);
             const std::string client = path;
             const std::string app = desktop_id();
             call(bus, kGeo, client.c_str(), "org.freedesktop.DBus.Properties", "Set",
                  g_variant_new("(ssv)", "org.freedesktop.GeoClue2.Client", "DesktopId", g_variant_new_string(app.c_str())),
                  5000, [bus, client, done](GVariant*) {
                    call(bus, kGeo, client.c_str(), "org.freedesktop.GeoClue2.Client", "Start", nullptr, 60000,
                         [bus, client, done](GVariant* started) {
                           if (started)
                             call(bus, kGeo, client.c_str(), "org.freedesktop.GeoClue2.Client", "Stop", nullptr, 5000,
                                  [](GVariant*) {});
                           done(started ? Loc::kGranted : Loc::kDenied);
                         });
                  });
           });
    });
  }
};

}  // namespace

Permissions& gtk_permissions() {
  static GtkPermissions p;
  return p;
}

}  // namespace platform::gtk
