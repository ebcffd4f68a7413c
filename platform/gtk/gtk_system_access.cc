// Secrets through the Secret Service (the secrets module), authentication through polkit,
// and other applications' windows through the window manager's EWMH lists. Each
// service is first asked a trivial question with a short time-out, so that one
// that holds its name but never answers fails a request in seconds. What follows
// may wait on a person at a prompt; the requester bounds it and withdraws the
// request (its GCancellable) when it stops waiting. Main thread only.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/common/module_loader.h"
#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_buses.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/gtk_screens.h"
#include "platform/gtk/secret_module.h"
#include "platform/gtk/x11_props.h"
#include "platform/system_access.h"

namespace platform::gtk {

namespace {

// The Secret Service, from its module; opened by the first request.
ModuleOf<SecretStore>& secrets() {
  static auto* m = new ModuleOf<SecretStore>("secret", "quibex_secret_module", "the Secret Service (libsecret)");
  return *m;
}

using SecretDone = std::function<void(SecretResult)>;

SecretResult from_error(const GError* error) {
  SecretResult r;
  r.status = error->code ? error->code : -1;
  r.message = error->message ? error->message : "";
  return r;
}

// One secret-store request, held by its pending callback and by its withdrawal.
struct SecretCall {
  SecretDone done;
  GObjectPtr<GCancellable> cancel{g_cancellable_new()};
  void finish(SecretResult r) {
    if (!done) return;
    SecretDone d = std::move(done);
    done = nullptr;
    d(std::move(r));
  }
  // The requester gave up: libsecret stops and dismisses an open unlock prompt,
  // and nothing is answered any more.
  void withdraw() {
    if (!done) return;
    done = nullptr;
    g_cancellable_cancel(cancel.get());
  }
};
using SecretRef = std::shared_ptr<SecretCall>;

// ---- is the service there? ---------------------------------------------------

// How long a service may take to answer a first, trivial question. A name held by
// a process that never answers would otherwise keep a request for the long
// time-outs of the real call (libsecret's stacked 25 s, polkit's none at all).
constexpr int kProbeMs = 5000;

// error is null when the service answered.
using Probed = std::function<void(GDBusConnection* bus, const GError* error)>;

struct Probe {
  std::string name, path, iface, property;
  GObjectPtr<GCancellable> cancel;
  Probed done;
  GObjectPtr<GDBusConnection> bus;
};

void probe_answered(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Probe> p(static_cast<Probe*>(data));
  GPtr<GError> error;
  GPtr<GVariant> out(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, out_ptr(error)));
  p->done(p->bus.get(), error.get());
}

void probe_bus(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Probe> p(static_cast<Probe*>(data));
  GPtr<GError> error;
  p->bus.reset(g_bus_get_finish(res, out_ptr(error)));
  if (!p->bus) return p->done(nullptr, error.get());
  // The shared connection must not end the process when the bus goes away.
  g_dbus_connection_set_exit_on_close(p->bus.get(), FALSE);
  Probe* raw = p.release();
  g_dbus_connection_call(raw->bus.get(), raw->name.c_str(), raw->path.c_str(), "org.freedesktop.DBus.Properties",
                         "Get", g_variant_new("(ss)", raw->iface.c_str(), raw->property.c_str()),
                         G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kProbeMs, raw->cancel.get(), probe_answered,
                         raw);
}

// Reads one property of name on the bus, then done(bus, error) on the main thread.
void probe(GBusType type, const char* name, const char* path, const char* iface, const char* property,
           GCancellable* cancel, Probed done) {
  auto* p = new Probe{name, path, iface, property, add_ref(cancel), std::move(done), nullptr};
  g_bus_get(type, cancel, probe_bus, p);
}

// ---- polkit -----------------------------------------------------------------

using AuthDone = std::function<void(bool, std::optional<std::string>)>;

constexpr const char* kPolkit = "org.freedesktop.PolicyKit1";
constexpr const char* kAuthority = "/org/freedesktop/PolicyKit1/Authority";
constexpr const char* kAuthorityIface = "org.freedesktop.PolicyKit1.Authority";

struct AuthCall {
  AuthDone done;
  std::string action;
  std::string reason;
  std::string cancellation_id;
  GObjectPtr<GCancellable> cancel{g_cancellable_new()};
  GObjectPtr<GDBusConnection> bus;  // once polkit has the request
  void finish(bool ok, std::optional<std::string> error) {
    if (!done) return;
    AuthDone d = std::move(done);
    done = nullptr;
    d(ok, std::move(error));
  }
  // The requester gave up: the prompt goes, and nothing is answered any more.
  void withdraw() {
    if (!done) return;
    done = nullptr;
    g_cancellable_cancel(cancel.get());
    if (bus)
      g_dbus_connection_call(bus.get(), kPolkit, kAuthority, kAuthorityIface, "CancelCheckAuthorization",
                             g_variant_new("(s)", cancellation_id.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, kProbeMs,
                             nullptr, nullptr, nullptr);
  }
};
using AuthRef = std::shared_ptr<AuthCall>;

void auth_checked(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<AuthRef> call(static_cast<AuthRef*>(data));
  GPtr<GError> error;
  GPtr<GVariant> out(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, out_ptr(error)));
  if (!out) return (*call)->finish(false, std::string(error ? error->message : "authentication failed"));
  gboolean authorized = FALSE, challenge = FALSE;
  g_variant_get(out.get(), "((bb@a{ss}))", &authorized, &challenge, nullptr);
  if (authorized) return (*call)->finish(true, std::nullopt);
  (*call)->finish(false, std::string("not authorized"));
}

void check_authorization(const AuthRef& call, GDBusConnection* bus) {
  call->bus = add_ref(bus);
  GVariantBuilder subject;
  g_variant_builder_init(&subject, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&subject, "{sv}", "name", g_variant_new_string(g_dbus_connection_get_unique_name(bus)));
  GVariantBuilder details;
  g_variant_builder_init(&details, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&details, "{ss}", "polkit.message", call->reason.c_str());
  GVariant* args = g_variant_new("((sa{sv})sa{ss}us)", "system-bus-name", &subject, call->action.c_str(), &details,
                                 guint32(1) /* allow user interaction */, call->cancellation_id.c_str());
  // No time-out here: the person at the prompt is waited for, as long as the
  // requester waits (it withdraws the request when it stops waiting).
  g_dbus_connection_call(bus, kPolkit, kAuthority, kAuthorityIface, "CheckAuthorization", args,
                         G_VARIANT_TYPE("((bba{ss}))"), G_DBUS_CALL_FLAGS_NONE, G_MAXINT, call->cancel.get(),
                         auth_checked, new AuthRef(call));
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

// Without a session bus there is no Secret Service to reach; a store that does
// not answer at once fails within the probe's bound. Otherwise op runs, with the
// secrets module and the call's cancellable; the result withdraws the request.
std::function<void()> with_store(SecretDone done, std::function<void(SecretStore&, const SecretRef&)> op) {
  auto call = std::make_shared<SecretCall>();
  call->done = std::move(done);
  if (!desktop_session_bus_configured()) {
    SecretResult r;
    r.status = -1;
    r.message = "no session bus, so no Secret Service";
    call->finish(r);
    return [] {};
  }
  probe(G_BUS_TYPE_SESSION, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "Collections", call->cancel.get(), [call, op = std::move(op)](GDBusConnection*, const GError* error) {
          if (error) return call->finish(from_error(error));
          if (!call->done) return;
          SecretStore* store = secrets().get();
          if (!store) {
            SecretResult r;
            r.status = -1;
            r.message = "the Secret Service cannot be reached without libsecret";
            return call->finish(r);
          }
          op(*store, call);
        });
  return [call] { call->withdraw(); };
}

class GtkSystemAccess : public SystemAccess {
 public:
  std::function<void()> secret_get(const std::string& service, const std::string& account,
                                   SecretDone done) override {
    return with_store(std::move(done), [service, account](SecretStore& store, const SecretRef& call) {
      store.lookup(service, account, call->cancel.get(), [call](SecretResult r) { call->finish(std::move(r)); });
    });
  }
  std::function<void()> secret_set(const std::string& service, const std::string& account, const std::string& value,
                                   SecretDone done) override {
    return with_store(std::move(done), [service, account, value](SecretStore& store, const SecretRef& call) {
      store.store(service, account, value, call->cancel.get(), [call](SecretResult r) { call->finish(std::move(r)); });
    });
  }
  std::function<void()> secret_delete(const std::string& service, const std::string& account,
                                      SecretDone done) override {
    return with_store(std::move(done), [service, account](SecretStore& store, const SecretRef& call) {
      store.clear(service, account, call->cancel.get(), [call](SecretResult r) { call->finish(std::move(r)); });
    });
  }
  std::function<void()> authenticate(const std::string& reason, AuthDone done) override {
    // polkit asks only for an action the application has installed a policy for.
    const char* action = std::getenv("QUIBEX_POLKIT_ACTION");
    if (action && *action && !g_utf8_validate(action, -1, nullptr)) {
      g_printerr("quibex: QUIBEX_POLKIT_ACTION is not UTF-8 text\n");
      action = nullptr;
    }
    if (!action || !*action) {
      done(false, std::string("authentication unavailable"));
      return [] {};
    }
    static unsigned serial = 0;
    auto call = std::make_shared<AuthCall>();
    call->done = std::move(done);
    call->action = action;
    call->reason = reason;
    call->cancellation_id = "quibex-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    // A polkit that is missing, refuses calls or never answers does not get the
    // request: the answer comes at once (or within the probe's bound).
    probe(G_BUS_TYPE_SYSTEM, kPolkit, kAuthority, kAuthorityIface, "BackendVersion", call->cancel.get(),
          [call](GDBusConnection* bus, const GError* error) {
            if (error) {
              if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
                g_printerr("quibex: polkit cannot be asked: %s\n", error->message);
              return call->finish(false, std::string("authentication unavailable"));
            }
            if (call->done) check_authorization(call, bus);
          });
    return [call] { call->withdraw(); };
  }
  WindowMove move_app_window(long pid, const Rect& frame) override { return move_window(pid, frame); }
};

}  // namespace

SystemAccess& gtk_system_access() {
  static GtkSystemAccess access;
  return access;
}

}  // namespace platform::gtk
