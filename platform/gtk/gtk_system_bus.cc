// The power source from UPower and the Wi-Fi link from NetworkManager, asked on
// the system bus with asynchronous calls on the main context: a daemon that is
// missing answers at once (the bus says so), one that hangs runs into the call's
// time-out, and nothing ever waits inside a command.

#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_system_info.h"

namespace platform::gtk {

namespace {

constexpr int kCallTimeoutMs = 1500;

// ---- the connection ---------------------------------------------------------

// A connection of our own, so that neither its closing nor anyone else's use of
// the shared one can end the process or leave us with a closed connection.
GDBusConnection* g_bus = nullptr;
bool g_opening = false;
std::vector<std::function<void(GDBusConnection*)>> g_waiting;

void deliver(GDBusConnection* bus) {
  g_opening = false;
  g_bus = bus;
  std::vector<std::function<void(GDBusConnection*)>> waiting;
  waiting.swap(g_waiting);
  for (auto& fn : waiting) fn(bus);
}

// Says why the bus cannot be reached, once for each reason.
void report(const char* what, const GError* error) {
  static std::string last;
  const std::string text = std::string(what) + (error ? error->message : "no reason given");
  if (text != last) g_printerr("quibex: %s\n", text.c_str());
  last = text;
}

void bus_opened(GObject*, GAsyncResult* res, gpointer) {
  GPtr<GError> error;
  GDBusConnection* bus = g_dbus_connection_new_for_address_finish(res, out_ptr(error));
  if (!bus) report("the system bus cannot be reached: ", error.get());
  deliver(bus);
}

// Calls fn with the system bus, or with null when it cannot be reached.
void with_bus(std::function<void(GDBusConnection*)> fn) {
  if (g_bus && g_dbus_connection_is_closed(g_bus)) g_clear_object(&g_bus);  // the bus restarted: open anew
  if (g_bus) return fn(g_bus);
  g_waiting.push_back(std::move(fn));
  if (g_opening) return;
  GPtr<GError> error;
  GPtr<char> address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, out_ptr(error)));
  if (!address) {
    report("the system bus has no address: ", error.get());
    return deliver(nullptr);
  }
  g_opening = true;
  g_dbus_connection_new_for_address(
      address.get(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &bus_opened, nullptr);
}

// ---- calls ------------------------------------------------------------------

using Reply = std::function<void(GVariant*)>;  // the reply tuple, null on any failure

void call_done(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Reply> done(static_cast<Reply*>(data));
  // A missing daemon, object or property is an ordinary answer here.
  GPtr<GVariant> reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr));
  (*done)(reply.get());
}

void call(const char* service, const std::string& path, const char* iface, const char* method, GVariant* args,
          const char* reply_type, Reply done) {
  with_bus([=, done = std::move(done)](GDBusConnection* bus) mutable {
    if (!bus || !g_variant_is_object_path(path.c_str())) {
      if (args) g_variant_unref(g_variant_ref_sink(args));
      return done(nullptr);
    }
    g_dbus_connection_call(bus, service, path.c_str(), iface, method, args, G_VARIANT_TYPE(reply_type),
                           G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &call_done, new Reply(std::move(done)));
  });
}

// Every property of an interface, as an a{sv} dictionary (null on failure).
void get_all(const char* service, const std::string& path, const char* iface, Reply done) {
  call(service, path, "org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", iface), "(a{sv})",
       [done = std::move(done)](GVariant* reply) {
         if (!reply) return done(nullptr);
         GPtr<GVariant> dict(g_variant_get_child_value(reply, 0));
         done(dict.get());
       });
}

// A property of the given type; the fallback when it is missing or of another type.
template <class T>
T lookup(GVariant* dict, const char* key, const char* type, T fallback) {
  GPtr<GVariant> v(dict ? g_variant_lookup_value(dict, key, G_VARIANT_TYPE(type)) : nullptr);
  if (!v) return fallback;
  T out{};
  g_variant_get(v.get(), type, &out);
  return out;
}

