// Pages' console messages, as the web-process extension forwards them.

#include "platform/gtk/gtk_console.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "platform/gtk/glib_ptr.h"

namespace platform::gtk {

namespace {

constexpr const char* kConsoleHook = "quibex-console";

struct ConsoleHook {
  ConsoleHandler handler;
  SignalConnection signal;
};

// WebKitConsoleMessageLevel, which only the web-process API declares: info 0,
// log 1, warning 2, error 3, debug 4.
ConsoleMessage::Level level_of(guint32 webkit_level) {
  switch (webkit_level) {
    case 0: return ConsoleMessage::Level::kInfo;
    case 2: return ConsoleMessage::Level::kWarning;
    case 3: return ConsoleMessage::Level::kError;
    case 4: return ConsoleMessage::Level::kDebug;
    default: return ConsoleMessage::Level::kLog;
  }
}

gboolean on_user_message(WebKitWebView*, WebKitUserMessage* message, ConsoleHook* hook) {
  if (std::strcmp(webkit_user_message_get_name(message), kConsoleMessageName) != 0) return FALSE;
  GVariant* p = webkit_user_message_get_parameters(message);
  if (!p || !g_variant_is_of_type(p, G_VARIANT_TYPE("(ubssu)")) || !hook->handler) return TRUE;
  guint32 level = 0, line = 0;
  gboolean uncaught = FALSE;
  const char *text = nullptr, *source = nullptr;
  g_variant_get(p, "(ub&s&su)", &level, &uncaught, &text, &source, &line);
  ConsoleMessage m;
  m.level = level_of(level);
  m.uncaught = uncaught;
  m.text = text;
  m.source = source;
  m.line = line;
  // Nothing may unwind through GLib's frames.
  try {
    hook->handler(m);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quibex: a console message was lost: %s\n", e.what());
  }
  return TRUE;
}

// The extension reads its initialization data as each web process starts.
void ask_web_processes() {
  static bool asked = false;
  if (asked) return;
  asked = true;
  GVariantDict d;
  g_variant_dict_init(&d, nullptr);
  g_variant_dict_insert(&d, kConsoleInitKey, "b", TRUE);
  webkit_web_context_set_web_extensions_initialization_user_data(webkit_web_context_get_default(),
                                                                g_variant_dict_end(&d));
}

}  // namespace

void connect_console(WebKitWebView* view, ConsoleHandler handler) {
  if (handler) ask_web_processes();
  auto* hook = static_cast<ConsoleHook*>(g_object_get_data(G_OBJECT(view), kConsoleHook));
  if (!hook) {
    hook = new ConsoleHook;
    hook->signal = SignalConnection(view, "user-message-received", G_CALLBACK(on_user_message), hook);
    g_object_set_data_full(G_OBJECT(view), kConsoleHook, hook, +[](gpointer p) { delete static_cast<ConsoleHook*>(p); });
  }
  hook->handler = std::move(handler);
}

void disconnect_console(WebKitWebView* view) {
  g_object_set_data(G_OBJECT(view), kConsoleHook, nullptr);  // frees the hook, which disconnects
}

}  // namespace platform::gtk
