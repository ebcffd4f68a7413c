// Process services of the Linux desktop: paths, property lists, alerts.

#include <gtk/gtk.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cstdio>

#include "base/file_text.h"
#include "platform/common/credits_text.h"
#include "platform/gtk/gtk_identity.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/gtk_tray.h"

namespace platform::gtk {

std::string GtkPlatform::executable_path() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, size_t(n));
}

std::string GtkPlatform::temp_dir() { return std::string(g_get_tmp_dir()) + "/"; }

bool GtkPlatform::read_plist(const std::string& path, PlistDict& out) {
  const std::string data = read_file(path);
  plist_t root = nullptr;
  plist_from_memory(data.data(), uint32_t(data.size()), &root);
  if (!root) return false;
  if (plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    return false;
  }
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(root, &it);
  for (;;) {
    char* key = nullptr;
    plist_t val = nullptr;
    plist_dict_next_item(root, it, &key, &val);
    if (!key) break;
    switch (plist_get_node_type(val)) {
      case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(val, &s);
        out.strings[key] = s ? s : "";
        free(s);
        break;
      }
      case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(val, &b);
        out.bools[key] = b != 0;
        break;
      }
      case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(val, &v);
        out.strings[key] = std::to_string(v);
        break;
      }
      default:
        break;
    }
    free(key);
  }
  free(it);
  plist_free(root);
  return true;
}

void GtkPlatform::show_alert(bool critical, const std::string& message, const std::string& informative) {
  GtkWidget* d = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, critical ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                        GTK_BUTTONS_OK, "%s", message.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", informative.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(d), TRUE);
  gtk_dialog_run(GTK_DIALOG(d));
  gtk_widget_destroy(d);
}

void GtkPlatform::show_about_panel(const AboutPanel& about) {
  // One panel at a time, as a desktop's standard About panel.
  static GtkWidget* panel = nullptr;
  if (panel) {
    gtk_window_present(GTK_WINDOW(panel));
    return;
  }
  panel = gtk_about_dialog_new();
  GtkAboutDialog* d = GTK_ABOUT_DIALOG(panel);
  gtk_window_set_title(GTK_WINDOW(panel), ("About " + about.name).c_str());
  gtk_about_dialog_set_program_name(d, about.name.c_str());
  gtk_about_dialog_set_version(d, about.version.c_str());
  std::string credits = about.attribution.empty() ? "Made with quibex." : about.attribution;
  if (!about.credits_file.empty()) {
    // A credits document takes the place of the text, shown as it reads.
    const std::string text = credits_document_text(about.credits_file);
    if (!text.empty()) {
      credits = take_string(g_utf8_make_valid(text.c_str(), gssize(text.size())));
    }
  }
  gtk_about_dialog_set_comments(d, credits.c_str());
  // The application's own icon; GTK's default is a broken image when the
  // windows have no default icon.
  if (GObjectPtr<GdkPixbuf> logo = app_icon_pixbuf(128)) {
    gtk_about_dialog_set_logo(d, logo.get());
  } else {
    gtk_about_dialog_set_logo_icon_name(d, kGenericAppIcon);
  }
  g_signal_connect(panel, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  g_signal_connect(panel, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer) { panel = nullptr; }), nullptr);
  gtk_widget_show(panel);
}

void GtkPlatform::show_help(const std::string& book) {
  // Help books are another desktop's format: there is nothing here to open one.
  std::fprintf(stderr, "quibex: the help book \"%s\" cannot be shown on this desktop\n", book.c_str());
}

void GtkPlatform::open_external(const std::string& url) {
  // GIO's handler for the URL's scheme (x-scheme-handler/<scheme> in the user's
  // mimeapps.list, as xdg-open and every GIO application find it), launched without
  // waiting: a handler that is slow to start never holds the main thread.
  GObjectPtr<GdkAppLaunchContext> ctx(
      gdk_display_get_default() ? gdk_display_get_app_launch_context(gdk_display_get_default()) : nullptr);
  auto* copy = new std::string(url);
  g_app_info_launch_default_for_uri_async(
      url.c_str(), ctx ? G_APP_LAUNCH_CONTEXT(ctx.get()) : nullptr, nullptr,
      +[](GObject*, GAsyncResult* res, gpointer data) {
        std::unique_ptr<std::string> u(static_cast<std::string*>(data));
        GPtr<GError> error;
        if (!g_app_info_launch_default_for_uri_finish(res, out_ptr(error)))
          std::fprintf(stderr, "quibex: cannot open %s with the desktop: %s\n", u->c_str(),
                       error ? error->message : "no handler");
      },
      copy);
}

std::unique_ptr<StatusItem> GtkPlatform::make_status_item() { return make_gtk_status_item(); }

}  // namespace platform::gtk