// A string or object-path property; "" when missing.
std::string lookup_string(GVariant* dict, const char* key, const char* type = "s") {
  GPtr<GVariant> v(dict ? g_variant_lookup_value(dict, key, G_VARIANT_TYPE(type)) : nullptr);
  return v ? g_variant_get_string(v.get(), nullptr) : "";
}

std::vector<std::string> object_paths(GVariant* v) {
  std::vector<std::string> out;
  if (!v || !g_variant_is_of_type(v, G_VARIANT_TYPE("ao"))) return out;
  GVariantIter it;
  g_variant_iter_init(&it, v);
  const gchar* p = nullptr;
  while (g_variant_iter_next(&it, "&o", &p)) out.push_back(p);
  return out;
}

// Tries each item in turn until one is taken; then, or after the last, done.
template <class Item>
struct Walk : std::enable_shared_from_this<Walk<Item>> {
  std::vector<Item> items;
  size_t next = 0;
  std::function<void(const Item&, std::function<void(bool taken)>)> try_one;
  std::function<void()> none;
  void step() {
    if (next >= items.size()) return none();
    const Item& item = items[next++];
    auto self = this->shared_from_this();
    try_one(item, [self](bool taken) {
      if (!taken) self->step();
    });
  }
};

template <class Item>
void walk(std::vector<Item> items, std::function<void(const Item&, std::function<void(bool)>)> try_one,
          std::function<void()> none) {
  auto w = std::make_shared<Walk<Item>>();
  w->items = std::move(items);
  w->try_one = std::move(try_one);
  w->none = std::move(none);
  w->step();
}

// ---- UPower -----------------------------------------------------------------

constexpr const char* kUPower = "org.freedesktop.UPower";
constexpr const char* kUPowerPath = "/org/freedesktop/UPower";
constexpr const char* kUPowerDevice = "org.freedesktop.UPower.Device";
constexpr const char* kDisplayDevice = "/org/freedesktop/UPower/devices/DisplayDevice";

enum : guint32 { kKindLinePower = 1, kKindBattery = 2, kKindUps = 3 };
enum : guint32 { kStateCharging = 1 };

bool is_power_source(GVariant* props, bool composite) {
  const guint32 kind = lookup<guint32>(props, "Type", "u", 0);
  if (kind != kKindBattery && kind != kKindUps) return false;
  if (!lookup<gboolean>(props, "IsPresent", "b", FALSE)) return false;
  // The composite device stands for the machine's own batteries; of the others only
  // those that power the machine count (not a mouse's or a phone's).
  return composite || lookup<gboolean>(props, "PowerSupply", "b", FALSE);
}

PowerSource power_source_from(GVariant* props, bool on_battery) {
  PowerSource p;
  p.current = lookup<gdouble>(props, "Percentage", "d", 0);
  p.max = 100;
  p.charging = lookup<guint32>(props, "State", "u", 0) == kStateCharging;
  p.on_ac = !on_battery;
  // Seconds; 0 means the daemon has no estimate yet.
  auto minutes = [](gint64 s) { return s > 0 ? (long long)(s / 60) : -1LL; };
  p.minutes_to_empty = minutes(lookup<gint64>(props, "TimeToEmpty", "x", 0));
  p.minutes_to_full = minutes(lookup<gint64>(props, "TimeToFull", "x", 0));
  return p;
}

// ---- NetworkManager ---------------------------------------------------------

constexpr const char* kNM = "org.freedesktop.NetworkManager";
constexpr const char* kNMPath = "/org/freedesktop/NetworkManager";
constexpr const char* kNMDevice = "org.freedesktop.NetworkManager.Device";
constexpr const char* kNMWireless = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr const char* kNMAccessPoint = "org.freedesktop.NetworkManager.AccessPoint";

enum : guint32 { kDeviceWifi = 2 };
enum : guint32 { kDeviceDisconnected = 30 };  // below: unknown, unmanaged, unavailable (radio off)

std::optional<std::string> non_empty(std::string s) {
  return s.empty() ? std::nullopt : std::optional<std::string>(std::move(s));
}

