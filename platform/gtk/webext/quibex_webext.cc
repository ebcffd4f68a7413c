// The host's WebKit web-process extension.
//
// Page ids. WebKitGTK runs every page a page opens with window.open under the
// opener's user content (its user scripts and message handlers), so the page
// bridge cannot tell such pages from their opener by the handler a message
// arrives at. This extension names each page's documents with the page's id (the
// UI process's webkit_web_view_get_page_id), in the page's own world and in the
// bridge's private world, before any script of either world runs:
// window.__quibPage, a read-only number. Page scripts cannot change the private
// world's, which is what the bridge routes by.
//
// Main-frame URLs. The UI process learns a page-started load's URL only when the
// load commits. The extension sends the view each change of the page's
// main-frame URL ("quibex:uri"), the provisional one included; WebKit reports the
// provisional load to the view on this same connection right after, so the view
// knows the URL of a load when it hears that the load started.
//
// Document origins. WebKit does not tell the UI process which frame asked for
// the camera or microphone. The extension keeps every frame of a page that has
// run a script and, asked "quibex:origins", answers the origins of the
// documents those frames hold now, the main frame's first; the host decides on
// all of them. A document without scripts can only ask through a script of its
// own origin, so its origin is among them.
//
// Console messages. When the host asks for them in the initialization data (debug
// mode), every console message of a page and every error its scripts leave
// uncaught (both come through the page's console-message-sent signal) go to the
// view as "quibex:console": level, uncaught, text, source URL, line.

#include <webkit2/webkit-web-extension.h>

#include <cstring>
#include <string>
#include <unordered_map>

namespace {

WebKitScriptWorld* g_bridge = nullptr;

// Live frames and the id of the page each belongs to.
std::unordered_map<WebKitFrame*, guint64>& live_frames() {
  static std::unordered_map<WebKitFrame*, guint64> frames;
  return frames;
}

void track_frame(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  if (!live_frames().emplace(frame, webkit_web_page_get_id(page)).second) return;
  g_object_weak_ref(
      G_OBJECT(frame), +[](gpointer, GObject* gone) { live_frames().erase(reinterpret_cast<WebKitFrame*>(gone)); },
      nullptr);
}

// The document's own security origin, read in the bridge's world where page
// scripts cannot shadow it; "null" when it cannot be read.
std::string document_origin(WebKitFrame* frame) {
  std::string out = "null";
  JSCContext* ctx = webkit_frame_get_js_context_for_script_world(frame, g_bridge);
  if (!ctx) return out;
  JSCValue* v = jsc_context_evaluate(ctx, "self.origin", -1);
  if (v && jsc_value_is_string(v)) {
    char* s = jsc_value_to_string(v);
    out = s;
    g_free(s);
  }
  if (v) g_object_unref(v);
  g_object_unref(ctx);
  return out;
}

gboolean answer_origins(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
  if (std::strcmp(webkit_user_message_get_name(message), "quibex:origins") != 0) return FALSE;
  // The main frame first; none at all when it is not known.
  const guint64 id = webkit_web_page_get_id(page);
  WebKitFrame* main = nullptr;
  for (const auto& [frame, page_id] : live_frames())
    if (page_id == id && webkit_frame_is_main_frame(frame)) main = frame;
  GVariantBuilder origins;
  g_variant_builder_init(&origins, G_VARIANT_TYPE_STRING_ARRAY);
  if (main) {
    g_variant_builder_add(&origins, "s", document_origin(main).c_str());
    for (const auto& [frame, page_id] : live_frames())
      if (page_id == id && frame != main) g_variant_builder_add(&origins, "s", document_origin(frame).c_str());
  }
  webkit_user_message_send_reply(message,
                                 webkit_user_message_new("quibex:origins", g_variant_builder_end(&origins)));
  return TRUE;
}

void name_document(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  if (!webkit_frame_is_main_frame(frame)) return;
  JSCContext* ctx = webkit_frame_get_js_context_for_script_world(frame, world);
  if (!ctx) return;
  JSCValue* global = jsc_context_get_global_object(ctx);
  JSCValue* id = jsc_value_new_number(ctx, static_cast<double>(webkit_web_page_get_id(page)));
  // Neither writable, enumerable nor configurable.
  jsc_value_object_define_property_data(global, "__quibPage", JSCValuePropertyFlags(0), id);
  g_object_unref(id);
  g_object_unref(global);
  g_object_unref(ctx);
}

void report_uri(WebKitWebPage* page, GParamSpec*, gpointer) {
  const char* uri = webkit_web_page_get_uri(page);
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new("quibex:uri", g_variant_new_string(uri ? uri : "")), nullptr, nullptr, nullptr);
}

bool g_forward_console = false;

// GVariant strings must be UTF-8.
GVariant* text_variant(const char* s) {
  gchar* valid = g_utf8_make_valid(s ? s : "", -1);
  return g_variant_new_take_string(valid);
}

void forward_console(WebKitWebPage* page, WebKitConsoleMessage* m, gpointer) {
  const WebKitConsoleMessageLevel level = webkit_console_message_get_level(m);
  // Exceptions and rejections nobody caught are the engine's own JavaScript errors.
  const gboolean uncaught = webkit_console_message_get_source(m) == WEBKIT_CONSOLE_MESSAGE_SOURCE_JAVASCRIPT &&
                            level == WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR;
  GVariant* fields[] = {g_variant_new_uint32(level), g_variant_new_boolean(uncaught),
                        text_variant(webkit_console_message_get_text(m)),
                        text_variant(webkit_console_message_get_source_id(m)),
                        g_variant_new_uint32(webkit_console_message_get_line(m))};
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new("quibex:console", g_variant_new_tuple(fields, G_N_ELEMENTS(fields))), nullptr,
      nullptr, nullptr);
}

void page_created(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_signal_connect(page, "notify::uri", G_CALLBACK(report_uri), nullptr);
  g_signal_connect(page, "user-message-received", G_CALLBACK(answer_origins), nullptr);
  if (g_forward_console) g_signal_connect(page, "console-message-sent", G_CALLBACK(forward_console), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                              const GVariant* data) {
  GVariant* init = const_cast<GVariant*>(data);
  gboolean console = FALSE;
  if (init && g_variant_is_of_type(init, G_VARIANT_TYPE_VARDICT)) g_variant_lookup(init, "console", "b", &console);
  g_forward_console = console;
  // The world the host's user scripts name "quibex-bridge" is this same world.
  g_bridge = webkit_script_world_new_with_name("quibex-bridge");
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(name_document), nullptr);
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(track_frame), nullptr);
  g_signal_connect(g_bridge, "window-object-cleared", G_CALLBACK(name_document), nullptr);
  g_signal_connect(extension, "page-created", G_CALLBACK(page_created), nullptr);
}
