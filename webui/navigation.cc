#include "webui/navigation.h"

#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/json_out.h"
#include "base/utf8.h"
#include "core/page_bridge.h"
#include "core/page_files.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "core/wire.h"
#include "platform/platform.h"
#include "platform/webview_lib.h"
#include "webui/popups.h"

using platform::LoadError;
using platform::NavigationAction;
using platform::NavigationResponse;
using platform::Policy;
using platform::PolicyDecision;
using platform::WebView;

std::int64_t g_nav_seq = 0;

namespace {

// A question's answer block and the timer that gives its default.
struct Question {
  std::function<void(int)> block;
  platform::TimerId timer = 0;
};
// Ordered by id text.
std::map<std::string, Question> g_nav_pending;

// How long a main-frame web URL let through stays known as let through.
constexpr double kApprovalMs = 60000;

// What the host keeps per web view.
struct ViewState {
  std::uint64_t serial = 0;
  bool crashed = false;   // the web process ended; nothing brought the page back yet
  bool reviving = false;  // reloading after that, for scripts that wait
  bool finished = false;  // the current load finished (and none started since)
  std::vector<std::string> queued;  // EVAL scripts waiting for the page to come back
  // Main-frame web URLs let through for this view (asked, or without a backend),
  // with the time; a main-frame response not among them was never asked about.
  std::vector<std::pair<std::string, double>> approved;
};
std::unordered_map<WebView*, ViewState> g_views;
std::uint64_t g_view_serial = 0;

bool starts(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

ViewState* state_of(WebView* view) {
  auto it = g_views.find(view);
  return it == g_views.end() ? nullptr : &it->second;
}

ViewState* state_by_serial(std::uint64_t serial) {
  for (auto& [view, st] : g_views)
    if (st.serial == serial) return &st;
  return nullptr;
}

double now_ms() { return platform::current().timers().now_ms(); }

// A URL without its fragment: responses name documents, not places in them.
std::string document_of(const std::string& url) { return url.substr(0, url.find('#')); }

void approve(std::uint64_t serial, const std::string& url) {
  ViewState* st = state_by_serial(serial);
  if (!st) return;
  const double now = now_ms();
  std::erase_if(st->approved, [&](const auto& a) { return now - a.second > kApprovalMs; });
  st->approved.emplace_back(document_of(url), now);
}

bool take_approval(ViewState* st, const std::string& url) {
  if (!st) return false;
  const double now = now_ms();
  std::erase_if(st->approved, [&](const auto& a) { return now - a.second > kApprovalMs; });
  const std::string doc = document_of(url);
  for (auto it = st->approved.begin(); it != st->approved.end(); ++it)
    if (it->first == doc) {
      st->approved.erase(it);
      return true;
    }
  return false;
}

void open_external(const std::string& url) { platform::current().open_external(url); }

// Puts a navigation question: NAVQ now, the default after 400 ms.
void ask(const std::string& win, const std::string& url, const char* frame, int fallback,
         std::function<void(int)> block) {
  const std::string id = "n" + std::to_string(++g_nav_seq);
  g_nav_pending[id].block = std::move(block);
  sock_write_line("NAVQ " + id + " " + win + "\t" + url + "\t" + frame);
  const platform::TimerId timer =
      platform::current().timers().once(kQuestionMs, [id, fallback] { quib_nav_resolve(id, fallback); });
  if (auto it = g_nav_pending.find(id); it != g_nav_pending.end()) it->second.timer = timer;
}

void decide_action(WebView* view, const NavigationAction& a, std::unique_ptr<PolicyDecision> d) {
  std::shared_ptr<PolicyDecision> decision(std::move(d));
  const std::string& t = a.url;
  if (a.should_download) {
    decision->decide(Policy::kDownload);
    return;
  }
  if (a.new_window) {
    // The new window's question decides only what else happens.
    decision->decide(Policy::kCancel);
    quib_popup_new_window_action(view, t);
    return;
  }
  if (quib_other_scheme(t)) {
    if (!sock_connected()) {
      decision->decide(Policy::kCancel);
      return;
    }
    // The page never loads such a URL itself: "external" hands it to the desktop,
    // silence drops it.
    ask(quib_winid_for_webview(view), t, a.main_frame ? "main" : "sub", kNavDeny, [decision, t](int code) {
      if (code == kNavExternal && !t.empty()) open_external(t);
      decision->decide(Policy::kCancel);
    });
    return;
  }
  if (a.main_frame && is_web_url(t)) {
    ViewState* st = state_of(view);
    const std::uint64_t serial = st ? st->serial : 0;
    if (sock_connected()) {
      ask(quib_winid_for_webview(view), t, "main", kNavAllow, [decision, t, serial](int code) {
        if (code == kNavExternal) open_external(t);
        if (code == kNavAllow) approve(serial, t);
        decision->decide(code == kNavAllow ? Policy::kAllow : Policy::kCancel);
      });
      return;
    }
    approve(serial, t);
  }
  decision->decide(Policy::kAllow);
}

void decide_response(WebView* view, const NavigationResponse& r, std::unique_ptr<PolicyDecision> d) {
  std::shared_ptr<PolicyDecision> decision(std::move(d));
  const Policy shown = r.can_show ? Policy::kAllow : Policy::kDownload;
  // A main-frame document that no question let through: the desktop could not tell
  // its navigation from a sub-frame's when it began. It is asked about now, before
  // anything of it is shown.
  if (r.main_frame_main_resource && is_web_url(r.url) && sock_connected() &&
      !take_approval(state_of(view), r.url)) {
    const std::string url = r.url;
    ask(quib_winid_for_webview(view), url, "main", kNavAllow, [decision, url, shown](int code) {
      if (code == kNavExternal) open_external(url);
      decision->decide(code == kNavAllow ? shown : Policy::kCancel);
    });
    return;
  }
  decision->decide(shown);
}

void run_queued(WebView* view) {
  ViewState* st = state_of(view);
  if (!st) return;
  st->reviving = false;
  std::vector<std::string> scripts = std::move(st->queued);
  st->queued.clear();
  for (const std::string& s : scripts) view->eval(s);
}

void on_start(WebView* view, const std::string& url) {
  if (ViewState* st = state_of(view)) {
    st->crashed = false;
    st->finished = false;
  }
  quib_nav_event(view, "start", url, nullptr);
}

void on_commit(WebView* view) { quib_nav_event(view, "commit", view->url(), nullptr); }

void on_finish(WebView* view) {
  if (ViewState* st = state_of(view)) st->finished = true;
  quib_popup_take_title(view);
  quib_nav_event(view, "finish", view->url(), nullptr);
  run_queued(view);
}

void on_fail(WebView* view, const LoadError& e) {
  if (ViewState* st = state_of(view); st && st->reviving) {
    // The page did not come back: its scripts are dropped.
    st->reviving = false;
    st->queued.clear();
  }
  if (quib_nav_error_is_noise(e)) return;
  quib_nav_event(view, "fail", e.failing_url.empty() ? view->url() : e.failing_url, &e);
}

// A title that comes after its load's finish is the finished page's title still.
void on_title(WebView* view) {
  if (ViewState* st = state_of(view); st && st->finished) quib_popup_take_title(view);
}

void on_terminated(WebView* view) {
  if (ViewState* st = state_of(view)) st->crashed = true;
  // The calls of the page that ended can no longer be answered.
  quib_bridge_page_ended(view);
  quib_nav_event(view, "crash", view->url(), nullptr);
}

}  // namespace

bool quib_other_scheme(const std::string& url) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  for (const char* s : {"http", "https", "file", "about", "data", "blob", "javascript", "quib-media"})
    if (scheme == s) return false;
  return true;
}

