// The shell services on the Linux desktop: GIO for opening and the trash, the file
// manager's org.freedesktop.FileManager1 for revealing, logind and the screen
// saver for staying awake, libcanberra for sounds, and a bounded walk of the
// home folder for file search.

#include <canberra.h>
#include <gdk/gdk.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop_shell.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/platform.h"

namespace platform::gtk {

namespace {

constexpr int kBusTimeoutMs = 2000;

GDBusConnection* bus(GBusType type) {
  GDBusConnection* c = g_bus_get_sync(type, nullptr, nullptr);
  // The shared connection must not end the process when its bus goes away.
  if (c) g_dbus_connection_set_exit_on_close(c, FALSE);
  return c;
}

// ---- open and reveal ---------------------------------------------------------

using OpenDone = std::function<void(bool, std::string)>;

void opened(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<OpenDone> done(static_cast<OpenDone*>(data));
  GError* error = nullptr;
  const bool ok = g_app_info_launch_default_for_uri_finish(res, &error);
  std::string text = error ? error->message : "";
  g_clear_error(&error);
  (*done)(ok, text);
}

void open_parent(const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  GFile* parent = g_file_get_parent(file);
  if (parent) {
    char* uri = g_file_get_uri(parent);
    g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
    g_free(uri);
    g_object_unref(parent);
  }
  g_object_unref(file);
}

void shown(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<std::string> path(static_cast<std::string*>(data));
  GError* error = nullptr;
  GVariant* out = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &error);
  if (out) return g_variant_unref(out);
  g_clear_error(&error);
  open_parent(*path);  // no file manager on the bus that can select it
}

// ---- staying awake -----------------------------------------------------------

struct Inhibition {
  bool display = false;
  int fd = -1;          // logind's: closing it ends the inhibition
  guint32 cookie = 0;   // the screen saver's
};

std::map<std::uint64_t, Inhibition> g_inhibitions;
std::uint64_t g_last_token = 0;

struct InhibitCall {
  bool display;
  std::function<void(std::uint64_t)> done;
};

void inhibited(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<InhibitCall> call(static_cast<InhibitCall*>(data));
  GError* error = nullptr;
  Inhibition inh;
  inh.display = call->display;
  GVariant* out = nullptr;
  if (call->display) {
    out = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &error);
    if (out) g_variant_get(out, "(u)", &inh.cookie);
  } else {
    GUnixFDList* fds = nullptr;
    out = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &fds, res, &error);
    if (out && fds) {
      gint32 index = -1;
      g_variant_get(out, "(h)", &index);
      inh.fd = g_unix_fd_list_get(fds, index, nullptr);
    }
    if (fds) g_object_unref(fds);
  }
  if (error) {
    g_printerr("quibex: cannot keep the %s awake: %s\n", call->display ? "display" : "system", error->message);
    g_clear_error(&error);
  }
  if (out) g_variant_unref(out);
  const bool held = call->display ? out != nullptr : inh.fd >= 0;
  if (!held) return call->done(0);
  g_inhibitions[++g_last_token] = inh;
  call->done(g_last_token);
}

// ---- file search -------------------------------------------------------------

// Case- and accent-free form of a name, for matching.
std::string fold(const char* s) {
  char* valid = g_utf8_make_valid(s, -1);
  char* decomposed = g_utf8_normalize(valid, -1, G_NORMALIZE_NFKD);
  g_free(valid);
  if (!decomposed) return "";
  std::string out;
  for (const char* p = decomposed; *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (g_unichar_combining_class(c) != 0) continue;  // accents go
    char buf[8];
    const int n = g_unichar_to_utf8(g_unichar_tolower(c), buf);
    out.append(buf, size_t(n));
  }
  g_free(decomposed);
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
    GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
    if (!d) continue;
    while (const char* name = g_dir_read_name(d)) {
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
    g_dir_close(d);
    if (std::chrono::steady_clock::now() > deadline) break;
  }
  return found;
}

