// Navigation on WebKitGTK.
//
// Which frame an action targets. WebKitGTK 2.50 does not say whether a
// navigation action targets the main frame or a sub-frame. The view reports the
// main frame only where it knows:
//   - a load the host itself asked for (a URI, a file, a reload) is the main
//     frame's: WebKit shows its URL as the view's URL until the load starts;
//   - before the view's first document commits there is no sub-frame at all;
//   - a navigation the main document's own navigation object announces (the
//     engine's Navigation API "navigate" event: links, scripts, forms, reloads of
//     the main frame) or a click on a link to the main frame is marked by the
//     private world's listener. The mark travels on the web process's one
//     connection right before the engine asks, so only the very next action may
//     take it, and only for its URL. It counts once the private world confirms,
//     after the engine asked, that nothing cancelled, intercepted or aborted the
//     navigation, and when no second action for the same URL arrived in the
//     meantime (a page can start a frame's navigation from its own listener,
//     ahead of the main frame's);
//   - the same answer counts the main document's child frames (frames.length),
//     evaluated after the engine asked, so a frame made for this very navigation
//     is already counted: none means the main frame.
// Otherwise, and when the private world does not answer within 100 ms, the action
// is a sub-frame's; a main-frame document reported so is still caught at its
// response, where the engine says for certain whether it is the main frame's,
// before anything of it is shown. Only actions whose frame matters to the host
// are looked at this closely.
//
// The URL of a load that starts. For a load the page started, WebKitGTK still
// shows the previous page's URL when it reports the start (its URL changes at the
// commit). The host's web-process extension reports each main-frame URL change of
// the page, the provisional one included, and its message precedes the start on
// the same connection.

#include "platform/gtk/gtk_navigation.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace platform::gtk {

namespace {

// How long the private world may take to answer before a sub-frame is assumed.
constexpr guint kFrameProbeMs = 100;
// Where a WebKitWebView keeps its GtkNavigation.
constexpr const char* kNavKey = "quibex-navigation";
// The web-process extension's message with the page's main-frame URL.
constexpr const char* kUriMessage = "quibex:uri";

std::string uri_of(WebKitURIRequest* r) {
  const char* u = r ? webkit_uri_request_get_uri(r) : nullptr;
  return u ? u : "";
}

// One policy decision of the engine, answered once; unanswered, it cancels.
class GtkPolicyDecision : public PolicyDecision {
 public:
  explicit GtkPolicyDecision(WebKitPolicyDecision* d) : d_(add_ref(d)) {}
  ~GtkPolicyDecision() override {
    if (!done_) webkit_policy_decision_ignore(d_.get());
  }
  void decide(Policy p) override {
    if (done_) return;
    done_ = true;
    switch (p) {
      case Policy::kAllow: webkit_policy_decision_use(d_.get()); break;
      case Policy::kCancel: webkit_policy_decision_ignore(d_.get()); break;
      case Policy::kDownload: webkit_policy_decision_download(d_.get()); break;
    }
  }

 private:
  GObjectPtr<WebKitPolicyDecision> d_;
  bool done_ = false;
};

LoadError load_error(const char* failing_uri, const GError* error) {
  LoadError e;
  if (error) {
    if ((error->domain == WEBKIT_NETWORK_ERROR && error->code == WEBKIT_NETWORK_ERROR_CANCELLED) ||
        (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED))
      e.kind = LoadError::Kind::kCancelled;
    else if (error->domain == WEBKIT_POLICY_ERROR &&
             error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)
      e.kind = LoadError::Kind::kInterrupted;
    if (error->message) e.description = error->message;
  }
  if (failing_uri) e.failing_url = failing_uri;
  return e;
}

}  // namespace