std::optional<std::string> ssid_of(GVariant* props) {
  GPtr<GVariant> v(props ? g_variant_lookup_value(props, "Ssid", G_VARIANT_TYPE("ay")) : nullptr);
  if (!v) return std::nullopt;
  gsize n = 0;
  const char* bytes = static_cast<const char*>(g_variant_get_fixed_array(v.get(), &n, 1));
  return non_empty(std::string(bytes ? bytes : "", bytes ? n : 0));
}

void wifi_from_device(const std::string& device, std::function<void(std::optional<WifiLink>)> done) {
  get_all(kNM, device, kNMWireless, [done = std::move(done)](GVariant* wireless) {
    if (!wireless) return done(std::nullopt);
    WifiLink link;
    link.tx_rate = lookup<guint32>(wireless, "Bitrate", "u", 0) / 1000.0;  // kbit/s
    const std::string ap = lookup_string(wireless, "ActiveAccessPoint", "o");
    if (ap.empty() || ap == "/") {
      link.rssi = 0;  // not associated: no signal
      return done(link);
    }
    get_all(kNM, ap, kNMAccessPoint, [link, done](GVariant* props) mutable {
      if (props) {
        link.ssid = ssid_of(props);
        link.bssid = non_empty(lookup_string(props, "HwAddress"));
        link.rssi = dbm_from_strength(lookup<guchar>(props, "Strength", "y", 0));
      }
      done(link);
    });
  });
}

}  // namespace

long dbm_from_strength(int percent) {
  if (percent >= 30) return std::min(percent, 100) - 120;
  return std::lround(-40 - (100 - std::max(percent, 0)) * 0.6);
}

void upower_power_source(std::function<void(std::optional<PowerSource>)> done) {
  get_all(kUPower, kUPowerPath, kUPower, [done = std::move(done)](GVariant* daemon) {
    if (!daemon) return done(std::nullopt);  // no power daemon
    const bool on_battery = lookup<gboolean>(daemon, "OnBattery", "b", FALSE);
    // The composite device first; daemons without one, or whose composite shows
    // nothing, list their devices.
    get_all(kUPower, kDisplayDevice, kUPowerDevice, [done, on_battery](GVariant* display) {
      if (is_power_source(display, true)) return done(power_source_from(display, on_battery));
      call(kUPower, kUPowerPath, kUPower, "EnumerateDevices", nullptr, "(ao)", [done, on_battery](GVariant* reply) {
        GPtr<GVariant> list(reply ? g_variant_get_child_value(reply, 0) : nullptr);
        std::vector<std::string> devices = object_paths(list.get());
        walk<std::string>(
            std::move(devices),
            [done, on_battery](const std::string& path, std::function<void(bool)> next) {
              get_all(kUPower, path, kUPowerDevice, [done, on_battery, next](GVariant* props) {
                if (!is_power_source(props, false)) return next(false);
                done(power_source_from(props, on_battery));
                next(true);
              });
            },
            [done] { done(std::nullopt); });
      });
    });
  });
}

void network_manager_wifi(std::function<void(std::optional<WifiLink>)> done) {
  get_all(kNM, kNMPath, kNM, [done = std::move(done)](GVariant* manager) {
    if (!manager) return done(std::nullopt);  // no network daemon
    if (!lookup<gboolean>(manager, "WirelessEnabled", "b", FALSE)) return done(std::nullopt);  // radio off
    GPtr<GVariant> list(g_variant_lookup_value(manager, "Devices", G_VARIANT_TYPE("ao")));
    std::vector<std::string> devices = object_paths(list.get());
    // The first Wi-Fi interface, as the daemon lists its devices.
    walk<std::string>(
        std::move(devices),
        [done](const std::string& path, std::function<void(bool)> next) {
          get_all(kNM, path, kNMDevice, [done, next, path](GVariant* props) {
            if (lookup<guint32>(props, "DeviceType", "u", 0) != kDeviceWifi) return next(false);
            next(true);
            if (lookup<guint32>(props, "State", "u", 0) < kDeviceDisconnected) return done(std::nullopt);
            wifi_from_device(path, done);
          });
        },
        [done] { done(std::nullopt); });
  });
}

}  // namespace platform::gtk
