#include "core/page_bridge.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/json_out.h"
#include "base/utf8.h"
#include "core/answers.h"
#include "core/launcher.h"
#include "core/page_messages.h"
#include "core/page_scripts.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "core/wire.h"

namespace {

using Reply = std::unique_ptr<platform::MessageReply>;

// An answer taken from the wire, waiting for the others of its turn.
struct ReadyAnswer {
  std::uint64_t seq;  // the page's own number of the call
  bool ok;
  std::string json;  // UTF-8
  Reply own;         // the call's own way back; null when it came with others
};

// What the bridge tracks per window id. A page's own call counter starts again
// at 1 in every document, so the wire number of a call is the page's number
// plus an offset that grows past every number an earlier document of the
// window used, in this view or in an earlier view of a window closed and
// opened again under the same id: an answer for an earlier document's call can
// then never be mistaken for a call of the current one. Every way back leads
// into the document that posted it and nowhere else; a call that came alone
// keeps its own, and the calls that came together share the ways back of the
// current document until their answers come.
struct WindowCalls {
  platform::WebView* view = nullptr;  // the view showing the window; null once it closed
  std::string document;
  bool seen = false;            // whether `document` has made a call yet
  std::uint64_t offset = 0;     // added to the page's numbers in this document
  std::uint64_t max_seq = 0;    // highest page number seen in this document
  // Calls not yet answered, by wire number, with their own way back (null for a
  // call that came with others).
  std::unordered_map<std::uint64_t, Reply> waiting;
  std::size_t sharing = 0;      // calls that came with others and are not yet delivered
  std::deque<Reply> shared;     // ways back any answer of the document may take; never more than `sharing`
  std::vector<ReadyAnswer> ready;  // answers taken, in arrival order, not yet delivered
  bool delivery_posted = false;    // a delivery of `ready` waits in the main queue
};

std::map<std::string, WindowCalls> g_window_calls;

PageScriptRunner& script_runner() {
  static PageScriptRunner run;
  return run;
}

void run_page_script(platform::WebView* view, const std::string& script) {
  if (script_runner())
    script_runner()(view, script);
  else if (view)
    view->eval(script);
}

// The key of a window as answers name it: "" is the main window too.
const std::string& window_key(const std::string& win) {
  static const std::string kMain = "main";
  return win.empty() ? kMain : win;
}

bool all_digits(const std::string& s, size_t from = 0) {
  if (from >= s.size()) return false;
  for (size_t i = from; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// Window ids come from the backend; keep them inside the shim's string literal.
std::string quote_for_single(const std::string& id) {
  std::string out;
  for (char c : id) {
    switch (c) {
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  for (size_t p; (p = out.find("\xe2\x80\xa8")) != std::string::npos;) out.replace(p, 3, "\\u2028");
  for (size_t p; (p = out.find("\xe2\x80\xa9")) != std::string::npos;) out.replace(p, 3, "\\u2029");
  return out;
}

// Forgets the calls of the current document: nothing can answer them now.
void let_go_calls(WindowCalls& wc) {
  wc.waiting.clear();
  wc.sharing = 0;
  wc.shared.clear();
  wc.ready.clear();
  wc.delivery_posted = false;  // one still queued finds nothing, or what came since
}

// Keeps a way back while calls that came with others may need it.
void keep_shared(WindowCalls& wc, Reply reply) {
  if (reply && wc.shared.size() < wc.sharing) wc.shared.push_back(std::move(reply));
}

// Hands the ready answers to the page: one alone through its own way back, as
// it came; several, or one without a way of its own, in one text through one
// way back, that of an answered call if there is one, else a shared one. With
// none at hand they wait for the way back the page was asked for.
void deliver(WindowCalls& wc) {
  if (wc.ready.empty()) return;
  if (wc.ready.size() == 1 && wc.ready[0].own) {
    ReadyAnswer a = std::move(wc.ready[0]);
    wc.ready.clear();
    a.own->answer(a.ok, a.json);
    return;
  }
  Reply way;
  std::size_t came_with_others = 0;
  for (ReadyAnswer& a : wc.ready) {
    if (!a.own) ++came_with_others;
    else if (!way) way = std::move(a.own);
  }
  if (!way) {
    if (wc.shared.empty()) return;
    way = std::move(wc.shared.front());
    wc.shared.pop_front();
  }
  wc.sharing -= came_with_others;
  for (ReadyAnswer& a : wc.ready) keep_shared(wc, std::move(a.own));
  while (wc.shared.size() > wc.sharing) wc.shared.pop_back();
  std::string text(1, wc.sharing > 0 && wc.shared.empty() ? '+' : '-');
  for (const ReadyAnswer& a : wc.ready) append_page_answer(text, a.seq, a.ok, a.json);
  wc.ready.clear();
  way->answer_batch(text);
}

// Runs as a main-queue item after the answers taken before it.
void deliver_posted(void*, void* rec) {
  std::unique_ptr<std::string> key(static_cast<std::string*>(rec));
  auto it = g_window_calls.find(*key);
  if (it == g_window_calls.end()) return;
  it->second.delivery_posted = false;
  deliver(it->second);
}

// Takes the answer to a page call "<win>:<seq>" of a current document into its
// window's ready answers; null when there is no such call (answered already, of
// an earlier document, of a closed window, or no call id at all).
WindowCalls* take_answer(void* w, const std::string& id, int status, std::string json) {
  size_t colon = id.find(':');
  if (colon == std::string::npos) return nullptr;
  std::string win = id.substr(0, colon), seq = id.substr(colon + 1);
  if (!all_digits(seq) || seq.size() > 19) return nullptr;
  platform::WebView* view = webview_for_id(w, win);
  if (!view) return nullptr;
  auto it = g_window_calls.find(window_key(win));
  if (it == g_window_calls.end() || it->second.view != view) return nullptr;
  WindowCalls& wc = it->second;
  auto call = wc.waiting.find(std::stoull(seq));
  if (call == wc.waiting.end()) return nullptr;
  utf8_sanitize_in_place(json);
  wc.ready.push_back({call->first - wc.offset, status == 0, std::move(json), std::move(call->second)});
  wc.waiting.erase(call);
  return &wc;
}

}  // namespace

std::string quib_shim_js(const std::string& winId) {
  static const std::string kMark = "@QUIB_WIN@";
  std::string out = QUIB_SHIM_JS;
  const size_t at = out.find(kMark);
  if (at != std::string::npos) out.replace(at, kMark.size(), quote_for_single(utf8_sanitize(winId)));
  return out;
}

void attach_quib_bridge(platform::WebView* view, const std::string& winId) {
  if (!view) return;
  WindowCalls& wc = g_window_calls[window_key(winId)];
  wc.view = view;
  wc.seen = false;  // the view's first document numbers past everything before it
  let_go_calls(wc);
  view->set_message_handler("quib", [view, winId](const platform::ScriptMessage& m,
                                                  std::unique_ptr<platform::MessageReply> reply) {
    quib_on_page_message(view, winId, m, std::move(reply));
  });
  view->add_user_script(quib_shim_js(winId));
  view->add_user_script(QUIB_CLIENT_JS);
  if (!settings().inject_js.empty()) view->add_user_script(utf8_sanitize(settings().inject_js));
}

void detach_quib_bridge(platform::WebView* view) {
  // The numbers stay with the id, for a window opened again under it.
  for (auto& [id, wc] : g_window_calls)
    if (wc.view == view) {
      wc.view = nullptr;
      wc.seen = false;
      let_go_calls(wc);
    }
}

void set_page_script_runner(PageScriptRunner run) { script_runner() = std::move(run); }

void quib_bridge_reset_for_tests() { g_window_calls.clear(); }

void quib_bridge_page_ended(platform::WebView* view) {
  // The next document numbers past this one's calls, which nothing can answer now.
  for (auto& [id, wc] : g_window_calls)
    if (wc.view == view) {
      wc.seen = false;
      let_go_calls(wc);
    }
}

void quib_on_page_message(platform::WebView* view, const std::string& winId, const platform::ScriptMessage& m,
                          std::unique_ptr<platform::MessageReply> reply) {
  std::vector<PageCall> calls;
  if (!read_page_calls(m.body, calls)) return;
  const bool sub = !m.main_frame;
  const bool batch = m.body[0] == '*';
  WindowCalls* wc = nullptr;
  if (!sub) {
    wc = &g_window_calls[window_key(winId)];
    if (wc->view != view) return;  // a closed window's view, still going away
    if (calls.empty()) {
      // Only a way back, for calls of this document still open.
      if (!wc->seen || wc->document != m.document) return;
      keep_shared(*wc, std::move(reply));
      deliver(*wc);
      return;
    }
    if (!wc->seen || wc->document != m.document) {
      // A new document: the calls of the one before can no longer be answered.
      wc->offset += wc->max_seq;
      wc->document = m.document;
      wc->max_seq = 0;
      wc->seen = true;
      let_go_calls(*wc);
    }
  }
  for (const PageCall& c : calls) {
    // Sized once for the payload, which may be megabytes; the keyword, numbers
    // and punctuation take less than 64 bytes.
    std::string line;
    line.reserve(winId.size() + json_escaped_size(c.text) + json_escaped_size(m.origin) + 64);
    line += "CALL ";
    line += winId;
    line += ':';
    if (sub) {
      // Sub-frame calls keep the page's number; they are never answered.
      line += 's';
      line += c.seq;
    } else {
      std::uint64_t seq = std::stoull(std::string(c.seq));
      if (seq > wc->max_seq) wc->max_seq = seq;
      const std::uint64_t wire = wc->offset + seq;
      line += std::to_string(wire);
      if (batch || reply) {
        auto [it, fresh] = wc->waiting.try_emplace(wire);
        if (!fresh && !it->second) --wc->sharing;
        it->second = batch ? nullptr : std::move(reply);
        if (!it->second) ++wc->sharing;
      }
    }
    line += " [";
    json_escape_into(line, c.text);
    if (sub) line += ",\"quib:subframe\"";
    line += ",";
    json_escape_into(line, m.origin);
    line += ']';
    sock_write_line(std::move(line));
  }
  if (batch && wc) {
    keep_shared(*wc, std::move(reply));
    deliver(*wc);  // answers that waited for a way back
  }
}

void reply_to_call(void* w, const std::string& id, int status, std::string json, Delivery when) {
  if (id.size() >= 2 && id[0] == 'q' && all_digits(id, 1)) {
    send_got(std::string_view(id).substr(1), json);
    return;
  }
  WindowCalls* wc = take_answer(w, id, status, std::move(json));
  if (!wc) return;
  if (when == Delivery::kNow) return deliver(*wc);
  if (wc->delivery_posted) return;
  wc->delivery_posted = true;
  launcher_dispatch(w, deliver_posted, new std::string(window_key(id.substr(0, id.find(':')))));
}

void do_reply(void* w, std::unique_ptr<ReplyReq> r) {
  reply_to_call(w, r->id, r->status, std::move(r->payload), Delivery::kWithTheTurn);
}

void do_eval_win(void* w, std::unique_ptr<EvalReq> r) {
  // WebKit refuses a script that is not UTF-8 as a whole, without a word.
  utf8_sanitize_in_place(r->text);
  const std::string& script = r->text;
  // A page whose web process ended comes back first (the script runner).
  if (r->win == "*") {
    if (platform::WebView* main = webview_for_id(w, "main", Lookup::kProbe)) run_page_script(main, script);
    for (auto& [id, qw] : g_windows)
      if (qw.webview) run_page_script(qw.webview.get(), script);
  } else if (platform::WebView* v = webview_for_id(w, r->win)) {
    run_page_script(v, script);
  }
}