// Marks are numbered per document; the probe asks about one by its number and
// learns whether its event still stands. A navigate event is over when the page
// cancelled it, or when a navigateerror (aborted, stopped) or a currententrychange
// (intercepted, pushed: no load) follows it; a click when the page cancelled it.
const char* const kNavMarkJs =
    "(() => {"
    "if (document.__quibMarks) return; document.__quibMarks = true;"
    "const page = typeof self.__quibPage === 'number' ? String(self.__quibPage) : '';"
    "const marks = new Map(); let last = 0;"
    "const mark = (url, e) => { if (typeof url !== 'string') return;"
    " marks.set(++last, {e, over: false}); marks.delete(last - 16);"
    " try { window.webkit.messageHandlers.quibnav.postMessage(page + '\\n' + last + '\\n' + url); } catch (x) {} };"
    "self.__quibProbe = (n) => { const m = marks.get(n); marks.delete(n);"
    " const live = !!m && !m.over && !m.e.defaultPrevented && !(m.e.signal && m.e.signal.aborted);"
    " return [live, frames.length]; };"
    "const nav = self.navigation;"
    "if (nav) {"
    " nav.addEventListener('navigate', (e) => { if (e.isTrusted) mark(e.destination.url, e); }, true);"
    " const over = (e) => { if (e.isTrusted) for (const m of marks.values()) m.over = true; };"
    " nav.addEventListener('navigateerror', over, true);"
    " nav.addEventListener('currententrychange', over, true);"
    "}"
    "const baseTarget = () => { const b = document.querySelector('base[target]');"
    " return b ? b.getAttribute('target') || '' : ''; };"
    "addEventListener('click', (e) => {"
    " if (e.button !== 0 || e.ctrlKey || e.shiftKey || e.metaKey || e.altKey) return;"
    " for (const n of e.composedPath()) {"
    "  if (!(n instanceof Element)) continue;"
    "  if ((n.localName === 'a' || n.localName === 'area') && n.hasAttribute('href')) {"
    "   const t = (n.getAttribute('target') || baseTarget()).toLowerCase();"
    "   if (!t || t === '_self' || t === '_top' || t === '_parent') mark(n.href, e);"
    "   return;"
    "  }"
    " }"
    "}, true);"
    "})();";

bool enable_engine_feature(WebKitSettings* settings, const char* id) {
  WebKitFeatureList* all = webkit_settings_get_all_features();
  bool found = false;
  for (gsize i = 0, n = webkit_feature_list_get_length(all); i < n && !found; ++i) {
    WebKitFeature* f = webkit_feature_list_get(all, i);
    const char* name = webkit_feature_get_identifier(f);
    if (name && g_str_equal(name, id)) {
      webkit_settings_set_feature_enabled(settings, f, TRUE);
      found = true;
    }
  }
  webkit_feature_list_unref(all);
  return found;
}

GtkNavigation* navigation_of(WebKitWebView* view) {
  return static_cast<GtkNavigation*>(g_object_get_data(G_OBJECT(view), kNavKey));
}

GtkNavigation::GtkNavigation(WebKitWebView* view) : view_(view), cancel_(g_cancellable_new()) {
  g_object_set_data(G_OBJECT(view_), kNavKey, this);
  // Pages may open windows from script as they would in a browser that allows
  // popups; the host decides what becomes of each.
  webkit_settings_set_javascript_can_open_windows_automatically(webkit_web_view_get_settings(view_), TRUE);
  // The Navigation API (off by default in WebKitGTK 2.50) announces the main
  // document's navigations to the private world before the engine asks about them.
  if (!enable_engine_feature(webkit_web_view_get_settings(view_), "NavigationAPI")) {
    static bool warned = false;
    if (!warned) std::fputs("quibex: this WebKitGTK has no Navigation API: a page's own navigations are asked "
                            "about at their response when the page holds frames\n", stderr);
    warned = true;
  }
  const std::pair<const char*, GCallback> handlers[] = {
      {"decide-policy", G_CALLBACK(&GtkNavigation::on_decide_policy)},
      {"load-changed", G_CALLBACK(&GtkNavigation::on_load_changed)},
      {"load-failed", G_CALLBACK(&GtkNavigation::on_load_failed)},
      {"web-process-terminated", G_CALLBACK(&GtkNavigation::on_terminated)},
      {"create", G_CALLBACK(&GtkNavigation::on_create)},
      {"ready-to-show", G_CALLBACK(&GtkNavigation::on_ready_to_show)},
      {"close", G_CALLBACK(&GtkNavigation::on_close)},
      {"notify::uri", G_CALLBACK(&GtkNavigation::on_uri)},
      {"notify::title", G_CALLBACK(&GtkNavigation::on_title)},
      {"user-message-received", G_CALLBACK(&GtkNavigation::on_user_message)},
  };
  for (const auto& [signal, handler] : handlers) signals_.emplace_back(view_, signal, handler, this);
}

