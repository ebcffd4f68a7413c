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
//
// Popups. WebKitGTK runs every page that a page opens with window.open under the
// opener's user content manager, whatever manager the new view was made with: its
// documents run the opener's user scripts and post to the opener's handlers. So a
// view and the views made for its page's windows form one content group around
// the manager WebKit uses. The group holds each member's user scripts and message
// handlers; each member's scripts run only in documents of that member's page,
// told apart by the page id that the host's web-process extension (webext/) gives
// every document before any of its scripts runs. The private world adds that page
// id to each text it posts, and the group hands the text to that member's handler.
// A popup opened on about:blank (or no URL) gets document-start scripts twice in
// its one document: first as the manager stood when the opener's page asked for
// the window (the opener's scripts only), then again as its load commits. So every
// script is gated by page and runs at most once per document.
//
// Navigation (policy decisions, load progress, the web process, window.open)
// lives in gtk_navigation.cc, one GtkNavigation per view.

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_console.h"
#include "platform/gtk/gtk_dialogs.h"
#include "platform/gtk/gtk_downloads.h"
#include "platform/gtk/gtk_menu.h"
#include "platform/gtk/gtk_page_actions.h"
#include "platform/gtk/gtk_desktop_services.h"
#include "platform/gtk/gtk_navigation.h"
#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

template <>
struct GRelease<WebKitScriptMessageReply> {
  void operator()(WebKitScriptMessageReply* r) const { webkit_script_message_reply_unref(r); }
};
template <>
struct GRelease<WebKitUserScript> {
  void operator()(WebKitUserScript* s) const { webkit_user_script_unref(s); }
};

namespace {

constexpr const char* kWorld = kBridgeWorld;

// Page world, main frame, document start: the relay. Only texts are relayed;
// anything else posted is ignored, as the handler would ignore it. Texts
// posted before the private world listens are queued; the two sides greet
// each other, whichever runs first. An answer the private world hands back
// ("<name> <n> <1|0><json>") settles the call through window.__quibResolve;
// answers to several calls ("<name> <n> *<text>") go to window.__quibAnswers.
std::string page_relay_js(const std::string& name) {
  return "(() => {"
         "const name = '" + name + "';"
         "const mark = '__quibRelay_' + name; if (document[mark]) return;"
         "Object.defineProperty(document, mark, {value: true});"
         "let ready = false; const queue = [];"
         "const send = (m) => document.dispatchEvent(new CustomEvent('quib:post', {detail: name + ' ' + m}));"
         "document.addEventListener('quib:ready', () => { if (ready) return; ready = true;"
         " queue.splice(0).forEach(send); }, true);"
         "document.addEventListener('quib:answer', (e) => { const d = e.detail;"
         " if (typeof d !== 'string' || d.slice(0, name.length + 1) !== name + ' ') return;"
         " const a = name.length + 1; const b = d.indexOf(' ', a); if (b < 0) return;"
         " if (d[b + 1] === '*') { const g = window.__quibAnswers;"
         "  if (typeof g === 'function') g(d.slice(b + 2)); return; }"
         " const f = window.__quibResolve;"
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
// "<page>\n<document>\n<origin>\n<text>" and hands its answer back to the page
// world. <page> is the page id the web-process extension gave the document ("" when
// the extension is missing).
// Lone surrogates, which have no UTF-8 form, become U+FFFD. The origin is the
// document's security origin as the engine gives it (a blob: or an inheriting
// about:blank document has its creator's), already in the wire's form:
// default ports left out, "null" when opaque; a file page that the engine
// treats as opaque still reads "file://".
const char* kPrivateListenerJs =
    "(() => {"
    "if (document.__quibListener) return; document.__quibListener = true;"
    "const a = new Uint32Array(4); crypto.getRandomValues(a);"
    "const doc = Array.from(a, (x) => x.toString(36)).join('');"
    "const page = typeof self.__quibPage === 'number' ? String(self.__quibPage) : '';"
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
    " h.postMessage(page + '\\n' + doc + '\\n' + origin() + '\\n' + text).then(answer(name, text.slice(0, text.indexOf(':'))), ignore);"
    "}, true);"
    "document.addEventListener('quib:hello', () => document.dispatchEvent(new Event('quib:ready')), true);"
    "document.dispatchEvent(new Event('quib:ready'));"
    "})();";

// A script-global name for one gate of a member script.
std::string gate_name(const char* kind, const std::string& seed) {
  char hex[20];
  std::snprintf(hex, sizeof hex, "%016zx", std::hash<std::string>{}(seed));
  return std::string("__quib") + kind + "_" + hex;
}

// A JS string as UTF-8, whole (NULs included), held as the engine gives it: a
// message of megabytes is not copied just to be read.
class StringBytes {
 public:
  explicit StringBytes(JSCValue* v) : bytes_(jsc_value_to_string_as_bytes(v)) {}
  std::string_view view() const {
    gsize n = 0;
    const char* p = bytes_ ? static_cast<const char*>(g_bytes_get_data(bytes_.get(), &n)) : nullptr;
    return p ? std::string_view(p, n) : std::string_view();
  }

 private:
  GPtr<GBytes> bytes_;
};

std::string string_bytes(JSCValue* v) { return std::string(StringBytes(v).view()); }

// Answers one post: its promise in the private world settles with "1" or "0"
// followed by the JSON text, or with "*" followed by the text of several answers.
class GtkMessageReply : public MessageReply {
 public:
  GtkMessageReply(WebKitScriptMessageReply* reply, JSCContext* ctx)
      : reply_(webkit_script_message_reply_ref(reply)), ctx_(add_ref(ctx)) {}
  void answer(bool ok, const std::string& json) override { settle(ok ? '1' : '0', json); }
  void answer_batch(const std::string& text) override { settle('*', text); }

 private:
  void settle(char kind, const std::string& rest) {
    // The bytes take the text over without a second copy, and free it.
    auto* text = new std::string;
    text->reserve(rest.size() + 1);
    *text += kind;
    *text += rest;
    GPtr<GBytes> bytes(g_bytes_new_with_free_func(
        text->data(), text->size(), [](gpointer t) { delete static_cast<std::string*>(t); }, text));
    GObjectPtr<JSCValue> v(jsc_value_new_string_from_bytes(ctx_.get(), bytes.get()));
    webkit_script_message_reply_return_value(reply_.get(), v.get());
  }

  GPtr<WebKitScriptMessageReply> reply_;
  GObjectPtr<JSCContext> ctx_;
};

}  // namespace

class GtkWebView;

// The user content WebKit runs a view's pages with, shared by a view and the
// views made for the windows its pages open (see the top of the file).
struct ContentGroup {
  explicit ContentGroup(WebKitUserContentManager* m) : ucm(m) {}  // takes the reference
  ~ContentGroup();
  // Puts every member's scripts into the manager again: the bridge's own first,
  // then the members' scripts in their order, each one that not every member has
  // only for the pages of the members that have it.
  void rebuild();
  // Registers a message handler name once for the whole group.
  void add_handler(const std::string& name);
  void add_gated_script(size_t index, const std::string& text, const std::string& cond);
  // The member whose page has this id ("" when the document was not named).
  GtkWebView* member_for(const std::string& page);