void quib_nav_resolve(const std::string& id, int code) {
  auto it = g_nav_pending.find(id);
  if (it == g_nav_pending.end()) return;
  Question q = std::move(it->second);
  g_nav_pending.erase(it);
  platform::current().timers().cancel(q.timer);
  if (q.block) q.block(code);
}

int quib_nav_answer_code(const std::string& answer) {
  if (answer == "deny") return kNavDeny;
  if (answer == "external") return kNavExternal;
  return kNavAllow;
}

void do_navr(void*, std::unique_ptr<NavrReq> r) {
  quib_nav_resolve(r->id, quib_nav_answer_code(r->answer));
}

void quib_nav_event(WebView* view, const char* kind, const std::string& url, const LoadError* error) {
  if (!url.empty() && !starts(url, "http://") && !starts(url, "https://") && !starts(url, "file://") &&
      url != "about:blank")
    return;
  std::string line = "NAV {\"window\":";
  json_escape_into(line, utf8_sanitize(quib_winid_for_webview(view)));
  line += ",\"kind\":\"";
  line += kind;
  line += "\",\"url\":";
  json_escape_into(line, utf8_sanitize(url));
  if (error) {
    line += ",\"error\":";
    json_escape_into(line, utf8_sanitize(error->description));
  }
  line += "}";
  sock_write_line(line);
}

