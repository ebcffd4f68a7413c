// Web views on WebKitGTK 4.1.
//
// The page bridge's message handlers live in a private script world. WebKitGTK
// tells the UI process nothing about the frame that posted a message, and a
// handler registered in the page's own world is reachable from every frame, so
// a cross-origin iframe could post as if it were the page. Instead the main
// frame's page world gets a relay object at window.webkit.messageHandlers.<name>
// that hands each text to a listener in the private world through a DOM event;
// sub-frames have no such object and cannot reach the private world. The
// private world, which page scripts cannot touch, names the document with a
// random token and adds its origin, and posts one text to a handler that
// answers: each answer goes back through the promise of the post that made the
// call, so it can only ever reach the document that made it.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <map>
#include <memory>

#include "platform/gtk/gtk_dialogs.h"
#include "platform/gtk/gtk_downloads.h"
#include "platform/gtk/gtk_menu.h"
#include "platform/gtk/gtk_page_actions.h"
#include "platform/gtk/gtk_desktop_services.h"
#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

constexpr const char* kWorld = kPrivateWorld;

// Page world, main frame, document start: the relay. Only texts are relayed;
// anything else posted is ignored, as the handler would ignore it. Texts
// posted before the private world listens are queued; the two sides greet
// each other, whichever runs first. An answer the private world hands back
// ("<name> <n> <1|0><json>") settles the call through window.__quibResolve.
std::string page_relay_js(const std::string& name) {
  return "(() => {"
         "const name = '" + name + "';"
         "let ready = false; const queue = [];"
         "const send = (m) => document.dispatchEvent(new CustomEvent('quib:post', {detail: name + ' ' + m}));"
         "document.addEventListener('quib:ready', () => { if (ready) return; ready = true;"
         " queue.splice(0).forEach(send); }, true);"
         "document.addEventListener('quib:answer', (e) => { const d = e.detail;"
         " if (typeof d !== 'string' || d.slice(0, name.length + 1) !== name + ' ') return;"
         " const a = name.length + 1; const b = d.indexOf(' ', a); const f = window.__quibResolve;"
         " if (b > a && typeof f === 'function') f(Number(d.slice(a, b)), d[b + 1] === '1', d.slice(b + 2)); }, true);"
         "const handlers = (window.webkit && window.webkit.messageHandlers) || {};"
         "const own = {}; for (const k in handlers) own[k] = handlers[k];"
         "own[name] = {postMessage(m) { if (typeof m === 'string') ready ? send(m) : queue.push(m); }};"
         "try { Object.defineProperty(window, 'webkit', {value: {messageHandlers: own}, configurable: true}); }"
         " catch (e) {}"
         "document.dispatchEvent(new Event('quib:hello'));"
         "})();";
}

// Private world, main frame, document start: posts each relayed text as
// "<document>\n<origin>\n<text>" and hands its answer back to the page world.
// Lone surrogates, which have no UTF-8 form, become U+FFFD. The origin is the
// document's security origin as the engine gives it (a blob: or an inheriting
// about:blank document has its creator's), already in the wire's form:
// default ports left out, "null" when opaque; a file page that the engine
// treats as opaque still reads "file://".
const char* kPrivateListenerJs =
    "(() => {"
    "const a = new Uint32Array(4); crypto.getRandomValues(a);"
    "const doc = Array.from(a, (x) => x.toString(36)).join('');"
    "const origin = () => { const o = self.origin;"
    " return o === 'null' && location.protocol === 'file:' ? 'file://' : o; };"
    "const answer = (name, n) => (r) => { if (typeof r === 'string')"
    " document.dispatchEvent(new CustomEvent('quib:answer', {detail: name + ' ' + n + ' ' + r})); };"
    "const ignore = () => {};"
    "document.addEventListener('quib:post', (e) => { const d = e.detail;"
    " if (typeof d !== 'string') return;"
    " const a = d.indexOf(' '); if (a < 0) return;"
    " const name = d.slice(0, a); const h = window.webkit.messageHandlers[name];"
    " if (!h || typeof h.postMessage !== 'function') return;"
    " const text = d.slice(a + 1).toWellFormed();"
    " h.postMessage(doc + '\\n' + origin() + '\\n' + text).then(answer(name, text.slice(0, text.indexOf(':'))), ignore);"
    "}, true);"
    "document.addEventListener('quib:hello', () => document.dispatchEvent(new Event('quib:ready')), true);"
    "document.dispatchEvent(new Event('quib:ready'));"
    "})();";

// A JS string as UTF-8, whole: NULs included.
std::string string_bytes(JSCValue* v) {
  std::string out;
  if (GBytes* b = jsc_value_to_string_as_bytes(v)) {
    gsize n = 0;
    const char* p = static_cast<const char*>(g_bytes_get_data(b, &n));
    if (p) out.assign(p, n);
    g_bytes_unref(b);
  }
  return out;
}

