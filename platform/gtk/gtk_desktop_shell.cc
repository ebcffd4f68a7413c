// The shell services on the Linux desktop: GIO for opening and the trash, the file
// manager's org.freedesktop.FileManager1 for revealing, logind and the screen
// saver for staying awake, libcanberra for sounds (gtk_sounds.cc), and a bounded
// walk of the home folder for file search.

#include <gdk/gdk.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop_shell.h"
#include "platform/common/module_loader.h"
#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_buses.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/gtk_sounds.h"
#include "platform/gtk/index_module.h"
#include "platform/platform.h"
#include "platform/webview.h"

namespace platform::gtk {

namespace {

constexpr int kBusTimeoutMs = 2000;

GObjectPtr<GDBusConnection> bus(GBusType type) { return GObjectPtr<GDBusConnection>(desktop_bus(type)); }

// ---- open and reveal ---------------------------------------------------------

using OpenDone = std::function<void(bool, std::string)>;

void opened(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<OpenDone> done(static_cast<OpenDone*>(data));
  GPtr<GError> error;
  const bool ok = g_app_info_launch_default_for_uri_finish(res, out_ptr(error));
  (*done)(ok, error ? error->message : "");
}

void open_parent(const std::string& path) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GObjectPtr<GFile> parent(g_file_get_parent(file.get()));
  if (!parent) return;
  GPtr<char> uri(g_file_get_uri(parent.get()));
  g_app_info_launch_default_for_uri(uri.get(), nullptr, nullptr);
}

void shown(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<std::string> path(static_cast<std::string*>(data));
  GPtr<GVariant> out(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr));
  if (!out) open_parent(*path);  // no file manager on the bus that can select it
}

// ---- staying awake -----------------------------------------------------------

struct Inhibition {
  bool display = false;
  int fd = -1;          // logind's: closing it ends the inhibition
  guint32 cookie = 0;   // the screen saver's
};

std::map<std::uint64_t, Inhibition> g_inhibitions;
std::uint64_t g_last_token = 0;

void released(GObject* source, GAsyncResult* res, gpointer) {
  GPtr<GError> error;
  GPtr<GVariant> out(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, out_ptr(error)));
  if (error) g_printerr("quibex: the screen saver kept its inhibition: %s\n", error->message);
}

struct InhibitCall {
  bool display;
  std::function<void(std::uint64_t)> done;
};

void inhibited(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<InhibitCall> call(static_cast<InhibitCall*>(data));
  GPtr<GError> error;
  Inhibition inh;
  inh.display = call->display;
  GPtr<GVariant> out;
  if (call->display) {
    out.reset(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, out_ptr(error)));
    if (out) g_variant_get(out.get(), "(u)", &inh.cookie);
  } else {
    GObjectPtr<GUnixFDList> fds;
    out.reset(g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), out_ptr(fds), res,
                                                              out_ptr(error)));
    if (out && fds) {
      gint32 index = -1;
      g_variant_get(out.get(), "(h)", &index);
      inh.fd = g_unix_fd_list_get(fds.get(), index, nullptr);
    }
  }
  if (error)
    g_printerr("quibex: cannot keep the %s awake: %s\n", call->display ? "display" : "system", error->message);
  const bool held = call->display ? out != nullptr : inh.fd >= 0;
  if (!held) return call->done(0);
  g_inhibitions[++g_last_token] = inh;
  call->done(g_last_token);
}

// ---- file search -------------------------------------------------------------

// Case- and accent-free form of a name, for matching.
std::string fold(const char* s) {
  GPtr<char> valid(g_utf8_make_valid(s, -1));
  GPtr<char> decomposed(g_utf8_normalize(valid.get(), -1, G_NORMALIZE_NFKD));
  if (!decomposed) return "";
  std::string out;
  for (const char* p = decomposed.get(); *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (g_unichar_combining_class(c) != 0) continue;  // accents go
    char buf[8];
    const int n = g_unichar_to_utf8(g_unichar_tolower(c), buf);
    out.append(buf, size_t(n));
  }
  return out;
}