  GObjectPtr<WebKitUserContentManager> ucm;
  std::vector<GtkWebView*> members;  // the first is the view that made the group
  std::vector<std::string> handler_names;
  bool warned = false;
  // WebKit may keep the manager after the group: none of its handlers calls back then.
  std::vector<SignalConnection> signals;
};

class GtkWebView : public WebView {
 public:
  GtkWebView() {
    group_ = std::make_shared<ContentGroup>(webkit_user_content_manager_new());
    WebKitUserContentManager* ucm = group_->ucm.get();
    webkit_user_content_manager_register_script_message_handler_in_world(ucm, kNavMarkHandler, kWorld);
    const std::string marks = std::string("script-message-received::") + kNavMarkHandler;
    group_->signals.emplace_back(ucm, marks.c_str(), G_CALLBACK(&GtkWebView::on_nav_mark), group_.get());
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(ucm));
    g_object_ref_sink(view_);
    group_->members.push_back(this);
    group_->rebuild();
    connect_capture_permission(view_);
    connect_first_click(view_, this);
    nav_ = std::make_unique<GtkNavigation>(view_);
  }
  // A view for a window the related view's page opens: the same web process (the
  // page's window.opener), settings and content group.
  explicit GtkWebView(GtkWebView* related) {
    group_ = related->group_;
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related->view_,
                                         "user-content-manager", group_->ucm.get(), "settings",
                                         webkit_web_view_get_settings(related->view_), nullptr));
    g_object_ref_sink(view_);
    group_->members.push_back(this);
    shares_process_ = true;
    related->shares_process_ = true;
    connect_capture_permission(view_);
    connect_first_click(view_, this);
    nav_ = std::make_unique<GtkNavigation>(view_);
    nav_->set_opener(related->view_);
  }
  ~GtkWebView() override {
    // Nothing reports anything about a view that is going away.
    nav_.reset();
    ctx_signal_.disconnect();
    disconnect_page_dialogs(view_);
    disconnect_console(view_);
    forget_view_downloads_and_drops(view_);
    // The page is gone with its window: end its web process now rather than when
    // WebKit gets round to it, so windows opened and closed quickly do not pile up
    // processes (and X connections). A process shared with a popup or its opener
    // serves another page still, and ends when the last of them goes.
    if (!shares_process_) webkit_web_view_terminate_web_process(view_);
    std::erase(group_->members, this);
    if (!group_->members.empty()) group_->rebuild();
    group_.reset();
    g_object_unref(view_);
  }
  void navigate(const std::string& url) override {
    nav_->host_load();
    webkit_web_view_load_uri(view_, url.c_str());
  }
  void load_html(const std::string& html, const std::string& base) override {
    webkit_web_view_load_html(view_, html.c_str(), base.empty() ? nullptr : base.c_str());
  }
  void load_file(const std::string& path, const std::string&) override {
    // WebKitGTK cannot scope file access to a directory: file pages may read files.
    enable_file_access();
    GObjectPtr<GFile> f(g_file_new_for_path(path.c_str()));
    GPtr<char> uri(g_file_get_uri(f.get()));
    nav_->host_load();
    webkit_web_view_load_uri(view_, uri.get());
  }
  void eval(const std::string& script) override {
    webkit_web_view_evaluate_javascript(view_, script.c_str(), gssize(script.size()), nullptr, nullptr, nullptr,
                                        nullptr, nullptr);
  }
  void add_user_script(const std::string& source) override {
    scripts_.push_back(source);
    group_->rebuild();
  }
  void set_message_handler(const std::string& name, MessageHandler handler) override {
    handlers_[name] = std::move(handler);
    group_->add_handler(name);
  }
  void set_user_agent(const std::string& ua) override {
    webkit_settings_set_user_agent(webkit_web_view_get_settings(view_), ua.c_str());
  }
  void set_developer_extras(bool on) override {
    webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(view_), on);
  }
  void set_console_handler(ConsoleHandler handler) override { connect_console(view_, std::move(handler)); }
  void enable_file_access() override {
    WebKitSettings* s = webkit_web_view_get_settings(view_);
    webkit_settings_set_allow_file_access_from_file_urls(s, TRUE);
    webkit_settings_set_allow_universal_access_from_file_urls(s, TRUE);
  }
  void enable_webgpu() override { enable_engine_feature(webkit_web_view_get_settings(view_), "WebGPU"); }
  void open_inspector() override {
    set_developer_extras(true);
    webkit_web_inspector_show(webkit_web_view_get_inspector(view_));
  }
  void editing_command(MenuCommand c) override { run_editing_command(view_, c); }
  void set_context_menu_provider(std::function<std::shared_ptr<const MenuNode>()> p, MenuChosen c) override {
    ctx_provider_ = std::move(p);
    ctx_chosen_ = std::move(c);
    if (!ctx_signal_.connected())
      ctx_signal_ = SignalConnection(view_, "context-menu", G_CALLBACK(&GtkWebView::on_context_menu), this);
  }
  void* native_handle() override { return view_; }
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
  void set_page_dialog_handlers(PageDialogHandler dialogs, FileChooserHandler files) override {
    connect_page_dialogs(view_, std::move(dialogs), std::move(files));
  }
  void set_download_events(DownloadEvents events) override { set_view_download_events(view_, std::move(events)); }
  void set_drop_handler(DropHandler handler) override { set_view_drop_handler(view_, std::move(handler)); }

  void set_navigation_events(NavigationEvents events) override { nav_->set_events(std::move(events)); }
  std::unique_ptr<WebView> make_related_view() override { return std::make_unique<GtkWebView>(this); }
  std::string url() const override { return nav_->url(); }
  std::string title() const override {
    const char* t = webkit_web_view_get_title(view_);
    return t ? t : "";
  }
  void reload_from_origin() override {
    nav_->host_load();
    webkit_web_view_reload_bypass_cache(view_);
  }

 private:
  friend struct ContentGroup;
  struct Route {
    ContentGroup* group;
    std::string name;
  };
  static void add_script(WebKitUserContentManager* ucm, const std::string& source, const char* world) {
    GPtr<WebKitUserScript> s(
        world ? webkit_user_script_new_for_world(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                 WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, world, nullptr,
                                                 nullptr)
              : webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                       WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr));
    webkit_user_content_manager_add_script(ucm, s.get());
  }
  // The page id of this view as the web-process extension names its documents.
  std::string page_id() const { return std::to_string(webkit_web_view_get_page_id(view_)); }
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
    const StringBytes bytes(v);
    const std::string_view all = bytes.view();
    const size_t p = all.find('\n');
    const size_t a = p == std::string::npos ? p : all.find('\n', p + 1);
    const size_t b = a == std::string::npos ? a : all.find('\n', a + 1);
    if (b == std::string::npos) return TRUE;
    GtkWebView* self = route->group->member_for(std::string(all.substr(0, p)));
    if (!self) return TRUE;
    auto it = self->handlers_.find(route->name);
    if (it == self->handlers_.end() || !it->second) return TRUE;
    ScriptMessage m;
    m.document.assign(all.substr(p + 1, a - p - 1));
    m.origin.assign(all.substr(a + 1, b - a - 1));
    m.body.assign(all.substr(b + 1));
    MessageHandler handler = it->second;  // a copy: the handler may replace itself
    handler(m, std::make_unique<GtkMessageReply>(reply, jsc_value_get_context(v)));
    return TRUE;
  }

  // "<page>\n<number>\n<url>" from the private world: a navigation of the main frame.
  static void on_nav_mark(WebKitUserContentManager*, WebKitJavascriptResult* r, ContentGroup* group) {
    JSCValue* v = webkit_javascript_result_get_js_value(r);
    if (!jsc_value_is_string(v)) return;
    const std::string all = string_bytes(v);
    const size_t p = all.find('\n');
    const size_t n = p == std::string::npos ? p : all.find('\n', p + 1);
    if (n == std::string::npos || n == p + 1 || n - p > 10) return;
    const std::string number = all.substr(p + 1, n - p - 1);
    if (number.find_first_not_of("0123456789") != std::string::npos) return;
    GtkWebView* self = group->member_for(all.substr(0, p));
    if (!self) return;
    self->nav_->note_mark(number, all.substr(n + 1));
  }

  std::shared_ptr<ContentGroup> group_;
  std::vector<std::string> scripts_;  // this view's user scripts, in order
  WebKitWebView* view_;
  std::unique_ptr<GtkNavigation> nav_;
  bool shares_process_ = false;  // with a popup or an opener
  std::function<std::shared_ptr<const MenuNode>()> ctx_provider_;
  MenuChosen ctx_chosen_;
  SignalConnection ctx_signal_;
  std::map<std::string, MessageHandler> handlers_;
};

