// Notifications through org.freedesktop.Notifications on the session bus, with
// asynchronous calls on the main context: a missing server answers at once (the
// bus says so), a hanging one runs into the call's time-out. Its signals count
// only when they come from the connection that owns the name at the time: any
// other program on the bus could send the same signal.

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_clip_notify.h"

namespace platform::gtk {

namespace {

constexpr char kName[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr int kCallTimeoutMs = 5000;

class GtkNotifier : public Notifier {
 public:
  void server(std::function<void(std::optional<std::vector<std::string>>)> done) override {
    with_bus([done](GDBusConnection* bus) {
      if (!bus) return done(std::nullopt);
      call(bus, "GetCapabilities", nullptr, "(as)", [done](GVariant* reply, const std::string&) {
        if (!reply) return done(std::nullopt);
        std::vector<std::string> caps;
        GVariantIter* it = nullptr;
        const gchar* cap = nullptr;
        g_variant_get(reply, "(as)", &it);
        GPtr<GVariantIter> owned(it);
        while (g_variant_iter_next(it, "&s", &cap)) caps.emplace_back(cap);
        done(std::move(caps));
      });
    });
  }

  void notify(const NotifyRequest& r, std::function<void(std::uint32_t, std::string)> done) override {
    with_bus([r, done](GDBusConnection* bus) {
      if (!bus) return done(0, "no session bus");
      GVariantBuilder actions;
      g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
      for (const auto& a : r.actions) {
        g_variant_builder_add(&actions, "s", a.key.c_str());
        g_variant_builder_add(&actions, "s", a.label.c_str());
      }
      GVariantBuilder hints;
      g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
      if (!r.sound_name.empty()) g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(r.sound_name.c_str()));
      if (!r.desktop_entry.empty())
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(r.desktop_entry.c_str()));
      // The server takes an icon as a file: URI.
      GPtr<char> icon(r.app_icon.empty() ? nullptr : g_filename_to_uri(r.app_icon.c_str(), nullptr, nullptr));
      if (r.inline_reply) {
        // KDE's reply field: an action named "inline-reply" and the texts of its field.
        g_variant_builder_add(&actions, "s", "inline-reply");
        g_variant_builder_add(&actions, "s", r.reply_button.c_str());
        g_variant_builder_add(&hints, "{sv}", "x-kde-reply-placeholder-text",
                              g_variant_new_string(r.reply_placeholder.c_str()));
        g_variant_builder_add(&hints, "{sv}", "x-kde-reply-submit-button-text",
                              g_variant_new_string(r.reply_button.c_str()));
      }
      GVariant* args = g_variant_new("(susssasa{sv}i)", r.app_name.c_str(), r.replaces_id, icon ? icon.get() : "",
                                     r.summary.c_str(), r.body.c_str(), &actions, &hints, -1);
      call(bus, "Notify", args, "(u)", [done](GVariant* reply, const std::string& error) {
        guint32 id = 0;
        if (reply) g_variant_get(reply, "(u)", &id);
        done(id, reply ? (id ? "" : "the server gave no id") : error);
      });
    });
  }

  void listen(std::function<void(const NotifyEvent&)> fn) override {
    listener_ = std::move(fn);
    with_bus([](GDBusConnection*) {});  // subscribes as soon as the bus is there
  }

 private:
  using Reply = std::function<void(GVariant*, const std::string&)>;

  static void call(GDBusConnection* bus, const char* method, GVariant* args, const char* type, Reply reply) {
    g_dbus_connection_call(
        bus, kName, kPath, kName, method, args, G_VARIANT_TYPE(type), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
        +[](GObject* source, GAsyncResult* res, gpointer p) {
          std::unique_ptr<Reply> reply(static_cast<Reply*>(p));
          GPtr<GError> error;
          GPtr<GVariant> v(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, out_ptr(error)));
          (*reply)(v.get(), error ? error->message : "");
        },
        new Reply(std::move(reply)));
  }

  // Calls fn with the session bus, or with null when there is none.
  void with_bus(std::function<void(GDBusConnection*)> fn) {
    if (bus_ && g_dbus_connection_is_closed(bus_.get())) {
      g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
      g_dbus_connection_signal_unsubscribe(bus_.get(), owner_subscription_);
      owner_.clear();
      owner_changed_ = false;
      bus_.reset();
    }
    if (bus_) return fn(bus_.get());
    waiting_.push_back(std::move(fn));
    if (opening_) return;
    opening_ = true;
    // Finding the bus may block: GIO does it on a worker thread.
    g_bus_get(G_BUS_TYPE_SESSION, nullptr,
              +[](GObject*, GAsyncResult* res, gpointer p) {
                auto* self = static_cast<GtkNotifier*>(p);
                GPtr<GError> error;
                GObjectPtr<GDBusConnection> bus(g_bus_get_finish(res, out_ptr(error)));
                if (!bus) g_printerr("quibex: notifications: no session bus (%s)\n", error ? error->message : "");
                self->opened(std::move(bus));
              },
              this);
  }