// Breadth first through the home folder, hidden folders left out, links not
// followed, until `limit` matches, the deadline or the entry budget.
std::vector<std::string> walk(const std::string& query, const std::string& home, int limit,
                              std::chrono::steady_clock::time_point deadline) {
  constexpr long kMaxEntries = 2'000'000;
  const std::string needle = fold(query.c_str());
  std::vector<std::string> found;
  std::deque<std::string> dirs{home};
  long seen = 0;
  while (!dirs.empty() && int(found.size()) < limit && seen < kMaxEntries) {
    const std::string dir = std::move(dirs.front());
    dirs.pop_front();
    GPtr<GDir> d(g_dir_open(dir.c_str(), 0, nullptr));
    if (!d) continue;
    while (const char* name = g_dir_read_name(d.get())) {
      if ((++seen & 1023) == 0 && std::chrono::steady_clock::now() > deadline) break;
      if (name[0] == '.') continue;
      const std::string path = dir == "/" ? "/" + std::string(name) : dir + "/" + name;
      if (fold(name).find(needle) != std::string::npos) {
        found.push_back(path);
        if (int(found.size()) >= limit) break;
      }
      if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR) && !g_file_test(path.c_str(), G_FILE_TEST_IS_SYMLINK))
        dirs.push_back(path);
    }
    if (std::chrono::steady_clock::now() > deadline) break;
  }
  return found;
}

// ---- sharing -------------------------------------------------------------------

GtkWidget* g_share_menu = nullptr;  // the menu shown last; the next SHARE replaces it

std::string file_uri_of(const std::string& path) {
  GObjectPtr<GFile> f(g_file_new_for_path(path.c_str()));
  return take_string(g_file_get_uri(f.get()));
}

void share_copy(const ShareItems& items) {
  std::string text = items.text;
  auto add = [&](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
  if (!items.url.empty()) add(items.url);
  for (const std::string& f : items.files) add(f);
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text.c_str(), -1);
}

void share_mail(const ShareItems& items) {
  std::vector<std::string> args = {"xdg-email"};
  std::string body = items.text;
  if (!items.url.empty()) body += (body.empty() ? "" : "\n") + items.url;
  if (!body.empty()) args.insert(args.end(), {"--body", body});
  for (const std::string& f : items.files) args.insert(args.end(), {"--attach", f});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  GPtr<GError> error;
  if (!g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, out_ptr(error)))
    g_printerr("quibex: cannot send by e-mail: %s\n", error->message);
}

void share_open_with(GtkWidget* parent, const ShareItems& items) {
  GtkWindow* top = GTK_WINDOW(gtk_widget_get_toplevel(parent));
  GtkWidget* dialog;
  if (!items.files.empty()) {
    GObjectPtr<GFile> f(g_file_new_for_path(items.files.front().c_str()));
    dialog = gtk_app_chooser_dialog_new(top, GTK_DIALOG_MODAL, f.get());
  } else {
    const std::string type = "x-scheme-handler/" + take_string(g_uri_parse_scheme(items.url.c_str()));
    dialog = gtk_app_chooser_dialog_new_for_content_type(top, GTK_DIALOG_MODAL, type.c_str());
  }
  auto* uris = new std::vector<std::string>;
  for (const std::string& f : items.files) uris->push_back(file_uri_of(f));
  if (items.files.empty()) uris->push_back(items.url);
  g_signal_connect_data(
      dialog, "response", G_CALLBACK(+[](GtkDialog* d, int response, gpointer data) {
        auto* list = static_cast<std::vector<std::string>*>(data);
        if (response == GTK_RESPONSE_OK)
          if (GObjectPtr<GAppInfo> app{gtk_app_chooser_get_app_info(GTK_APP_CHOOSER(d))}) {
            GList* l = nullptr;
            for (const std::string& u : *list) l = g_list_append(l, const_cast<char*>(u.c_str()));
            GPtr<GError> error;
            if (!g_app_info_launch_uris(app.get(), l, nullptr, out_ptr(error)))
              g_printerr("quibex: cannot open: %s\n", error ? error->message : "no reason given");
            g_list_free(l);
          }
        gtk_widget_destroy(GTK_WIDGET(d));
      }),
      uris, +[](gpointer data, GClosure*) { delete static_cast<std::vector<std::string>*>(data); }, GConnectFlags(0));
  gtk_widget_show(dialog);
}

// ---- previews ------------------------------------------------------------------

struct Preview {
  GtkWidget* window = nullptr;
  WebKitWebView* view = nullptr;
  std::vector<std::string> paths;
  size_t at = 0;
};
Preview g_preview;

