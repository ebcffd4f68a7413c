// The theme from the desktop portal's color-scheme (GtkSettings where the portal
// has no preference, or has not answered yet), the locale from the environment and locale1, sleep and
// wake from logind.

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/ascii_case.h"
#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_buses.h"
#include "platform/gtk/gtk_desktop_services.h"

namespace platform::gtk {

// ---- buses --------------------------------------------------------------------

namespace {

GDBusConnection* g_system = nullptr;
bool g_system_opening = false;
std::vector<std::function<void(GDBusConnection*)>> g_system_waiting;

}  // namespace

GDBusConnection* desktop_session_bus() {
  static GDBusConnection* bus = nullptr;
  static bool tried = false;
  if (bus && g_dbus_connection_is_closed(bus)) g_clear_object(&bus);
  if (bus || tried) return bus;
  tried = true;
  if (!desktop_session_bus_configured()) return nullptr;
  bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
  return bus;
}

void with_desktop_system_bus(std::function<void(GDBusConnection*)> fn) {
  if (g_system && g_dbus_connection_is_closed(g_system)) g_clear_object(&g_system);
  if (g_system) return fn(g_system);
  g_system_waiting.push_back(std::move(fn));
  if (g_system_opening) return;
  auto deliver = [](GDBusConnection* bus) {
    g_system_opening = false;
    g_system = bus;
    auto waiting = std::move(g_system_waiting);
    g_system_waiting.clear();
    for (auto& f : waiting) f(bus);
  };
  GPtr<char> address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
  if (!address) return deliver(nullptr);
  g_system_opening = true;
  g_dbus_connection_new_for_address(
      address.get(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr,
      +[](GObject*, GAsyncResult* res, gpointer) {
        GDBusConnection* bus = g_dbus_connection_new_for_address_finish(res, nullptr);
        if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_system_opening = false;
        g_system = bus;
        auto waiting = std::move(g_system_waiting);
        g_system_waiting.clear();
        for (auto& f : waiting) f(bus);
      },
      nullptr);
}

// ---- system events --------------------------------------------------------------

namespace {

// "de_DE.UTF-8@euro" -> "de-DE"; "C" and "POSIX" name no language.
std::string language_tag(std::string s) {
  s = s.substr(0, s.find_first_of(".@"));
  if (s.empty() || s == "C" || s == "POSIX") return "";
  std::replace(s.begin(), s.end(), '_', '-');
  return s;
}

void add_languages(std::vector<std::string>& out, const std::string& list) {
  size_t start = 0;
  for (;;) {
    const size_t colon = list.find(':', start);
    const std::string tag = language_tag(list.substr(start, colon == std::string::npos ? colon : colon - start));
    if (!tag.empty() && std::find(out.begin(), out.end(), tag) == out.end()) out.push_back(tag);
    if (colon == std::string::npos) return;
    start = colon + 1;
  }
}

std::string env(const char* name) {
  const char* v = g_getenv(name);
  return v ? v : "";
}

class GtkSystemEvents : public SystemEvents {
 public:
  bool dark_theme() override {
    if (scheme_ == 1) return true;
    if (scheme_ == 2) return false;
    return gtk_dark();
  }

  LocaleInfo locale() override {
    LocaleInfo info;
    // The locale that wins for messages names the first language; LANGUAGE,
    // where the locale is not C, lists the user's order.
    std::string main = env("LC_ALL");
    if (main.empty()) main = env("LC_MESSAGES");
    if (main.empty()) main = env("LANG");
    if (!language_tag(main).empty()) add_languages(info.preferred, env("LANGUAGE"));
    add_languages(info.preferred, main);
    for (const char* var : {"LC_ALL", "LANG"}) {
      std::string tag = language_tag(env(var));
      const size_t dash = tag.find('-');
      if (dash != std::string::npos) {
        info.region = tag.substr(dash + 1);
        break;
      }
    }
    info.system = system_languages_;
    GPtr<GTimeZone> tz(g_time_zone_new_local());
    info.time_zone = tz ? g_time_zone_get_identifier(tz.get()) : "UTC";
    return info;
  }

  void set_handlers(SystemEventHandlers h) override {
    handlers_ = std::move(h);
    dark_ = dark_theme();
    if (GtkSettings* s = gtk_settings_get_default()) {
      g_signal_connect_swapped(s, "notify::gtk-theme-name", G_CALLBACK(+[](GtkSystemEvents* self) { self->theme_maybe_changed(); }), this);
      g_signal_connect_swapped(s, "notify::gtk-application-prefer-dark-theme",
                               G_CALLBACK(+[](GtkSystemEvents* self) { self->theme_maybe_changed(); }), this);
    }
    if (GDBusConnection* bus = desktop_session_bus())
      watch_portal(bus);
    else
      theme_known();
    with_desktop_system_bus([this](GDBusConnection* bus) {
      if (bus) watch_system(bus);
    });
  }

 private:
  static bool gtk_dark() {
    GtkSettings* s = gtk_settings_get_default();
    if (!s) return false;
    gboolean prefer = FALSE;
    gchar* name = nullptr;
    g_object_get(s, "gtk-application-prefer-dark-theme", &prefer, "gtk-theme-name", &name, nullptr);
    std::string theme = ascii_lower(take_string(name));
    return prefer || theme.find("-dark") != std::string::npos || theme.find(":dark") != std::string::npos;
  }

  void theme_known() {
    if (theme_said_) return;
    theme_said_ = true;
    if (handlers_.theme_known) handlers_.theme_known();
  }

  void theme_maybe_changed() {
    const bool dark = dark_theme();
    if (dark == dark_) return;
    dark_ = dark;
    if (handlers_.theme_changed) handlers_.theme_changed();
  }

  // color-scheme: 0 no preference, 1 dark, 2 light.
  static int scheme_of(GPtr<GVariant> v) {
    while (v && g_variant_is_of_type(v.get(), G_VARIANT_TYPE_VARIANT)) v.reset(g_variant_get_variant(v.get()));
    return v && g_variant_is_of_type(v.get(), G_VARIANT_TYPE_UINT32) ? int(g_variant_get_uint32(v.get())) : 0;
  }

  void watch_portal(GDBusConnection* bus) {
    g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.portal.Desktop", "org.freedesktop.portal.Settings", "SettingChanged",
        "/org/freedesktop/portal/desktop", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params, gpointer data) {
          auto* self = static_cast<GtkSystemEvents*>(data);
          const gchar *ns = nullptr, *key = nullptr;
          GVariant* value = nullptr;
          if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ssv)"))) return;
          g_variant_get(params, "(&s&sv)", &ns, &key, &value);
          GPtr<GVariant> owned(value);
          if (g_strcmp0(ns, "org.freedesktop.appearance") == 0 && g_strcmp0(key, "color-scheme") == 0) {
            self->scheme_ = scheme_of(std::move(owned));
            self->scheme_changed_ = true;
            self->theme_maybe_changed();
          }
        },
        this, nullptr);
    read_scheme(bus, "ReadOne");
  }

