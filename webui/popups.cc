#include "webui/popups.h"

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/json_out.h"
#include "base/utf8.h"
#include "core/page_files.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_class.h"
#include "core/window_commands.h"
#include "core/window_registry.h"
#include "core/window_screens.h"
#include "core/wire.h"
#include "platform/platform.h"

using platform::NativeWindow;
using platform::WebView;

std::int64_t g_popup_qseq = 0;
std::int64_t g_popup_seq = 0;

namespace {

struct Question {
  PopupAnswer block;
  platform::TimerId timer = 0;
};
std::map<std::string, Question> g_popup_pending;

// A popup window until its question settles and its page is ready.
struct PopupWindow {
  WebView* view = nullptr;
  bool ready = false;         // the page is ready to show; the features are applied
  bool show_pending = false;  // settled on "window" before the page was ready
  platform::TimerId fallback = 0;
};
std::map<std::string, PopupWindow> g_popup_windows;
// The views of popup windows, with their window ids, until the views go.
std::map<WebView*, std::string> g_popup_views;

// The popup's window while the registry still holds it with this view.
NativeWindow* live_window(const std::string& id, WebView* view) {
  auto it = g_windows.find(id);
  if (it == g_windows.end() || it->second.webview.get() != view) return nullptr;
  return it->second.window.get();
}

// An answer overrides the default only when it is "external" or "deny".
std::string action_for(const std::string& answer, const std::string& fallback) {
  return answer == "external" || answer == "deny" ? answer : fallback;
}

void show_popup(const std::string& id, WebView* view) {
  NativeWindow* win = live_window(id, view);
  auto it = g_popup_windows.find(id);
  const bool ours = it != g_popup_windows.end() && it->second.view == view;
  if (!win || !ours || it->second.ready) {
    // From here on it is an ordinary registry window.
    if (ours) g_popup_windows.erase(it);
    if (win) bring_forward(win);
    return;
  }
  // Shown once its features are applied; a page that never says it is ready is
  // shown a second later all the same.
  it->second.show_pending = true;
  it->second.fallback = platform::current().timers().once(1000, [id, view] {
    auto p = g_popup_windows.find(id);
    if (p == g_popup_windows.end() || p->second.view != view || !p->second.show_pending) return;
    g_popup_windows.erase(p);
    if (NativeWindow* w = live_window(id, view)) bring_forward(w);
  });
}

}  // namespace

void quib_popup_ask(const std::string& new_window, const std::string& opener, const std::string& url,
                    const std::string& fallback, PopupAnswer block) {
  if (!sock_connected()) {
    block(fallback);
    return;
  }
  const std::string id = "p" + std::to_string(++g_popup_qseq);
  g_popup_pending[id].block = std::move(block);
  sock_write_line("POPUPQ " + id + " " + (new_window.empty() ? "-" : new_window) + "\t" + opener + "\t" + url +
                  "\t" + fallback);
  const platform::TimerId timer =
      platform::current().timers().once(kQuestionMs, [id, fallback] { quib_popup_resolve(id, fallback); });
  if (auto it = g_popup_pending.find(id); it != g_popup_pending.end()) it->second.timer = timer;
}

void quib_popup_resolve(const std::string& id, const std::string& answer) {
  auto it = g_popup_pending.find(id);
  if (it == g_popup_pending.end()) return;
  Question q = std::move(it->second);
  g_popup_pending.erase(it);
  platform::current().timers().cancel(q.timer);
  if (q.block) q.block(answer);
}

void do_popupr(void*, std::unique_ptr<PopuprReq> r) {
  quib_popup_resolve(r->id, r->answer);
}

void quib_popup_event(const std::string& window, const std::string& url, const std::string& action) {
  std::string line = "POPUP {\"window\":";
  if (window.empty())
    line += "null";
  else
    json_escape_into(line, utf8_sanitize(window));
  line += ",\"url\":";
  json_escape_into(line, utf8_sanitize(url));
  line += ",\"action\":";
  json_escape_into(line, utf8_sanitize(action));
  line += "}";
  sock_write_line(line);
}

void quib_popup_new_window_action(WebView* opener, const std::string& url) {
  const std::string fallback = settings().popups == "deny" ? "deny" : "external";
  quib_popup_ask("", quib_winid_for_webview(opener), url, fallback, [url, fallback](const std::string& answer) {
    const std::string action = action_for(answer, fallback);
    if (action == "external" && is_web_url(url)) platform::current().open_external(url);
    quib_popup_event("", url, action);
  });
}