bool quib_nav_error_is_noise(const LoadError& error) { return error.kind != LoadError::Kind::kFailed; }

void apply_navigation_delegate(WebView* view) {
  if (!view) return;
  ViewState& st = g_views[view];
  st = ViewState{};
  st.serial = ++g_view_serial;
  platform::NavigationEvents e;
  e.frame_matters = [](const std::string& url) {
    return (is_web_url(url) || quib_other_scheme(url)) && sock_connected();
  };
  e.decide_action = [view](const NavigationAction& a, std::unique_ptr<PolicyDecision> d) {
    decide_action(view, a, std::move(d));
  };
  e.decide_response = [view](const NavigationResponse& r, std::unique_ptr<PolicyDecision> d) {
    decide_response(view, r, std::move(d));
  };
  e.did_start = [view](const std::string& url) { on_start(view, url); };
  e.did_commit = [view] { on_commit(view); };
  e.did_finish = [view] { on_finish(view); };
  e.did_fail = [view](const LoadError& err) { on_fail(view, err); };
  e.process_terminated = [view] { on_terminated(view); };
  e.title_changed = [view] { on_title(view); };
  e.create_view = [view](const NavigationAction& a) { return quib_create_webview(view, a); };
  e.ready_to_show = [view](const platform::WindowFeatures& f) { quib_popup_ready(view, f); };
  e.close_requested = [view] { quib_popup_close_requested(view); };
  view->set_navigation_events(std::move(e));
}

void forget_navigation(WebView* view) {
  g_views.erase(view);
  quib_popup_forget(view);
}

void quib_eval_in_view(WebView* view, const std::string& script) {
  if (!view) return;
  ViewState* st = state_of(view);
  if (!st || (!st->crashed && !st->reviving)) {
    view->eval(script);
    return;
  }
  st->queued.push_back(script);
  if (!st->reviving) {
    st->reviving = true;
    view->reload_from_origin();
  }
}

bool quib_view_crashed(WebView* view) {
  ViewState* st = state_of(view);
  return st && st->crashed;
}

void do_reload(void* w) {
  if (w) {
    WebView* view = webview_view(w);
    // Text loaded without an address shows as about:blank: load the page file again.
    const std::string url = view ? view->url() : std::string();
    if (view && !url.empty() && url != "about:blank")
      view->reload_from_origin();
    else if (!settings().html_path.empty())
      load_html_file(w, settings().html_path);
    return;
  }
  for (auto& [id, qw] : g_windows)
    if (qw.webview) qw.webview->reload_from_origin();
}

size_t nav_questions_pending() { return g_nav_pending.size(); }

void navigation_reset_for_tests() {
  g_nav_pending.clear();
  g_views.clear();
  g_nav_seq = 0;
}