ContentGroup::~ContentGroup() {
  for (const std::string& name : handler_names)
    webkit_user_content_manager_unregister_script_message_handler_in_world(ucm.get(), name.c_str(), kWorld);
  webkit_user_content_manager_unregister_script_message_handler_in_world(ucm.get(), kNavMarkHandler, kWorld);
  signals.clear();
}

void ContentGroup::add_handler(const std::string& name) {
  if (std::find(handler_names.begin(), handler_names.end(), name) != handler_names.end()) return;
  handler_names.push_back(name);
  webkit_user_content_manager_register_script_message_handler_with_reply(ucm.get(), name.c_str(), kWorld);
  const std::string signal = "script-message-with-reply-received::" + name;
  signals.emplace_back(ucm.get(), signal.c_str(), G_CALLBACK(&GtkWebView::on_message),
                       new GtkWebView::Route{this, name},
                       +[](gpointer p, GClosure*) { delete static_cast<GtkWebView::Route*>(p); });
  rebuild();
}

void ContentGroup::rebuild() {
  if (!ucm) return;
  webkit_user_content_manager_remove_all_scripts(ucm.get());
  GtkWebView::add_script(ucm.get(), kPrivateListenerJs, kWorld);
  GtkWebView::add_script(ucm.get(), kNavMarkJs, kWorld);
  for (const std::string& name : handler_names) GtkWebView::add_script(ucm.get(), page_relay_js(name), nullptr);
  size_t count = 0;
  for (GtkWebView* m : members) count = std::max(count, m->scripts_.size());
  for (size_t i = 0; i < count; ++i) {
    // Each text once, for the pages of the members that have it; the first member
    // also takes documents the extension did not name.
    std::vector<std::string> done;
    for (GtkWebView* m : members) {
      if (i >= m->scripts_.size()) continue;
      const std::string& text = m->scripts_[i];
      if (std::find(done.begin(), done.end(), text) != done.end()) continue;
      done.push_back(text);
      std::string pages;
      bool first = false;
      for (GtkWebView* o : members)
        if (i < o->scripts_.size() && o->scripts_[i] == text) {
          pages += (pages.empty() ? "" : ",") + o->page_id();
          first = first || o == members[0];
        }
      std::string cond = "[" + pages + "].includes(self.__quibPage)";
      if (first) cond += " || typeof self.__quibPage !== 'number'";
      add_gated_script(i, text, cond);
    }
  }
}