void preview_show_current() {
  const std::string& path = g_preview.paths[g_preview.at];
  std::string title = take_string(g_path_get_basename(path.c_str()));
  if (g_preview.paths.size() > 1)
    title += " (" + std::to_string(g_preview.at + 1) + " of " + std::to_string(g_preview.paths.size()) + ")";
  gtk_window_set_title(GTK_WINDOW(g_preview.window), title.c_str());
  webkit_web_view_load_uri(g_preview.view, file_uri_of(path).c_str());
}

// The host's own preview: one window, the files one at a time (arrow keys move).
void preview_window(const std::vector<std::string>& paths) {
  if (!g_preview.window) {
    g_preview.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(g_preview.window), 720, 540);
    g_preview.view = WEBKIT_WEB_VIEW(webkit_web_view_new());
    webkit_settings_set_enable_javascript(webkit_web_view_get_settings(g_preview.view), FALSE);
    gtk_container_add(GTK_CONTAINER(g_preview.window), GTK_WIDGET(g_preview.view));
    g_signal_connect(g_preview.window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer) { g_preview = Preview{}; }), nullptr);
    g_signal_connect(g_preview.window, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer) -> gboolean {
      const size_t n = g_preview.paths.size();
      if (e->keyval == GDK_KEY_Escape || e->keyval == GDK_KEY_space) {
        gtk_widget_destroy(g_preview.window);
        return TRUE;
      }
      if (n < 2 || (e->keyval != GDK_KEY_Right && e->keyval != GDK_KEY_Left)) return FALSE;
      g_preview.at = (g_preview.at + (e->keyval == GDK_KEY_Right ? 1 : n - 1)) % n;
      preview_show_current();
      return TRUE;
    }), nullptr);
  }
  g_preview.paths = paths;
  g_preview.at = 0;
  preview_show_current();
  gtk_widget_show_all(g_preview.window);
  gtk_window_present(GTK_WINDOW(g_preview.window));
}

void previewer_answered(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<std::vector<std::string>> paths(static_cast<std::vector<std::string>*>(data));
  GPtr<GVariant> out(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr));
  if (!out) preview_window(*paths);  // no previewer on the bus
}

// ---- the desktop's file index ---------------------------------------------------

// The index's client, from its module; opened by the first search the index can take.
ModuleOf<FileIndex>& file_index() {
  static auto* m = new ModuleOf<FileIndex>("index", "quibex_index_module", "the file index (tracker-sparql)");
  return *m;
}

// One search: answered once, by the index, the walk that stands in for it, or the
// time-out, whichever comes first.
struct Search {
  std::string query, home;
  int limit = 0;
  std::chrono::steady_clock::time_point deadline;
  std::function<void(std::vector<std::string>)> done;
  std::vector<std::string> paths;
  bool answered = false;
  guint timer = 0;
  GObjectPtr<GCancellable> cancel{g_cancellable_new()};
};
using SearchRef = std::shared_ptr<Search>;

void answer(const SearchRef& s) {
  if (s->answered) return;
  s->answered = true;
  if (s->timer) g_source_remove(s->timer);
  s->timer = 0;
  g_cancellable_cancel(s->cancel.get());
  s->done(std::move(s->paths));
}

void walk_instead(const SearchRef& s) {
  if (s->answered) return;
  std::thread([s]() {
    std::vector<std::string> found = walk(s->query, s->home, s->limit, s->deadline);
    platform::current().main_queue().post([s, found = std::move(found)]() mutable {
      if (s->answered) return;
      s->paths = std::move(found);
      answer(s);
    });
  }).detach();
}

void index_owner(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<SearchRef> s(static_cast<SearchRef*>(data));
  GPtr<GVariant> out(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr));
  gboolean has = FALSE;
  if (out) g_variant_get(out.get(), "(b)", &has);
  FileIndex* index = has ? file_index().get() : nullptr;
  if (!index) return walk_instead(*s);
  const SearchRef search = *s;
  index->search(
      G_DBUS_CONNECTION(source), search->query, search->cancel.get(),
      [search](const std::string& p) {
        const std::string& home = search->home;
        if (p.size() > home.size() && p.compare(0, home.size(), home) == 0 && p[home.size()] == '/')
          search->paths.push_back(p);
        return int(search->paths.size()) < search->limit;
      },
      [search](bool ok) { ok ? answer(search) : walk_instead(search); });
}