  void opened(GObjectPtr<GDBusConnection> bus) {
    opening_ = false;
    bus_ = std::move(bus);
    if (bus_) {
      // The shared connection would end the process when the bus goes away.
      g_dbus_connection_set_exit_on_close(bus_.get(), FALSE);
      follow_owner();
      subscription_ = g_dbus_connection_signal_subscribe(bus_.get(), kName, kName, nullptr, kPath, nullptr,
                                                         G_DBUS_SIGNAL_FLAGS_NONE, &GtkNotifier::on_signal, this, nullptr);
    }
    std::vector<std::function<void(GDBusConnection*)>> waiting;
    waiting.swap(waiting_);
    for (auto& fn : waiting) fn(bus_.get());
  }

  // The name's owner changes when a server starts (the bus may start one on the
  // first call) or ends. The bus's NameOwnerChanged reaches the main context
  // before any signal of the new owner; the first GetNameOwner only says who
  // owned the name before any change was seen.
  void follow_owner() {
    owner_subscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus", kName,
        G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar*, GVariant* params,
            gpointer p) {
          // Only the bus itself speaks as org.freedesktop.DBus.
          const gchar *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
          if (g_strcmp0(sender, "org.freedesktop.DBus") != 0 || !g_variant_is_of_type(params, G_VARIANT_TYPE("(sss)")))
            return;
          g_variant_get(params, "(&s&s&s)", &name, &old_owner, &new_owner);
          auto* self = static_cast<GtkNotifier*>(p);
          self->owner_ = new_owner;
          self->owner_changed_ = true;
        },
        this, nullptr);
    g_dbus_connection_call(
        bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
        g_variant_new("(s)", kName), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
        +[](GObject* source, GAsyncResult* res, gpointer p) {
          auto* self = static_cast<GtkNotifier*>(p);
          GPtr<GVariant> v(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr));
          // No owner is an error; a NameOwnerChanged that came first is newer.
          if (v && !self->owner_changed_ && G_DBUS_CONNECTION(source) == self->bus_.get()) {
            const gchar* owner = nullptr;
            g_variant_get(v.get(), "(&s)", &owner);
            self->owner_ = owner;
          }
        },
        this);
  }

  static void on_signal(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* member,
                        GVariant* params, gpointer p) {
    auto* self = static_cast<GtkNotifier*>(p);
    if (!self->listener_) return;
    if (!sender || self->owner_ != sender) return;  // another program on the bus
    NotifyEvent e;
    guint32 id = 0;
    if (g_str_equal(member, "ActionInvoked") && g_variant_is_of_type(params, G_VARIANT_TYPE("(us)"))) {
      const gchar* key = nullptr;
      g_variant_get(params, "(u&s)", &id, &key);
      e = {NotifyEvent::kAction, id, key};
    } else if (g_str_equal(member, "NotificationReplied") && g_variant_is_of_type(params, G_VARIANT_TYPE("(us)"))) {
      const gchar* text = nullptr;
      g_variant_get(params, "(u&s)", &id, &text);
      e = {NotifyEvent::kReplied, id, text};
    } else if (g_str_equal(member, "NotificationClosed") && g_variant_is_of_type(params, G_VARIANT_TYPE("(uu)"))) {
      guint32 reason = 0;
      g_variant_get(params, "(uu)", &id, &reason);
      e = {NotifyEvent::kClosed, id, ""};
    } else {
      return;
    }
    self->listener_(e);
  }

  GObjectPtr<GDBusConnection> bus_;
  guint subscription_ = 0;
  guint owner_subscription_ = 0;
  std::string owner_;  // the unique name of the server now, "" = none
  bool owner_changed_ = false;
  bool opening_ = false;
  std::vector<std::function<void(GDBusConnection*)>> waiting_;
  std::function<void(const NotifyEvent&)> listener_;
};

}  // namespace

Notifier& gtk_notifier() {
  static GtkNotifier n;
  return n;
}

}  // namespace platform::gtk