std::string quib_next_popup_id() {
  // Never an id a window already has, and only ids WINOPEN would take too.
  for (std::int64_t n = g_popup_seq + 1;; ++n) {
    std::string id = "popup" + std::to_string(n);
    if (!g_windows.count(id) && id != "main" && window_id_acceptable(id)) return id;
  }
}

WebView* quib_create_webview(WebView* opener, const platform::NavigationAction& action) {
  if (!opener) return nullptr;
  const std::string url = action.url;
  const bool web = is_web_url(url);
  const std::string mode = settings().popups.empty() ? "external" : settings().popups;
  const std::string opener_id = quib_winid_for_webview(opener);
  if (mode != "window") {
    quib_popup_ask("", opener_id, url, mode, [url, web, mode](const std::string& answer) {
      const std::string act = action_for(answer, mode);
      if (act == "external" && web) platform::current().open_external(url);
      quib_popup_event("", url, act);
    });
    return nullptr;
  }

  const std::string id = quib_next_popup_id();
  platform::WindowParams params;
  params.title = id;
  params.width = 900;
  params.height = 600;
  QuibWindow* entry = make_registry_window(id, opener->make_related_view(), params);
  if (!entry) return nullptr;
  // The number is taken only by a window really made.
  g_popup_seq = std::stoll(id.substr(5));
  WebView* view = entry->webview.get();
  g_popup_windows[id] = PopupWindow{view};
  g_popup_views[view] = id;

  quib_popup_ask(id, opener_id, url, "window", [id, view, url, web](const std::string& answer) {
    const std::string act = action_for(answer, "window");
    if (act != "window") {
      if (act == "external" && web) platform::current().open_external(url);
      g_popup_windows.erase(id);
      // The close path reports WINCLOSED and forgets the window.
      if (NativeWindow* win = live_window(id, view)) win->close();
    } else {
      show_popup(id, view);
    }
    quib_popup_event(id, url, act);
  });
  return view;
}

void quib_popup_ready(WebView* view, const platform::WindowFeatures& f) {
  const std::string id = quib_winid_for_webview(view);
  auto it = g_popup_windows.find(id);
  if (it == g_popup_windows.end() || it->second.view != view || it->second.ready) return;
  NativeWindow* win = live_window(id, view);
  if (!win) {
    g_popup_windows.erase(it);
    return;
  }
  // At least 120 x 90; a smaller (or absent) side takes the 900 x 600 default.
  const double w = f.width < 120 ? 900 : f.width;
  const double h = f.height < 90 ? 600 : f.height;
  set_content_size_keep_top(win, w, h);
  // The engine reports an absent coordinate as 0, so a place is taken when the page
  // gave one that is not 0; (x, y) is the frame's top-left corner, y downward from
  // the top of the first screen.
  if (f.x != 0 || f.y != 0) {
    std::vector<ScreenInfo> screens = screens_now();
    const Rect s = screens.empty() ? Rect{} : screens[0].frame;
    set_frame_top_left(win, f.x, s.y + s.h - f.y);
  } else {
    center_window(win);
  }
  PopupWindow& p = it->second;
  p.ready = true;
  if (p.show_pending) {
    platform::current().timers().cancel(p.fallback);
    g_popup_windows.erase(it);
    bring_forward(win);
  }
}

void quib_popup_close_requested(WebView* view) {
  auto it = g_popup_views.find(view);
  if (it == g_popup_views.end()) return;
  // Closed on the next turn, out of the engine's own call; the close path reports
  // WINCLOSED and forgets the window.
  platform::current().main_queue().post([id = it->second, view] {
    if (NativeWindow* win = live_window(id, view)) win->close();
  });
}

void quib_popup_forget(WebView* view) { g_popup_views.erase(view); }

void quib_popup_take_title(WebView* view) {
  const std::string id = quib_winid_for_webview(view);
  if (id.rfind("popup", 0) != 0) return;
  const std::string title = view->title();
  if (title.empty()) return;
  auto it = g_windows.find(id);
  if (it == g_windows.end() || !it->second.window) return;
  it->second.window->set_title(utf8_sanitize(title));
}

size_t popup_questions_pending() { return g_popup_pending.size(); }

void popups_reset_for_tests() {
  g_popup_pending.clear();
  g_popup_windows.clear();
  g_popup_views.clear();
  g_popup_qseq = 0;
  g_popup_seq = 0;
}
