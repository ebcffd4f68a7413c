// Web views on WebKitGTK 4.1.
//
// The page bridge's message handlers live in a private script world. WebKitGTK
// tells the UI process nothing about the frame that posted a message, and a
// handler registered in the page's own world is reachable from every frame, so
// a cross-origin iframe could post as if it were the page. Instead the main
// frame's page world gets a relay object at window.webkit.messageHandlers.<name>
// that hands each text to a listener in the private world through a DOM event;
// sub-frames have no such object and cannot reach the private world. The
// private world, which page scripts cannot touch, adds the document's origin.
// Each document names itself with a random token, so answers meant for an
// earlier document of the same view never reach a later one.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <map>

#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

constexpr const char* kWorld = "quibex-bridge";

// Page world, main frame, document start: the relay and the document's token.
// Only texts are relayed; anything else posted is ignored, as the handler
// would ignore it. Texts posted before the private world listens are queued;
// the two sides greet each other, whichever runs first.
std::string page_relay_js(const std::string& name) {
  return "(() => {"
         "const a = new Uint32Array(4); crypto.getRandomValues(a);"
         "const tok = Array.from(a, (x) => x.toString(36)).join('');"
         "Object.defineProperty(window, '__quibDoc', {value: tok});"
         "let ready = false; const queue = [];"
         "const send = (m) => document.dispatchEvent(new CustomEvent('quib:post', {detail: tok + ' ' + '" +
         name +
         "' + ' ' + m}));"
         "document.addEventListener('quib:ready', () => { if (ready) return; ready = true;"
         " queue.splice(0).forEach(send); }, true);"
         "const handlers = (window.webkit && window.webkit.messageHandlers) || {};"
         "const own = {}; for (const k in handlers) own[k] = handlers[k];"
         "own['" +
         name +
         "'] = {postMessage(m) { if (typeof m === 'string') ready ? send(m) : queue.push(m); }};"
         "try { Object.defineProperty(window, 'webkit', {value: {messageHandlers: own}, configurable: true}); }"
         " catch (e) {}"
         "document.dispatchEvent(new Event('quib:hello'));"
         "})();";
}

// Private world, main frame, document start: forwards relayed texts (lone
// surrogates, which have no UTF-8 form, made U+FFFD) with the
// document's security origin. That is the origin the engine gives the document
// (a blob: or an inheriting about:blank document has its creator's), already
// in the wire's form: default ports left out, "null" when opaque; a file page
// that the engine treats as opaque still reads "file://".
const char* kPrivateListenerJs =
    "(() => {"
    "const origin = () => { const o = self.origin;"
    " return o === 'null' && location.protocol === 'file:' ? 'file://' : o; };"
    "document.addEventListener('quib:post', (e) => {"
    " if (typeof e.detail !== 'string') return;"
    " const d = e.detail; const a = d.indexOf(' '); const b = d.indexOf(' ', a + 1);"
    " if (a < 0 || b < 0) return;"
    " const h = window.webkit.messageHandlers[d.slice(a + 1, b)]; if (!h) return;"
    " h.postMessage({doc: d.slice(0, a), body: d.slice(b + 1).toWellFormed(), origin: origin()});"
    "}, true);"
    "document.addEventListener('quib:hello', () => document.dispatchEvent(new Event('quib:ready')), true);"
    "document.dispatchEvent(new Event('quib:ready'));"
    "})();";

std::string js_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  // U+2028 and U+2029 end lines in older engines; escape them too.
  for (size_t p; (p = out.find("\xe2\x80\xa8")) != std::string::npos;) out.replace(p, 3, "\\u2028");
  for (size_t p; (p = out.find("\xe2\x80\xa9")) != std::string::npos;) out.replace(p, 3, "\\u2029");
  return out + "\"";
}

// A string member as UTF-8, whole: NULs included.
std::string member(JSCValue* obj, const char* name) {
  JSCValue* v = jsc_value_object_get_property(obj, name);
  std::string out;
  if (v && jsc_value_is_string(v)) {
    if (GBytes* b = jsc_value_to_string_as_bytes(v)) {
      gsize n = 0;
      const char* p = static_cast<const char*>(g_bytes_get_data(b, &n));
      if (p) out.assign(p, n);
      g_bytes_unref(b);
    }
  }
  if (v) g_object_unref(v);
  return out;
}

}  // namespace