class GtkDesktopShell : public DesktopShell {
 public:
  void open_uri(const std::string& uri, std::function<void(bool, std::string)> done) override {
    GdkAppLaunchContext* ctx = gdk_display_get_app_launch_context(gdk_display_get_default());
    g_app_info_launch_default_for_uri_async(uri.c_str(), G_APP_LAUNCH_CONTEXT(ctx), nullptr, opened,
                                            new OpenDone(std::move(done)));
    g_object_unref(ctx);
  }
  bool path_exists(const std::string& path) override { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }
  void reveal(const std::string& path) override {
    GDBusConnection* c = bus(G_BUS_TYPE_SESSION);
    if (!c) return open_parent(path);
    GFile* file = g_file_new_for_path(path.c_str());
    char* uri = g_file_get_uri(file);
    const char* uris[] = {uri, nullptr};
    g_dbus_connection_call(c, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                           "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, shown, new std::string(path));
    g_free(uri);
    g_object_unref(file);
    g_object_unref(c);
  }
  bool trash(const std::string& path, std::string& error) override {
    GFile* file = g_file_new_for_path(path.c_str());
    GError* e = nullptr;
    const bool ok = g_file_trash(file, nullptr, &e);
    if (e) error = e->message;
    g_clear_error(&e);
    g_object_unref(file);
    return ok;
  }

  void inhibit(bool display, const std::string& who, const std::string& reason,
               std::function<void(std::uint64_t)> done) override {
    GDBusConnection* c = bus(display ? G_BUS_TYPE_SESSION : G_BUS_TYPE_SYSTEM);
    if (!c) return done(0);
    auto* call = new InhibitCall{display, std::move(done)};
    if (display) {
      g_dbus_connection_call(c, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                             "org.freedesktop.ScreenSaver", "Inhibit",
                             g_variant_new("(ss)", who.c_str(), reason.c_str()), G_VARIANT_TYPE("(u)"),
                             G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, inhibited, call);
    } else {
      // Idle sleep only, as the user may still suspend the machine on purpose.
      g_dbus_connection_call_with_unix_fd_list(
          c, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
          g_variant_new("(ssss)", "idle", who.c_str(), reason.c_str(), "block"), G_VARIANT_TYPE("(h)"),
          G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr, inhibited, call);
    }
    g_object_unref(c);
  }
  void uninhibit(std::uint64_t token) override {
    auto it = g_inhibitions.find(token);
    if (it == g_inhibitions.end()) return;
    const Inhibition inh = it->second;
    g_inhibitions.erase(it);
    if (inh.fd >= 0) close(inh.fd);
    if (inh.display)
      if (GDBusConnection* c = bus(G_BUS_TYPE_SESSION)) {
        g_dbus_connection_call(c, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.ScreenSaver", "UnInhibit", g_variant_new("(u)", inh.cookie), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr, nullptr);
        g_object_unref(c);
      }
  }

  bool play_sound(const std::string& name) override {
    if (name.empty()) {
      gdk_display_beep(gdk_display_get_default());
      return true;
    }
    if (!ctx_ && ca_context_create(&ctx_) != CA_SUCCESS) {
      ctx_ = nullptr;
      return false;
    }
    ca_context_cancel(ctx_, 1);  // the sound before stops
    const int rc = name[0] == '/' ? ca_context_play(ctx_, 1, CA_PROP_MEDIA_FILENAME, name.c_str(), nullptr)
                                  : ca_context_play(ctx_, 1, CA_PROP_EVENT_ID, name.c_str(), nullptr);
    if (rc != CA_SUCCESS) g_printerr("quibex: sound \"%s\": %s\n", name.c_str(), ca_strerror(rc));
    return rc == CA_SUCCESS;
  }

  void search(const std::string& query, const std::string& home, int limit, int timeout_ms,
              std::function<void(std::vector<std::string>)> done) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::thread([query, home, limit, deadline, done = std::move(done)]() mutable {
      std::vector<std::string> found = walk(query, home, limit, deadline);
      platform::current().main_queue().post(
          [done = std::move(done), found = std::move(found)]() mutable { done(std::move(found)); });
    }).detach();
  }

 private:
  ca_context* ctx_ = nullptr;
};

}  // namespace

DesktopShell& gtk_desktop_shell() {
  static GtkDesktopShell shell;
  return shell;
}

}  // namespace platform::gtk