// Answers one post: its promise in the private world settles with "1" or "0"
// followed by the JSON text.
class GtkMessageReply : public MessageReply {
 public:
  GtkMessageReply(WebKitScriptMessageReply* reply, JSCContext* ctx)
      : reply_(webkit_script_message_reply_ref(reply)), ctx_(JSC_CONTEXT(g_object_ref(ctx))) {}
  ~GtkMessageReply() override {
    webkit_script_message_reply_unref(reply_);
    g_object_unref(ctx_);
  }
  void answer(bool ok, const std::string& json) override {
    std::string text;
    text.reserve(json.size() + 1);
    text += ok ? '1' : '0';
    text += json;
    GBytes* bytes = g_bytes_new(text.data(), text.size());
    JSCValue* v = jsc_value_new_string_from_bytes(ctx_, bytes);
    webkit_script_message_reply_return_value(reply_, v);
    g_object_unref(v);
    g_bytes_unref(bytes);
  }

 private:
  WebKitScriptMessageReply* reply_;
  JSCContext* ctx_;
};

}  // namespace

class GtkWebView : public WebView {
 public:
  GtkWebView() {
    ucm_ = webkit_user_content_manager_new();
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(ucm_));
    g_object_ref_sink(view_);
    connect_capture_permission(view_);
    connect_first_click(view_, this);
  }
  ~GtkWebView() override {
    if (ctx_signal_ && g_signal_handler_is_connected(view_, ctx_signal_)) g_signal_handler_disconnect(view_, ctx_signal_);
    disconnect_page_dialogs(view_);
    forget_view_downloads_and_drops(view_);
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
  void add_user_script(const std::string& source) override {
    add_script(source, nullptr);
  }
  void set_message_handler(const std::string& name, MessageHandler handler) override {
    if (!handlers_.count(name)) {
      if (!listener_added_) {
        add_script(kPrivateListenerJs, kWorld);
        listener_added_ = true;
      }
      add_script(page_relay_js(name), nullptr);
      webkit_user_content_manager_register_script_message_handler_with_reply(ucm_, name.c_str(), kWorld);
      std::string signal = "script-message-with-reply-received::" + name;
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
  void editing_command(MenuCommand c) override { run_editing_command(view_, c); }
  void set_context_menu_provider(std::function<std::shared_ptr<const MenuNode>()> p, MenuChosen c) override {
    ctx_provider_ = std::move(p);
    ctx_chosen_ = std::move(c);
    if (!ctx_signal_)
      ctx_signal_ = g_signal_connect(view_, "context-menu", G_CALLBACK(&GtkWebView::on_context_menu), this);
  }
  void* native_handle() override { return view_; }
  // --- find, PDF, print, reload (gtk_page_actions.cc) ---
  void find(const std::string& text, bool backwards, bool cs, std::function<void(bool)> done) override {
    find_in_page(view_, text, backwards, cs, std::move(done));
  }
  void eval_private(const std::string& script, std::function<void(std::optional<std::string>)> done) override {
    evaluate_private(view_, script, std::move(done));
  }
  void print_to_pdf(const std::string& path, std::function<void(const std::string&)> done) override {
    print_view_to_pdf(view_, path, std::move(done));
  }
  void show_print_dialog() override { show_view_print_dialog(view_); }
  std::string url() override { return view_url(view_); }
  void reload_from_origin() override { webkit_web_view_reload_bypass_cache(view_); }
  // --- end find, PDF, print, reload ---
  void set_page_dialog_handlers(PageDialogHandler dialogs, FileChooserHandler files) override {
    connect_page_dialogs(view_, std::move(dialogs), std::move(files));
  }
  // ---- downloads and file drops (gtk_downloads.cc)
  void set_download_events(DownloadEvents events) override { set_view_download_events(view_, std::move(events)); }
  void set_drop_handler(DropHandler handler) override { set_view_drop_handler(view_, std::move(handler)); }
  // ---- end of downloads and file drops

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
  // Just before the page's context menu shows: the page's own, none, or the host's.
  static gboolean on_context_menu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*,
                                  GtkWebView* self) {
    if (!self->ctx_provider_) return FALSE;
    std::shared_ptr<const MenuNode> items = self->ctx_provider_();
    if (!items) return FALSE;
    if (items->items.empty()) return TRUE;
    fill_context_menu(menu, items, self->ctx_chosen_, view);
    return FALSE;
  }
  // Anything but the private world's "<document>\n<origin>\n<text>" is ignored;
  // its reply, never answered, settles nothing.
  static gboolean on_message(WebKitUserContentManager*, JSCValue* v, WebKitScriptMessageReply* reply,
                             Route* route) {
    if (!jsc_value_is_string(v)) return TRUE;
    const std::string all = string_bytes(v);
    const size_t a = all.find('\n');
    const size_t b = a == std::string::npos ? a : all.find('\n', a + 1);
    if (b == std::string::npos) return TRUE;
    auto it = route->self->handlers_.find(route->name);
    if (it == route->self->handlers_.end() || !it->second) return TRUE;
    ScriptMessage m;
    m.document.assign(all, 0, a);
    m.origin.assign(all, a + 1, b - a - 1);
    m.body.assign(all, b + 1);
    it->second(m, std::make_unique<GtkMessageReply>(reply, jsc_value_get_context(v)));
    return TRUE;
  }

  WebKitUserContentManager* ucm_;
  WebKitWebView* view_;
  bool listener_added_ = false;
  std::function<std::shared_ptr<const MenuNode>()> ctx_provider_;
  MenuChosen ctx_chosen_;
  gulong ctx_signal_ = 0;
  std::map<std::string, MessageHandler> handlers_;
};

std::unique_ptr<WebView> GtkPlatform::make_webview() { return std::make_unique<GtkWebView>(); }

}  // namespace platform::gtk
