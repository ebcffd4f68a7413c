// The yardstick for the end-to-end benchmarks: one GtkWindow with one
// WebKitWebView and its script-message handlers, nothing of the host.
//
//   bare_webkit [page-uri] [socket-path]
//
// Without a page it shows an empty document. A user script posts "hello" at
// document start; the first message of the process prints "READY" on stdout.
// Every message is echoed back into the page as window.__bareEcho(text).
// A message starting with "out:" is also printed (the rest of it) on stdout.
// The start of each main-frame load prints "STARTED".
//
// With a socket path it also connects there as the host does, and a second
// handler, "call", takes messages that expect a reply: each text goes out as
// the line CALL bare:<n> [<text>,"file://"], and the answer RET bare:<n> 0 <json>
// settles the page's postMessage promise with the JSON text (another status
// rejects it). This is the least a host can do to carry a page call to a
// backend and back, by the same WebKit means: the floor of its round trip.

#include <gtk/gtk.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

namespace {

bool g_ready = false;
int g_backend = -1;        // the socket, when given
std::string g_in;          // bytes read from it, not yet a whole line
size_t g_scanned = 0;      // how much of g_in holds no LF
long g_calls = 0;

// A call waiting for its RET line: the page's promise and the context to answer in.
struct Pending {
  WebKitScriptMessageReply* reply;
  JSCContext* ctx;
};
std::unordered_map<std::string, Pending> g_pending;  // by call number

// A JSON string literal, also a JavaScript one; runs of plain bytes are copied whole.
std::string js_string(const char* s, size_t n) {
  std::string out;
  out.reserve(n + 2);
  out += '"';
  size_t run = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c != '"' && c != '\\' && c >= 0x20) continue;
    out.append(s + run, i - run);
    run = i + 1;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    }
  }
  out.append(s + run, n - run);
  return out + "\"";
}

std::string js_string(const char* s) { return js_string(s, std::strlen(s)); }

// Blocking: one call is in flight at a time, and the backend reads while we write.
bool send_all(const std::string& s) {
  for (size_t off = 0; off < s.size();) {
    ssize_t r = send(g_backend, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    off += size_t(r);
  }
  return true;
}

// A message of the "call" handler out as a CALL line; its reply waits for the RET.
gboolean on_call(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply, gpointer) {
  GBytes* bytes = jsc_value_to_string_as_bytes(value);
  gsize n = 0;
  const char* text = static_cast<const char*>(g_bytes_get_data(bytes, &n));
  const std::string id = std::to_string(++g_calls);
  std::string line = "CALL bare:" + id + " [";
  line += js_string(text ? text : "", n);
  line += ",\"file://\"]\n";
  g_bytes_unref(bytes);
  g_pending[id] = {webkit_script_message_reply_ref(reply), JSC_CONTEXT(g_object_ref(jsc_value_get_context(value)))};
  if (!send_all(line)) std::fputs("bare_webkit: the backend is gone\n", stderr);
  return TRUE;
}

// RET bare:<n> <status> <json>: the call's promise settles with the JSON text.
void take_line(const char* line, size_t n) {
  constexpr char kRet[] = "RET bare:";
  if (n < sizeof kRet - 1 || std::memcmp(line, kRet, sizeof kRet - 1) != 0) return;
  const char* end = line + n;
  const char* id = line + sizeof kRet - 1;
  const char* sp = static_cast<const char*>(std::memchr(id, ' ', size_t(end - id)));
  if (!sp) return;
  const char* status = sp + 1;
  const char* sp2 = static_cast<const char*>(std::memchr(status, ' ', size_t(end - status)));
  if (!sp2) return;
  auto it = g_pending.find(std::string(id, sp));
  if (it == g_pending.end()) return;
  Pending p = it->second;
  g_pending.erase(it);
  if (std::string(status, sp2) == "0") {
    GBytes* bytes = g_bytes_new(sp2 + 1, gsize(end - sp2 - 1));
    JSCValue* v = jsc_value_new_string_from_bytes(p.ctx, bytes);
    webkit_script_message_reply_return_value(p.reply, v);
    g_object_unref(v);
    g_bytes_unref(bytes);
  } else {
    webkit_script_message_reply_return_error_message(p.reply, std::string(sp2 + 1, end).c_str());
  }
  webkit_script_message_reply_unref(p.reply);
  g_object_unref(p.ctx);
}

gboolean on_backend(gint fd, GIOCondition, gpointer) {
  char buf[1 << 16];
  ssize_t r = read(fd, buf, sizeof buf);
  if (r < 0 && (errno == EINTR || errno == EAGAIN)) return G_SOURCE_CONTINUE;
  if (r <= 0) {
    std::fputs("bare_webkit: the backend closed the socket\n", stderr);
    return G_SOURCE_REMOVE;
  }
  g_in.append(buf, size_t(r));
  size_t start = 0;
  for (;;) {
    const void* lf = std::memchr(g_in.data() + g_scanned, '\n', g_in.size() - g_scanned);
    if (!lf) break;
    size_t at = size_t(static_cast<const char*>(lf) - g_in.data());
    take_line(g_in.data() + start, at - start);
    start = g_scanned = at + 1;
  }
  g_in.erase(0, start);
  g_scanned = g_in.size();
  return G_SOURCE_CONTINUE;
}

bool connect_backend(const char* path) {
  g_backend = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path, sizeof addr.sun_path - 1);
  if (g_backend < 0 || connect(g_backend, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::perror("bare_webkit: connect");
    return false;
  }
  return true;
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
  if (argc > 2 && !connect_backend(argv[2])) return 1;
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
  if (g_backend >= 0) {
    webkit_user_content_manager_register_script_message_handler_with_reply(ucm, "call", nullptr);
    g_signal_connect(ucm, "script-message-with-reply-received::call", G_CALLBACK(on_call), nullptr);
    g_unix_fd_add(g_backend, G_IO_IN, on_backend, nullptr);
  }
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