GtkNavigation::~GtkNavigation() {
  // Nothing reports anything about a view that is going away.
  alive_.reset();
  g_cancellable_cancel(cancel_.get());
  signals_.clear();
  g_object_set_data(G_OBJECT(view_), kNavKey, nullptr);
}

void GtkNavigation::note_mark(std::string number, std::string url) {
  mark_ = Mark{std::move(number), std::move(url)};
}

std::string GtkNavigation::url() const {
  const char* u = webkit_web_view_get_uri(view_);
  if (u && *u) return u;
  return crashed_ ? last_uri_ : std::string();
}

void GtkNavigation::deliver(const NavigationAction& a, std::unique_ptr<PolicyDecision> d) {
  auto fn = events_.decide_action;  // a copy: the callback may set new events
  if (fn)
    fn(a, std::move(d));
  else
    d->decide(Policy::kAllow);
}

struct GtkNavigation::FrameProbe {
  std::weak_ptr<int> alive;
  GtkNavigation* self;
  NavigationAction action;
  std::unique_ptr<PolicyDecision> decision;
  std::string mark;  // the number of the mark this action took; "" when none or when in doubt
  guint timeout = 0;
  bool done = false;
};

void GtkNavigation::finish_probe(const std::shared_ptr<FrameProbe>& p, bool main_frame) {
  if (p->done) return;
  p->done = true;
  if (p->timeout) g_source_remove(p->timeout);
  p->timeout = 0;
  if (p->alive.expired()) return;  // the view went; the decision cancels
  std::erase_if(p->self->marked_, [&](const std::weak_ptr<FrameProbe>& w) { return w.expired() || w.lock() == p; });
  p->action.main_frame = main_frame;
  p->self->deliver(p->action, std::move(p->decision));
}

// Which frame an action targets, as far as the view can know (see the top of the file).
void GtkNavigation::classify(NavigationAction a, std::unique_ptr<PolicyDecision> d, std::optional<Mark> mark) {
  a.main_frame = true;
  const char* current = webkit_web_view_get_uri(view_);
  if (host_load_ && current && a.url == current) {
    host_load_ = false;
    return deliver(a, std::move(d));
  }
  if (!committed_ || !events_.frame_matters || !events_.frame_matters(a.url)) return deliver(a, std::move(d));
  // A second action for a URL whose mark is still being checked: the mark may be
  // either's, so it counts for neither.
  for (const auto& w : marked_)
    if (auto other = w.lock(); other && other->action.url == a.url) other->mark.clear();
  auto probe = std::make_shared<FrameProbe>();
  probe->alive = alive_;
  probe->self = this;
  probe->action = std::move(a);
  probe->decision = std::move(d);
  if (mark && mark->url == probe->action.url) {
    probe->mark = std::move(mark->number);
    marked_.push_back(probe);
  }
  probe->timeout = g_timeout_add_full(
      G_PRIORITY_DEFAULT, kFrameProbeMs,
      +[](gpointer data) -> gboolean {
        auto& p = *static_cast<std::shared_ptr<FrameProbe>*>(data);
        p->timeout = 0;
        finish_probe(p, false);
        return G_SOURCE_REMOVE;
      },
      new std::shared_ptr<FrameProbe>(probe),
      +[](gpointer data) { delete static_cast<std::shared_ptr<FrameProbe>*>(data); });
  // [whether the mark's event still stands, the number of child frames]
  const std::string script = "typeof __quibProbe === 'function' ? __quibProbe(" +
                             (probe->mark.empty() ? std::string("0") : probe->mark) + ") : [false, frames.length]";
  webkit_web_view_evaluate_javascript(
      view_, script.c_str(), -1, kBridgeWorld, nullptr, cancel_.get(),
      +[](GObject* source, GAsyncResult* res, gpointer data) {
        std::unique_ptr<std::shared_ptr<FrameProbe>> p(static_cast<std::shared_ptr<FrameProbe>*>(data));
        GObjectPtr<JSCValue> v(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, nullptr));
        bool live = false;
        int frames = -1;
        if (v && jsc_value_is_array(v.get())) {
          GObjectPtr<JSCValue> a(jsc_value_object_get_property_at_index(v.get(), 0));
          GObjectPtr<JSCValue> b(jsc_value_object_get_property_at_index(v.get(), 1));
          live = jsc_value_is_boolean(a.get()) && jsc_value_to_boolean(a.get());
          if (jsc_value_is_number(b.get())) frames = jsc_value_to_int32(b.get());
        }
        // The mark counts only if nothing put it in doubt while the answer came.
        finish_probe(*p, (live && !(*p)->mark.empty()) || frames == 0);
      },
      new std::shared_ptr<FrameProbe>(probe));
}