class GtkDesktopShell : public DesktopShell {
 public:
  void open_uri(const std::string& uri, std::function<void(bool, std::string)> done) override {
    GObjectPtr<GdkAppLaunchContext> ctx(gdk_display_get_app_launch_context(gdk_display_get_default()));
    g_app_info_launch_default_for_uri_async(uri.c_str(), G_APP_LAUNCH_CONTEXT(ctx.get()), nullptr, opened,
                                            new OpenDone(std::move(done)));
  }
  bool path_exists(const std::string& path) override { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }
  void reveal(const std::string& path) override {
    GObjectPtr<GDBusConnection> c = bus(G_BUS_TYPE_SESSION);
    if (!c) return open_parent(path);
    const std::string uri = file_uri_of(path);
    const char* uris[] = {uri.c_str(), nullptr};
    g_dbus_connection_call(c.get(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                           "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, shown, new std::string(path));
  }
  bool trash(const std::string& path, std::string& error) override {
    GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
    GPtr<GError> e;
    const bool ok = g_file_trash(file.get(), nullptr, out_ptr(e));
    if (e) error = e->message;
    return ok;
  }

  void inhibit(bool display, const std::string& who, const std::string& reason,
               std::function<void(std::uint64_t)> done) override {
    GObjectPtr<GDBusConnection> c = bus(display ? G_BUS_TYPE_SESSION : G_BUS_TYPE_SYSTEM);
    if (!c) return done(0);
    auto* call = new InhibitCall{display, std::move(done)};
    if (display) {
      g_dbus_connection_call(c.get(), "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                             "org.freedesktop.ScreenSaver", "Inhibit",
                             g_variant_new("(ss)", who.c_str(), reason.c_str()), G_VARIANT_TYPE("(u)"),
                             G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, inhibited, call);
    } else {
      // Idle sleep only, as the user may still suspend the machine on purpose.
      g_dbus_connection_call_with_unix_fd_list(
          c.get(), "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
          g_variant_new("(ssss)", "idle", who.c_str(), reason.c_str(), "block"), G_VARIANT_TYPE("(h)"),
          G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr, inhibited, call);
    }
  }
  void uninhibit(std::uint64_t token) override {
    auto it = g_inhibitions.find(token);
    if (it == g_inhibitions.end()) return;
    const Inhibition inh = it->second;
    g_inhibitions.erase(it);
    if (inh.fd >= 0) close(inh.fd);
    if (inh.display)
      if (GObjectPtr<GDBusConnection> c = bus(G_BUS_TYPE_SESSION))
        g_dbus_connection_call(c.get(), "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.ScreenSaver", "UnInhibit", g_variant_new("(u)", inh.cookie), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, released, nullptr);
  }

  void play_sound(const std::string& name, std::function<void(bool)> done) override {
    play_desktop_sound(name, std::move(done));
  }

  void share(WebView* view, const ShareItems& items, int x, int y) override {
    GtkWidget* widget = view ? static_cast<GtkWidget*>(view->native_handle()) : nullptr;
    if (!widget || !gtk_widget_get_window(widget)) return;
    GtkWidget* menu = gtk_menu_new();
    auto* shared = new ShareItems(items);
    g_object_set_data_full(G_OBJECT(menu), "quibex-share", shared, +[](gpointer p) { delete static_cast<ShareItems*>(p); });
    auto item = [&](const char* title, GCallback cb) {
      GtkWidget* mi = gtk_menu_item_new_with_mnemonic(title);
      g_signal_connect(mi, "activate", cb, menu);
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), mi);
    };
    auto items_of = [](gpointer m) { return *static_cast<ShareItems*>(g_object_get_data(G_OBJECT(m), "quibex-share")); };
    static auto s_items_of = items_of;
    item("_Copy", G_CALLBACK(+[](GtkMenuItem*, gpointer m) { share_copy(s_items_of(m)); }));
    if (GPtr<char>(g_find_program_in_path("xdg-email"))) {
      item("Send by _Email…", G_CALLBACK(+[](GtkMenuItem*, gpointer m) { share_mail(s_items_of(m)); }));
    }
    if (!items.files.empty() || !items.url.empty()) {
      g_object_set_data(G_OBJECT(menu), "quibex-view", widget);
      item("_Open With…", G_CALLBACK(+[](GtkMenuItem*, gpointer m) {
        share_open_with(static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(m), "quibex-view")), s_items_of(m));
      }));
    }
    gtk_widget_show_all(menu);
    // The menu goes when it closes (after its item has run), or when the next
    // SHARE replaces it: left open, it would stay on screen without its grab.
    g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* m, gpointer) {
      g_idle_add_full(
          G_PRIORITY_DEFAULT_IDLE, +[](gpointer p) -> gboolean { gtk_widget_destroy(GTK_WIDGET(p)); return G_SOURCE_REMOVE; },
          g_object_ref(m), g_object_unref);
    }), nullptr);
    g_signal_connect(menu, "destroy", G_CALLBACK(+[](GtkWidget* m, gpointer) {
      if (g_share_menu == m) g_share_menu = nullptr;
    }), nullptr);
    if (g_share_menu) gtk_widget_destroy(g_share_menu);
    g_share_menu = menu;
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    // A point outside the view (any int may come) anchors at the nearest point
    // inside it, so the menu stays by the window and no sum overflows.
    const GdkRectangle at{a.x + std::clamp(x, 0, std::max(a.width - 1, 0)),
                          a.y + std::clamp(y, 0, std::max(a.height - 1, 0)), 1, 1};
    // The command comes from the backend, not from a click: the menu's grab needs
    // an event to hang on, so it gets one made for it.
    GdkWindow* gw = gtk_widget_get_window(widget);
    GdkEvent* trigger = gtk_get_current_event();
    if (!trigger) {
      trigger = gdk_event_new(GDK_BUTTON_PRESS);
      trigger->button.window = GDK_WINDOW(g_object_ref(gw));
      trigger->button.time = GDK_CURRENT_TIME;
      trigger->button.button = 1;
      if (GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(gw)))
        gdk_event_set_device(trigger, gdk_seat_get_pointer(seat));
    }
    gtk_menu_popup_at_rect(GTK_MENU(menu), gw, &at, GDK_GRAVITY_SOUTH_WEST, GDK_GRAVITY_NORTH_WEST, trigger);
    gdk_event_free(trigger);
  }

  void preview(const std::vector<std::string>& paths) override {
    if (paths.empty()) {
      if (g_preview.window) gtk_widget_destroy(g_preview.window);
      return;
    }
    GObjectPtr<GDBusConnection> c = bus(G_BUS_TYPE_SESSION);
    if (!c) return preview_window(paths);
    // The desktop's previewer shows one file.
    g_dbus_connection_call(c.get(), "org.gnome.NautilusPreviewer", "/org/gnome/NautilusPreviewer",
                           "org.gnome.NautilusPreviewer", "ShowFile",
                           g_variant_new("(sib)", file_uri_of(paths.front()).c_str(), 0, FALSE), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, kBusTimeoutMs, nullptr, previewer_answered,
                           new std::vector<std::string>(paths));
  }

  void search(const std::string& query, const std::string& home, int limit, int timeout_ms,
              std::function<void(std::vector<std::string>)> done) override {
    auto job = std::make_shared<Search>();
    job->query = query;
    job->home = home;
    job->limit = limit;
    job->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    job->done = std::move(done);
    // Whatever happens to the index or the walk, the search is answered in time.
    job->timer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, guint(timeout_ms) + 500,
        +[](gpointer p) -> gboolean {
          SearchRef s = *static_cast<SearchRef*>(p);
          s->timer = 0;
          answer(s);
          return G_SOURCE_REMOVE;
        },
        new SearchRef(job), +[](gpointer p) { delete static_cast<SearchRef*>(p); });
    GObjectPtr<GDBusConnection> c = bus(G_BUS_TYPE_SESSION);
    if (!c) return walk_instead(job);
    g_dbus_connection_call(c.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", g_variant_new("(s)", kFileIndexName), G_VARIANT_TYPE("(b)"),
                           G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, index_owner, new SearchRef(job));
  }
};

}  // namespace

DesktopShell& gtk_desktop_shell() {
  static GtkDesktopShell shell;
  return shell;
}

}  // namespace platform::gtk