// A member's script runs at top level, as a user script does, yet only where
// `cond` holds and at most once per document (per global scope: WebKit gives each
// new document a fresh one and keeps it only for the about:blank load of a
// popup's first document). Both gates are global lexical names that the script
// declares at its end: a second run finds its own declaration and fails before
// running, and where `cond` does not hold a non-configurable global property of
// the same name, set just before, makes it fail the same way. The script's own
// names stay global, and nothing of it runs where it fails. The once-gate depends
// on the text alone, so a text run under one member list does not run again under
// the next.
void ContentGroup::add_gated_script(size_t index, const std::string& text, const std::string& cond) {
  const std::string once = gate_name("Once", std::to_string(index) + "\n" + text);
  const std::string only = gate_name("For", once + "\n" + cond);
  GtkWebView::add_script(ucm.get(),
                         "if (!(" + cond + ")) try { Object.defineProperty(globalThis, '" + only +
                             "', {value: 0}); } catch (e) {}",
                         nullptr);
  GtkWebView::add_script(ucm.get(), text + "\n;let " + once + ", " + only + ";", nullptr);
}

GtkWebView* ContentGroup::member_for(const std::string& page) {
  if (!page.empty())
    for (GtkWebView* m : members)
      if (m->page_id() == page) return m;
  if (members.size() == 1) return members[0];
  if (page.empty() && !warned) {
    warned = true;
    std::fputs("quibex: the web-process extension did not name a page: calls of windows opened by a page are "
               "dropped\n",
               stderr);
  }
  return nullptr;
}

}  // namespace platform::gtk

