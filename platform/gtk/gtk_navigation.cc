// Navigation on WebKitGTK.
//
// Which frame an action targets. WebKitGTK 2.50 does not say whether a
// navigation action targets the main frame or a sub-frame. The view answers from
// what it can know for certain, erring toward the main frame:
//   - a load the host itself asked for (a URI, a file, a reload) is the main
//     frame's: WebKit shows its URL as the view's URL until the load starts;
//   - before the view's first document commits there is no sub-frame at all;
//   - a click on a link to the main frame, seen by the private world's listener
//     before the engine asks (the click's message precedes the navigation's on
//     the web process's one connection), is the main frame's;
//   - otherwise the private world counts the main document's child frames
//     (frames.length), evaluated after the engine asked, so a frame made for this
//     very navigation is already counted. None: the main frame. Some: a sub-frame,
//     and the host then checks the response, where the engine says for certain
//     whether it is the main frame's document, before anything of it is shown.
// Only actions whose frame matters to the host are looked at this closely.
//
// The URL of a load that starts. For a load the page started, WebKitGTK still
// shows the previous page's URL when it reports the start (its URL changes at the
// commit). The host's web-process extension reports each main-frame URL change of
// the page, the provisional one included, and its message precedes the start on
// the same connection.

#include "platform/gtk/gtk_navigation.h"

#include <cstring>

namespace platform::gtk {

namespace {

// How long a link click stays a reason to count its navigation as the main frame's.
constexpr gint64 kIntentUs = 2 * G_USEC_PER_SEC;
// How long the count of child frames may take before the main frame is assumed.
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
  explicit GtkPolicyDecision(WebKitPolicyDecision* d) : d_(WEBKIT_POLICY_DECISION(g_object_ref(d))) {}
  ~GtkPolicyDecision() override {
    if (!done_) webkit_policy_decision_ignore(d_);
    g_object_unref(d_);
  }
  void decide(Policy p) override {
    if (done_) return;
    done_ = true;
    switch (p) {
      case Policy::kAllow: webkit_policy_decision_use(d_); break;
      case Policy::kCancel: webkit_policy_decision_ignore(d_); break;
      case Policy::kDownload: webkit_policy_decision_download(d_); break;
    }
  }

 private:
  WebKitPolicyDecision* d_;
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

const char* const kIntentJs =
    "(() => {"
    "if (document.__quibIntent) return; document.__quibIntent = true;"
    "const page = typeof self.__quibPage === 'number' ? String(self.__quibPage) : '';"
    "const post = (u) => { try { window.webkit.messageHandlers.quibnav.postMessage(page + '\\n' + u); } catch (e) {} };"
    "const baseTarget = () => { const b = document.querySelector('base[target]');"
    " return b ? b.getAttribute('target') || '' : ''; };"
    "addEventListener('click', (e) => {"
    " if (e.button !== 0 || e.ctrlKey || e.shiftKey || e.metaKey || e.altKey) return;"
    " for (const n of e.composedPath()) {"
    "  if (!(n instanceof Element)) continue;"
    "  if ((n.localName === 'a' || n.localName === 'area') && n.hasAttribute('href')) {"
    "   const t = (n.getAttribute('target') || baseTarget()).toLowerCase();"
    "   if ((!t || t === '_self' || t === '_top' || t === '_parent') && typeof n.href === 'string') post(n.href);"
    "   return;"
    "  }"
    " }"
    "}, true);"
    "})();";

GtkNavigation* navigation_of(WebKitWebView* view) {
  return static_cast<GtkNavigation*>(g_object_get_data(G_OBJECT(view), kNavKey));
}

GtkNavigation::GtkNavigation(WebKitWebView* view) : view_(view), cancel_(g_cancellable_new()) {
  g_object_set_data(G_OBJECT(view_), kNavKey, this);
  // Pages may open windows from script as they would in a browser that allows
  // popups; the host decides what becomes of each.
  webkit_settings_set_javascript_can_open_windows_automatically(webkit_web_view_get_settings(view_), TRUE);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(&GtkNavigation::on_decide_policy), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(&GtkNavigation::on_load_changed), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(&GtkNavigation::on_load_failed), this);
  g_signal_connect(view_, "web-process-terminated", G_CALLBACK(&GtkNavigation::on_terminated), this);
  g_signal_connect(view_, "create", G_CALLBACK(&GtkNavigation::on_create), this);
  g_signal_connect(view_, "ready-to-show", G_CALLBACK(&GtkNavigation::on_ready_to_show), this);
  g_signal_connect(view_, "close", G_CALLBACK(&GtkNavigation::on_close), this);
  g_signal_connect(view_, "notify::uri", G_CALLBACK(&GtkNavigation::on_uri), this);
  g_signal_connect(view_, "notify::title", G_CALLBACK(&GtkNavigation::on_title), this);
  g_signal_connect(view_, "user-message-received", G_CALLBACK(&GtkNavigation::on_user_message), this);
}

GtkNavigation::~GtkNavigation() {
  // Nothing reports anything about a view that is going away.
  alive_.reset();
  g_cancellable_cancel(cancel_);
  g_object_unref(cancel_);
  g_signal_handlers_disconnect_by_data(view_, this);
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_window_properties(view_), this);
  g_object_set_data(G_OBJECT(view_), kNavKey, nullptr);
}

