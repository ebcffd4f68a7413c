// The yardstick for the end-to-end benchmarks: one GtkWindow with one
// WebKitWebView and one script-message handler, nothing of the host.
//
//   bare_webkit [page-uri]
//
// Without a page it shows an empty document. A user script posts "hello" at
// document start; the first message of the process prints "READY" on stdout.
// Every message is echoed back into the page as window.__bareEcho(text).
// A message starting with "out:" is also printed (the rest of it) on stdout.
// The start of each main-frame load prints "STARTED".

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool g_ready = false;

std::string js_string(const char* s) {
  std::string out = "\"";
  for (const char* p = s; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

void on_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* view = static_cast<WebKitWebView*>(data);
  char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
  if (!g_ready) {
    g_ready = true;
    std::fputs("READY\n", stdout);
    std::fflush(stdout);
  }
  if (std::strncmp(text, "out:", 4) == 0) {
    std::printf("%s\n", text + 4);
    std::fflush(stdout);
  }
  std::string script = "window.__bareEcho && window.__bareEcho(" + js_string(text) + ")";
  webkit_web_view_evaluate_javascript(view, script.c_str(), gssize(script.size()), nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
  g_free(text);
}

void on_load_changed(WebKitWebView*, WebKitLoadEvent e, gpointer) {
  if (e != WEBKIT_LOAD_STARTED) return;
  std::fputs("STARTED\n", stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) {
    std::fputs("bare_webkit: no display\n", stderr);
    return 3;
  }
  WebKitUserContentManager* ucm = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler(ucm, "bare");
  WebKitUserScript* hello = webkit_user_script_new(
      "window.webkit.messageHandlers.bare.postMessage('hello');", WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(ucm, hello);
  webkit_user_script_unref(hello);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "bare_webkit");
  gtk_window_set_default_size(GTK_WINDOW(window), 960, 640);
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(ucm);
  g_signal_connect(ucm, "script-message-received::bare", G_CALLBACK(on_message), view);
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);

  if (argc > 1)
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  else
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), "<!doctype html><html><body></body></html>",
                              "file:///");
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