  // Asks the portal once, without waiting for it: the host goes on starting, and
  // whoever wants the first answer hears theme_known (portals before ReadOne
  // are asked with Read).
  void read_scheme(GDBusConnection* bus, const char* method) {
    g_dbus_connection_call(
        bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
        method, g_variant_new("(ss)", "org.freedesktop.appearance", "color-scheme"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        +[](GObject* source, GAsyncResult* res, gpointer data) {
          auto* self = static_cast<GtkSystemEvents*>(data);
          GPtr<GError> error;
          GPtr<GVariant> r(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, out_ptr(error)));
          const bool older = g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
          if (!r && older && !self->asked_read_) {
            self->asked_read_ = true;
            return self->read_scheme(G_DBUS_CONNECTION(source), "Read");
          }
          if (r) {
            // A change heard meanwhile is newer than this answer.
            if (!self->scheme_changed_)
              self->scheme_ = scheme_of(GPtr<GVariant>(g_variant_get_child_value(r.get(), 0)));
            self->theme_maybe_changed();
          }
          self->theme_known();
        },
        this);
  }

  void watch_system(GDBusConnection* bus) {
    g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep", "/org/freedesktop/login1",
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params, gpointer data) {
          auto* self = static_cast<GtkSystemEvents*>(data);
          if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(b)"))) return;
          gboolean start = FALSE;
          g_variant_get(params, "(b)", &start);
          auto& fn = start ? self->handlers_.will_sleep : self->handlers_.did_wake;
          if (fn) fn();
        },
        this, nullptr);
    g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.locale1", "org.freedesktop.DBus.Properties", "PropertiesChanged", "/org/freedesktop/locale1",
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection* c, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer data) {
          static_cast<GtkSystemEvents*>(data)->read_locale1(c, true);
        },
        this, nullptr);
    read_locale1(bus, false);
  }

  // The machine's languages: LANGUAGE, else LANG, of locale1's Locale.
  void read_locale1(GDBusConnection* bus, bool tell) {
    struct Ask {
      GtkSystemEvents* self;
      bool tell;
    };
    g_dbus_connection_call(
        bus, "org.freedesktop.locale1", "/org/freedesktop/locale1", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.locale1", "Locale"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 1500,
        nullptr,
        +[](GObject* src, GAsyncResult* res, gpointer data) {
          std::unique_ptr<Ask> ask(static_cast<Ask*>(data));
          GPtr<GVariant> r(g_dbus_connection_call_finish(G_DBUS_CONNECTION(src), res, nullptr));
          if (!r) return;
          GVariant* v = nullptr;
          g_variant_get(r.get(), "(v)", &v);
          GPtr<GVariant> value(v);
          std::string lang, language;
          if (v && g_variant_is_of_type(v, G_VARIANT_TYPE_STRING_ARRAY)) {
            gsize n = 0;
            const gchar** items = g_variant_get_strv(v, &n);  // the strings stay the variant's
            for (gsize i = 0; i < n; ++i) {
              std::string item = items[i];
              if (item.rfind("LANG=", 0) == 0) lang = item.substr(5);
              if (item.rfind("LANGUAGE=", 0) == 0) language = item.substr(9);
            }
            g_free(items);
          }
          std::vector<std::string> langs;
          if (!language_tag(lang).empty()) add_languages(langs, language);
          add_languages(langs, lang);
          auto* self = ask->self;
          std::optional<std::vector<std::string>> now;
          if (!langs.empty()) now = langs;
          if (now == self->system_languages_) return;
          self->system_languages_ = now;
          if (ask->tell && self->handlers_.locale_changed) self->handlers_.locale_changed();
        },
        new Ask{this, tell});
  }

  SystemEventHandlers handlers_;
  int scheme_ = 0;
  bool dark_ = false;
  bool theme_said_ = false;
  bool asked_read_ = false;
  bool scheme_changed_ = false;
  std::optional<std::vector<std::string>> system_languages_;
};

}  // namespace

SystemEvents& gtk_system_events() {
  static GtkSystemEvents events;
  return events;
}

}  // namespace platform::gtk