gboolean GtkNavigation::on_decide_policy(WebKitWebView*, WebKitPolicyDecision* d, WebKitPolicyDecisionType type,
                                         GtkNavigation* self) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    auto fn = self->events_.decide_response;
    if (!fn) return FALSE;
    auto* rd = WEBKIT_RESPONSE_POLICY_DECISION(d);
    NavigationResponse r;
    WebKitURIResponse* resp = webkit_response_policy_decision_get_response(rd);
    const char* ru = resp ? webkit_uri_response_get_uri(resp) : nullptr;
    r.url = ru ? ru : uri_of(webkit_response_policy_decision_get_request(rd));
    r.can_show = webkit_response_policy_decision_is_mime_type_supported(rd);
    r.main_frame_main_resource = webkit_response_policy_decision_is_main_frame_main_resource(rd);
    fn(r, std::make_unique<GtkPolicyDecision>(d));
    return TRUE;
  }
  if (!self->events_.decide_action) return FALSE;
  WebKitNavigationAction* na =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(d));
  NavigationAction a;
  a.url = uri_of(webkit_navigation_action_get_request(na));
  // WebKitGTK does not say whether the engine would download the target (a link's
  // download attribute); such links are handled by the engine's own download path.
  auto decision = std::make_unique<GtkPolicyDecision>(d);
  // A mark is for the very next action, whichever it is.
  std::optional<Mark> mark = std::exchange(self->mark_, std::nullopt);
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    a.new_window = true;
    self->deliver(a, std::move(decision));
  } else {
    self->classify(std::move(a), std::move(decision), std::move(mark));
  }
  return TRUE;
}

void GtkNavigation::on_load_changed(WebKitWebView*, WebKitLoadEvent e, GtkNavigation* self) {
  switch (e) {
    case WEBKIT_LOAD_STARTED: {
      self->mark_.reset();  // a mark after the question (a move back or forward) announces nothing to come
      self->document_ = true;
      self->failed_ = false;
      self->host_load_ = false;
      self->crashed_ = false;
      auto fn = self->events_.did_start;
      if (fn) fn(self->provisional_uri_.empty() ? self->url() : self->provisional_uri_);
      break;
    }
    case WEBKIT_LOAD_REDIRECTED: break;
    case WEBKIT_LOAD_COMMITTED: {
      self->committed_ = true;
      self->mark_.reset();
      auto fn = self->events_.did_commit;
      if (fn) fn();
      break;
    }
    case WEBKIT_LOAD_FINISHED: {
      // WebKitGTK also reports the end of a load that failed; that load has ended
      // with its failure.
      if (self->failed_) {
        self->failed_ = false;
        break;
      }
      auto fn = self->events_.did_finish;
      if (fn) fn();
      break;
    }
  }
}