// The web-process extension's bytes (generated: gen/quibex_webext_so.cc).
extern const unsigned char kQuibexWebExt[];
extern const unsigned char kQuibexWebExtEnd[];

namespace platform::gtk {

namespace {

// WebKit loads web-process extensions from a directory; the host carries its own
// inside the executable and writes it out once per content (the directory is named
// by its checksum), in the user's runtime directory, else the cache, else /tmp.
void install_web_extension() {
  static bool done = false;
  if (done) return;
  done = true;
  const gsize size = gsize(kQuibexWebExtEnd - kQuibexWebExt);
  const std::string sum = take_string(g_compute_checksum_for_data(G_CHECKSUM_SHA256, kQuibexWebExt, size));
  const std::string name = sum.substr(0, 24);
  std::string why;
  for (const char* base : {g_get_user_runtime_dir(), g_get_user_cache_dir(), g_get_tmp_dir()}) {
    const std::string top = std::string(base) + "/quibex-" + std::to_string(getuid());
    const std::string dir = top + "/webkit-extensions/" + name;
    const std::string file = dir + "/libquibex-webext.so";
    // WebKit runs whatever library it finds there: the folder must be ours alone
    // (a shared /tmp lets anybody make it first), and the library exactly ours.
    struct stat st;
    if (g_mkdir_with_parents(dir.c_str(), 0700) != 0 || lstat(top.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != getuid() || (st.st_mode & 022) != 0) {
      why = top + " is not a private folder of this user";
      continue;
    }
    GPtr<char> have;
    gsize have_size = 0;
    const bool read = g_file_get_contents(file.c_str(), out_ptr(have), &have_size, nullptr);
    const bool same = read && have_size == size && std::memcmp(have.get(), kQuibexWebExt, size) == 0;
    if (!same) {
      GPtr<GError> error;
      if (!g_file_set_contents(file.c_str(), reinterpret_cast<const char*>(kQuibexWebExt), gssize(size),
                               out_ptr(error))) {
        why = error ? error->message : g_strerror(errno);
        continue;
      }
    }
    webkit_web_context_set_web_extensions_directory(webkit_web_context_get_default(), dir.c_str());
    return;
  }
  std::fprintf(stderr, "quibex: cannot write the web-process extension (%s)\n", why.c_str());
}

}  // namespace

std::unique_ptr<WebView> GtkPlatform::make_webview() {
  install_web_extension();
  return std::make_unique<GtkWebView>();
}

}  // namespace platform::gtk
