// Secrets through the Secret Service (libsecret), authentication through polkit,
// and other applications' windows through the window manager's EWMH lists.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <libsecret/secret.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/gtk/gtk_buses.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/gtk_screens.h"
#include "platform/gtk/x11_props.h"
#include "platform/system_access.h"

namespace platform::gtk {

namespace {

// One schema for every item: the service and account pair names it.
const SecretSchema* schema() {
  static const SecretSchema s = {"org.quibex.Secret",
                                 SECRET_SCHEMA_NONE,
                                 {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                  {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                  {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return &s;
}

GHashTable* attributes(const std::string& service, const std::string& account) {
  GHashTable* t = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
  g_hash_table_insert(t, g_strdup("service"), g_strdup(service.c_str()));
  g_hash_table_insert(t, g_strdup("account"), g_strdup(account.c_str()));
  return t;
}

using SecretDone = std::function<void(SecretResult)>;

SecretResult from_error(GError* error) {
  SecretResult r;
  r.status = error->code ? error->code : -1;
  r.message = error->message ? error->message : "";
  g_error_free(error);
  return r;
}

void lookup_done(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<SecretDone> done(static_cast<SecretDone*>(data));
  GError* error = nullptr;
  SecretValue* value = secret_password_lookup_binary_finish(res, &error);
  if (error) return (*done)(from_error(error));
  SecretResult r;
  if (value) {
    r.found = true;
    gsize n = 0;
    const gchar* bytes = secret_value_get(value, &n);
    if (g_utf8_validate(bytes, gssize(n), nullptr)) r.value = std::string(bytes, n);
    secret_value_unref(value);
  }
  (*done)(r);
}

void stored(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<SecretDone> done(static_cast<SecretDone*>(data));
  GError* error = nullptr;
  secret_password_store_finish(res, &error);
  (*done)(error ? from_error(error) : SecretResult{});
}

void cleared(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<SecretDone> done(static_cast<SecretDone*>(data));
  GError* error = nullptr;
  secret_password_clear_finish(res, &error);  // false without error: nothing matched
  (*done)(error ? from_error(error) : SecretResult{});
}

// ---- polkit -----------------------------------------------------------------

using AuthDone = std::function<void(bool, std::optional<std::string>)>;

struct AuthCall {
  AuthDone done;
  std::string action;
  std::string reason;
};

void auth_checked(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<AuthCall> call(static_cast<AuthCall*>(data));
  GError* error = nullptr;
  GVariant* out = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &error);
  if (!out) {
    std::string text = error ? error->message : "authentication failed";
    g_clear_error(&error);
    return call->done(false, text);
  }
  gboolean authorized = FALSE, challenge = FALSE;
  g_variant_get(out, "((bb@a{ss}))", &authorized, &challenge, nullptr);
  g_variant_unref(out);
  if (authorized) return call->done(true, std::nullopt);
  call->done(false, std::string("not authorized"));
}

void auth_bus(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<AuthCall> call(static_cast<AuthCall*>(data));
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(res, &error);
  if (!bus) {
    g_clear_error(&error);
    return call->done(false, std::string("authentication unavailable"));
  }
  // The shared connection must not end the process when the bus goes away.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  GVariantBuilder subject;
  g_variant_builder_init(&subject, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&subject, "{sv}", "name", g_variant_new_string(g_dbus_connection_get_unique_name(bus)));
  GVariantBuilder details;
  g_variant_builder_init(&details, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&details, "{ss}", "polkit.message", call->reason.c_str());
  GVariant* args = g_variant_new("((sa{sv})sa{ss}us)", "system-bus-name", &subject, call->action.c_str(), &details,
                                 guint32(1) /* allow user interaction */, "");
  AuthCall* raw = call.release();
  // The user may take as long as they like to answer the prompt.
  g_dbus_connection_call(bus, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                         "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization", args,
                         G_VARIANT_TYPE("((bba{ss}))"), G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, auth_checked, raw);
  g_object_unref(bus);
}

// ---- other applications' windows ---------------------------------------------

bool has_atom(const std::vector<unsigned long>& list, Atom a) {
  return std::find(list.begin(), list.end(), a) != list.end();
}

WindowMove move_window(long pid, const Rect& frame) {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return WindowMove::kNoWindow;
  Display* dpy = GDK_DISPLAY_XDISPLAY(display);
  const Window root = DefaultRootWindow(dpy);
  gdk_x11_display_error_trap_push(display);
  WindowMove result = WindowMove::kNoWindow;
  Window target = 0;
  if (auto clients = x11_prop_items(dpy, root, "_NET_CLIENT_LIST", XA_WINDOW)) {
    std::vector<Window> mine;
    for (unsigned long w : *clients) {
      auto p = x11_prop_items(dpy, Window(w), "_NET_WM_PID", XA_CARDINAL);
      if (p && !p->empty() && long((*p)[0]) == pid) mine.push_back(Window(w));
    }
    // The main window: the focused one when it is the process's, else its first.
    auto active = x11_prop_items(dpy, root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
    if (active && !active->empty() && std::count(mine.begin(), mine.end(), Window((*active)[0])))
      target = Window((*active)[0]);
    else if (!mine.empty())
      target = mine.front();
  }
  if (target) {
    result = WindowMove::kMoved;
    if (auto allowed = x11_prop_items(dpy, target, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM))
      if (!has_atom(*allowed, x11_atom(dpy, "_NET_WM_ACTION_MOVE")) ||
          !has_atom(*allowed, x11_atom(dpy, "_NET_WM_ACTION_RESIZE")))
        result = WindowMove::kRefused;
  }
  if (result == WindowMove::kMoved) {
    long l = 0, r = 0, t = 0, b = 0;
    if (auto e = x11_prop_items(dpy, target, "_NET_FRAME_EXTENTS", XA_CARDINAL); e && e->size() == 4) {
      l = long((*e)[0]);
      r = long((*e)[1]);
      t = long((*e)[2]);
      b = long((*e)[3]);
    }
    int x = 0, y = 0;
    host_top_left_to_root(frame, x, y);
    // The size asked is the outer frame's; the window manager sizes the client.
    auto clamp = [](double v) { return long(std::clamp(v, 1.0, 32767.0)); };
    const long cw = clamp(frame.w - l - r), ch = clamp(frame.h - t - b);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = target;
    ev.xclient.message_type = x11_atom(dpy, "_NET_MOVERESIZE_WINDOW");
    ev.xclient.format = 32;
    // North-west gravity: x and y place the frame's top-left corner. Source 2: a
    // pager or tool acting for the user, which window managers obey.
    ev.xclient.data.l[0] = NorthWestGravity | (0xF << 8) | (2 << 12);
    ev.xclient.data.l[1] = x;
    ev.xclient.data.l[2] = y;
    ev.xclient.data.l[3] = cw;
    ev.xclient.data.l[4] = ch;
    XSendEvent(dpy, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XFlush(dpy);
  }
  if (gdk_x11_display_error_trap_pop(display)) result = WindowMove::kNoWindow;  // it went away meanwhile
  return result;
}

// Without a session bus there is no Secret Service to reach.
bool no_store(const SecretDone& done) {
  if (desktop_session_bus_configured()) return false;
  SecretResult r;
  r.status = -1;
  r.message = "no session bus, so no Secret Service";
  done(r);
  return true;
}

class GtkSystemAccess : public SystemAccess {
 public:
  void secret_get(const std::string& service, const std::string& account, SecretDone done) override {
    if (no_store(done)) return;
    GHashTable* attrs = attributes(service, account);
    secret_password_lookupv(schema(), attrs, nullptr, lookup_done, new SecretDone(std::move(done)));
    g_hash_table_unref(attrs);
  }
  void secret_set(const std::string& service, const std::string& account, const std::string& value,
                  SecretDone done) override {
    if (no_store(done)) return;
    GHashTable* attrs = attributes(service, account);
    // The service replaces the matching item as it stores the new one: there is
    // never a moment without a secret, and a failed store keeps the old one.
    SecretValue* v = secret_value_new(value.data(), gssize(value.size()), "text/plain");
    const std::string label = service + " (" + account + ")";
    secret_password_storev_binary(schema(), attrs, SECRET_COLLECTION_DEFAULT, label.c_str(), v, nullptr, stored,
                                  new SecretDone(std::move(done)));
    secret_value_unref(v);
    g_hash_table_unref(attrs);
  }
  void secret_delete(const std::string& service, const std::string& account, SecretDone done) override {
    if (no_store(done)) return;
    GHashTable* attrs = attributes(service, account);
    secret_password_clearv(schema(), attrs, nullptr, cleared, new SecretDone(std::move(done)));
    g_hash_table_unref(attrs);
  }
  void authenticate(const std::string& reason, AuthDone done) override {
    // polkit asks only for an action the application has installed a policy for.
    const char* action = std::getenv("QUIBEX_POLKIT_ACTION");
    if (!action || !*action) return done(false, std::string("authentication unavailable"));
    g_bus_get(G_BUS_TYPE_SYSTEM, nullptr, auth_bus, new AuthCall{std::move(done), action, reason});
  }
  WindowMove move_app_window(long pid, const Rect& frame) override { return move_window(pid, frame); }
};

}  // namespace

SystemAccess& gtk_system_access() {
  static GtkSystemAccess access;
  return access;
}

}  // namespace platform::gtk