gboolean GtkNavigation::on_load_failed(WebKitWebView*, WebKitLoadEvent, char* failing_uri, GError* error,
                                       GtkNavigation* self) {
  self->failed_ = true;
  auto fn = self->events_.did_fail;
  if (fn) fn(load_error(failing_uri, error));
  return TRUE;  // no error page of WebKit's own: the page shows what it had
}

void GtkNavigation::on_terminated(WebKitWebView*, WebKitWebProcessTerminationReason, GtkNavigation* self) {
  self->crashed_ = true;
  self->document_ = false;
  self->committed_ = false;
  self->failed_ = false;
  self->mark_.reset();
  // The next process reports its page's URLs afresh.
  self->provisional_uri_.clear();
  auto fn = self->events_.process_terminated;
  if (fn) fn();
}

void GtkNavigation::on_uri(WebKitWebView* view, GParamSpec*, GtkNavigation* self) {
  const char* u = webkit_web_view_get_uri(view);
  if (u && *u) self->last_uri_ = u;
}

void GtkNavigation::on_title(WebKitWebView*, GParamSpec*, GtkNavigation* self) {
  auto fn = self->events_.title_changed;
  if (fn) fn();
}

gboolean GtkNavigation::on_user_message(WebKitWebView*, WebKitUserMessage* message, GtkNavigation* self) {
  if (std::strcmp(webkit_user_message_get_name(message), kUriMessage) != 0) return FALSE;
  GVariant* p = webkit_user_message_get_parameters(message);
  if (p && g_variant_is_of_type(p, G_VARIANT_TYPE_STRING)) self->provisional_uri_ = g_variant_get_string(p, nullptr);
  return TRUE;
}

GtkWidget* GtkNavigation::on_create(WebKitWebView*, WebKitNavigationAction* na, GtkNavigation* self) {
  auto fn = self->events_.create_view;
  if (!fn) return nullptr;
  NavigationAction a;
  a.url = uri_of(webkit_navigation_action_get_request(na));
  a.new_window = true;
  WebView* popup = fn(a);
  if (!popup) return nullptr;
  auto* view = static_cast<WebKitWebView*>(popup->native_handle());
  GtkNavigation* nav = view ? navigation_of(view) : nullptr;
  // WebKit takes only a view made with this one as its related view.
  if (!nav || nav->opener_ != self->view_) return nullptr;
  nav->capture_features();
  return GTK_WIDGET(view);
}

// The page's window features: WebKit writes them into the new view's window
// properties as the create signal returns (width and height as the page asked,
// a value not given left at 0). Later the engine writes its own adjusted
// geometry there (at least 100 x 100, kept on the screen), which is not what the
// page asked for; so only the first write counts, up to the next turn of the
// main loop, before the web process can ask anything more.
void GtkNavigation::capture_features() {
  capturing_ = true;
  signals_.emplace_back(webkit_web_view_get_window_properties(view_), "notify::geometry",
                        G_CALLBACK(&GtkNavigation::on_geometry), this);
  struct Token {
    std::weak_ptr<int> alive;
    GtkNavigation* self;
  };
  g_idle_add_full(
      G_PRIORITY_HIGH - 100,
      +[](gpointer data) -> gboolean {
        auto* t = static_cast<Token*>(data);
        if (!t->alive.expired()) t->self->capturing_ = false;
        return G_SOURCE_REMOVE;
      },
      new Token{alive_, this}, +[](gpointer data) { delete static_cast<Token*>(data); });
}

void GtkNavigation::on_geometry(WebKitWindowProperties* props, GParamSpec*, GtkNavigation* self) {
  if (!self->capturing_) return;
  GdkRectangle g{};
  webkit_window_properties_get_geometry(props, &g);
  self->features_ = {g.x, g.y, g.width, g.height};
}

void GtkNavigation::on_ready_to_show(WebKitWebView*, GtkNavigation* self) {
  self->capturing_ = false;
  auto fn = self->events_.ready_to_show;
  if (fn) fn(self->features_);
}

void GtkNavigation::on_close(WebKitWebView*, GtkNavigation* self) {
  auto fn = self->events_.close_requested;
  if (fn) fn();
}

}  // namespace platform::gtk