void GtkNavigation::note_intent(std::string url) {
  intents_.emplace_back(std::move(url), g_get_monotonic_time());
  if (intents_.size() > 32) intents_.pop_front();
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

bool GtkNavigation::take_intent(const std::string& url) {
  const gint64 now = g_get_monotonic_time();
  while (!intents_.empty() && now - intents_.front().second > kIntentUs) intents_.pop_front();
  for (auto it = intents_.begin(); it != intents_.end(); ++it)
    if (it->first == url) {
      intents_.erase(it);
      return true;
    }
  return false;
}

struct GtkNavigation::FrameProbe {
  std::weak_ptr<int> alive;
  GtkNavigation* self;
  NavigationAction action;
  std::unique_ptr<PolicyDecision> decision;
  guint timeout = 0;
  bool done = false;
};

void GtkNavigation::finish_probe(const std::shared_ptr<FrameProbe>& p, bool main_frame) {
  if (p->done) return;
  p->done = true;
  if (p->timeout) g_source_remove(p->timeout);
  p->timeout = 0;
  if (p->alive.expired()) return;  // the view went; the decision cancels
  p->action.main_frame = main_frame;
  p->self->deliver(p->action, std::move(p->decision));
}

// Which frame an action targets, as far as the view can know (see the top of the file).
void GtkNavigation::classify(NavigationAction a, std::unique_ptr<PolicyDecision> d) {
  a.main_frame = true;
  const char* current = webkit_web_view_get_uri(view_);
  if (host_load_ && current && a.url == current) {
    host_load_ = false;
    return deliver(a, std::move(d));
  }
  if (!committed_ || !events_.frame_matters || !events_.frame_matters(a.url) || take_intent(a.url))
    return deliver(a, std::move(d));
  auto probe = std::make_shared<FrameProbe>();
  probe->alive = alive_;
  probe->self = this;
  probe->action = std::move(a);
  probe->decision = std::move(d);
  probe->timeout = g_timeout_add_full(
      G_PRIORITY_DEFAULT, kFrameProbeMs,
      +[](gpointer data) -> gboolean {
        auto& p = *static_cast<std::shared_ptr<FrameProbe>*>(data);
        p->timeout = 0;
        finish_probe(p, true);
        return G_SOURCE_REMOVE;
      },
      new std::shared_ptr<FrameProbe>(probe),
      +[](gpointer data) { delete static_cast<std::shared_ptr<FrameProbe>*>(data); });
  webkit_web_view_evaluate_javascript(
      view_, "frames.length", -1, kBridgeWorld, nullptr, cancel_,
      +[](GObject* source, GAsyncResult* res, gpointer data) {
        std::unique_ptr<std::shared_ptr<FrameProbe>> p(static_cast<std::shared_ptr<FrameProbe>*>(data));
        GError* error = nullptr;
        JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
        bool main_frame = true;
        if (v) {
          if (jsc_value_is_number(v)) main_frame = jsc_value_to_int32(v) <= 0;
          g_object_unref(v);
        }
        if (error) g_error_free(error);
        finish_probe(*p, main_frame);
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
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    a.new_window = true;
    self->deliver(a, std::move(decision));
  } else {
    self->classify(std::move(a), std::move(decision));
  }
  return TRUE;
}

void GtkNavigation::on_load_changed(WebKitWebView*, WebKitLoadEvent e, GtkNavigation* self) {
  switch (e) {
    case WEBKIT_LOAD_STARTED: {
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
  g_signal_connect(webkit_web_view_get_window_properties(view_), "notify::geometry",
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