class GtkWebView : public WebView {
 public:
  GtkWebView() {
    ucm_ = webkit_user_content_manager_new();
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(ucm_));
    g_object_ref_sink(view_);
  }
  ~GtkWebView() override {
    // The page is gone with its window: end its web process now rather than when
    // WebKit gets round to it, so windows opened and closed quickly do not pile up
    // processes (and X connections).
    webkit_web_view_terminate_web_process(view_);
    for (auto& [name, h] : handlers_)
      webkit_user_content_manager_unregister_script_message_handler_in_world(ucm_, name.c_str(), kWorld);
    g_signal_handlers_disconnect_matched(ucm_, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(&GtkWebView::on_message), nullptr);
    g_object_unref(view_);
    g_object_unref(ucm_);
  }
  void navigate(const std::string& url) override { webkit_web_view_load_uri(view_, url.c_str()); }
  void load_html(const std::string& html, const std::string& base) override {
    webkit_web_view_load_html(view_, html.c_str(), base.empty() ? nullptr : base.c_str());
  }
  void load_file(const std::string& path, const std::string&) override {
    // WebKitGTK cannot scope file access to a directory: file pages may read files.
    enable_file_access();
    GFile* f = g_file_new_for_path(path.c_str());
    char* uri = g_file_get_uri(f);
    webkit_web_view_load_uri(view_, uri);
    g_free(uri);
    g_object_unref(f);
  }
  void eval(const std::string& script) override {
    webkit_web_view_evaluate_javascript(view_, script.c_str(), gssize(script.size()), nullptr, nullptr, nullptr,
                                        nullptr, nullptr);
  }
  void eval_in_document(const std::string& script, const std::string& doc) override {
    eval("if (window.__quibDoc === " + js_string(doc) + ") {" + script + "}");
  }
  void add_user_script(const std::string& source) override {
    add_script(source, nullptr);
  }
  void set_message_handler(const std::string& name,
                           std::function<void(const ScriptMessage&)> handler) override {
    if (!handlers_.count(name)) {
      if (!listener_added_) {
        add_script(kPrivateListenerJs, kWorld);
        listener_added_ = true;
      }
      add_script(page_relay_js(name), nullptr);
      webkit_user_content_manager_register_script_message_handler_in_world(ucm_, name.c_str(), kWorld);
      std::string signal = "script-message-received::" + name;
      g_signal_connect_data(
          ucm_, signal.c_str(), G_CALLBACK(&GtkWebView::on_message), new Route{this, name},
          +[](gpointer p, GClosure*) { delete static_cast<Route*>(p); }, GConnectFlags(0));
    }
    handlers_[name] = std::move(handler);
  }
  void set_user_agent(const std::string& ua) override {
    webkit_settings_set_user_agent(webkit_web_view_get_settings(view_), ua.c_str());
  }
  void set_developer_extras(bool on) override {
    webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(view_), on);
  }
  void enable_file_access() override {
    WebKitSettings* s = webkit_web_view_get_settings(view_);
    webkit_settings_set_allow_file_access_from_file_urls(s, TRUE);
    webkit_settings_set_allow_universal_access_from_file_urls(s, TRUE);
  }
  void enable_webgpu() override {
    WebKitFeatureList* all = webkit_settings_get_all_features();
    for (gsize i = 0, n = webkit_feature_list_get_length(all); i < n; ++i) {
      WebKitFeature* f = webkit_feature_list_get(all, i);
      const char* id = webkit_feature_get_identifier(f);
      if (id && g_str_equal(id, "WebGPU")) {
        webkit_settings_set_feature_enabled(webkit_web_view_get_settings(view_), f, TRUE);
        break;
      }
    }
    webkit_feature_list_unref(all);
  }
  void open_inspector() override {
    set_developer_extras(true);
    webkit_web_inspector_show(webkit_web_view_get_inspector(view_));
  }
  void* native_handle() override { return view_; }

 private:
  struct Route {
    GtkWebView* self;
    std::string name;
  };
  void add_script(const std::string& source, const char* world) {
    WebKitUserScript* s =
        world ? webkit_user_script_new_for_world(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                 WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, world, nullptr,
                                                 nullptr)
              : webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                       WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(ucm_, s);
    webkit_user_script_unref(s);
  }
  static void on_message(WebKitUserContentManager*, WebKitJavascriptResult* r, Route* route) {
    JSCValue* v = webkit_javascript_result_get_js_value(r);
    if (!jsc_value_is_object(v)) return;
    ScriptMessage m;
    m.body = member(v, "body");
    m.origin = member(v, "origin");
    m.document = member(v, "doc");
    m.main_frame = true;
    auto it = route->self->handlers_.find(route->name);
    if (it != route->self->handlers_.end() && it->second) it->second(m);
  }

  WebKitUserContentManager* ucm_;
  WebKitWebView* view_;
  bool listener_added_ = false;
  std::map<std::string, std::function<void(const ScriptMessage&)>> handlers_;
};

std::unique_ptr<WebView> GtkPlatform::make_webview() { return std::make_unique<GtkWebView>(); }

}  // namespace platform::gtk
