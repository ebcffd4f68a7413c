// One running instance per application: a GApplication that handles open,
// unique on the session bus under the application's id. A later start finds
// the name taken, hands its files and URLs (or a plain activation) to the
// running instance with a call that the instance answers, and ends.

#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_buses.h"
#include "platform/gtk/gtk_window.h"

namespace platform::gtk {

namespace {

// A local file by its path; anything else by its URI as given.
OpenItem item_of(GFile* file) {
  if (g_file_has_uri_scheme(file, "file"))
    if (GPtr<char> path{g_file_get_path(file)}) return OpenItem{true, path.get()};
  return OpenItem{false, take_string(g_file_get_uri(file))};
}

class GtkAppInstance : public AppInstance {
 public:
  Role claim(const std::string& app_id, const std::vector<std::string>& args, std::string& error) override {
    std::vector<GObjectPtr<GFile>> files;
    for (const std::string& a : args) files.emplace_back(g_file_new_for_commandline_arg(a.c_str()));
    const Role role = claim_files(app_id, files, error);
    if (role == Role::kAlone || role == Role::kPrimary) {
      std::vector<OpenItem> items;
      for (const auto& f : files) items.push_back(item_of(f.get()));
      if (!items.empty()) request(std::move(items), false);
    }
    return role;
  }

  void set_handlers(std::function<void(const std::vector<OpenItem>&)> open, std::function<void()> reopen) override {
    open_ = std::move(open);
    reopen_ = std::move(reopen);
    std::vector<Request> early;
    early.swap(early_);
    for (Request& r : early) deliver(std::move(r));
  }

 private:
  struct Request {
    std::vector<OpenItem> items;
    bool reopen = false;
  };

  Role claim_files(const std::string& app_id, const std::vector<GObjectPtr<GFile>>& files, std::string& error) {
    if (!desktop_session_bus_configured() || !g_application_id_is_valid(app_id.c_str())) return Role::kAlone;
    app_ = g_application_new(app_id.c_str(), G_APPLICATION_HANDLES_OPEN);
    g_signal_connect(app_, "open", G_CALLBACK(&GtkAppInstance::on_open), this);
    g_signal_connect(app_, "activate", G_CALLBACK(&GtkAppInstance::on_activate), this);
    GPtr<GError> err;
    if (!g_application_register(app_, nullptr, out_ptr(err))) {
      std::fprintf(stderr, "quibex: this start runs on its own, without a running instance to hand over to: %s\n",
                   err ? err->message : "the session bus refused the application id");
      g_clear_object(&app_);
      return Role::kAlone;
    }
    GDBusConnection* bus = g_application_get_dbus_connection(app_);
    if (!g_application_get_is_remote(app_)) {
      // The shared connection would end the process if the bus went away.
      if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
      return Role::kPrimary;
    }
    const char* path = g_application_get_dbus_object_path(app_);
    if (!bus || !path) {
      error = "no way to reach the running instance";
      return Role::kFailed;
    }
    // Handed over with a call the running instance answers, so that a request
    // that did not arrive is not taken for one that did.
    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE_VARDICT);
    if (const char* startup = g_getenv("DESKTOP_STARTUP_ID"); startup && *startup)
      g_variant_builder_add(&data, "{sv}", "desktop-startup-id", g_variant_new_string(startup));
    GVariant* params;
    if (files.empty()) {
      params = g_variant_new("(a{sv})", &data);
    } else {
      GVariantBuilder uris;
      g_variant_builder_init(&uris, G_VARIANT_TYPE_STRING_ARRAY);
      for (const auto& f : files) g_variant_builder_add(&uris, "s", take_string(g_file_get_uri(f.get())).c_str());
      params = g_variant_new("(assa{sv})", &uris, "", &data);
    }
    GPtr<GVariant> reply(g_dbus_connection_call_sync(bus, app_id.c_str(), path, "org.gtk.Application",
                                                     files.empty() ? "Activate" : "Open", params, nullptr,
                                                     G_DBUS_CALL_FLAGS_NONE, -1, nullptr, out_ptr(err)));
    if (!reply) {
      error = err ? err->message : "the running instance did not answer";
      return Role::kFailed;
    }
    return Role::kForwarded;
  }

  static void on_open(GApplication*, GFile** files, gint n, gchar*, GtkAppInstance* self) {
    std::vector<OpenItem> items;
    for (gint i = 0; i < n; ++i) items.push_back(item_of(files[i]));
    self->request(std::move(items), false);
  }
  static void on_activate(GApplication*, GtkAppInstance* self) { self->request({}, true); }

  // Every request goes through the main queue, so that requests keep their order
  // whatever else the main loop is doing.
  void request(std::vector<OpenItem> items, bool reopen) {
    Request r{std::move(items), reopen};
    if (!open_ && !reopen_) {
      early_.push_back(std::move(r));
      return;
    }
    deliver(std::move(r));
  }
  void deliver(Request r) {
    current().main_queue().post([this, r = std::move(r)] {
      if (r.reopen) {
        if (reopen_) reopen_();
      } else if (open_) {
        open_(r.items);
      }
    });
  }

  GApplication* app_ = nullptr;  // kept for the life of the process
  std::function<void(const std::vector<OpenItem>&)> open_;
  std::function<void()> reopen_;
  std::vector<Request> early_;  // came before the handlers
};

}  // namespace

AppInstance& gtk_app_instance() {
  static GtkAppInstance instance;
  return instance;
}

}  // namespace platform::gtk
