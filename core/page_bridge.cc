#include "core/page_bridge.h"

#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

#include "base/json_out.h"
#include "base/utf8.h"
#include "core/answers.h"
#include "core/page_scripts.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "core/wire.h"
#include "webui/context_menu.h"
#include "webui/dialogs.h"
#include "webui/downloads.h"
#include "webui/navigation.h"

namespace {

// What the bridge tracks per window id. A page's own call counter starts again
// at 1 in every document, so the wire number of a call is the page's number
// plus an offset that grows past every number an earlier document of the
// window used, in this view or in an earlier view of a window closed and
// opened again under the same id: an answer for an earlier document's call can
// then never be mistaken for a call of the current one. Each call of the
// current document keeps its way back into the document that made it until
// its answer comes.
struct WindowCalls {
  platform::WebView* view = nullptr;  // the view showing the window; null once it closed
  std::string document;
  bool seen = false;            // whether `document` has made a call yet
  std::uint64_t offset = 0;     // added to the page's numbers in this document
  std::uint64_t max_seq = 0;    // highest page number seen in this document
  std::unordered_map<std::uint64_t, std::unique_ptr<platform::MessageReply>> waiting;  // by wire number
};

std::map<std::string, WindowCalls> g_window_calls;

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

}  // namespace

std::string quib_shim_js(const std::string& winId) {
  return "(() => {if (window.__quibShim) return; window.__quibShim = true;window.__QUIB_WIN = '" +
         quote_for_single(utf8_sanitize(winId)) +
         "';let seq = 0; const pending = {};window.__invoke = (payload) => new Promise((res, rej) => {  const s = "
         "++seq; pending[s] = { res, rej };  window.webkit.messageHandlers.quib.postMessage(String(s) + ':' + "
         "String(payload));});window.__quibResolve = (s, ok, jsonText) => {  const p = pending[s]; if (!p) return; "
         "delete pending[s];  let v = null; try { v = JSON.parse(jsonText); } catch (e) {}  ok ? p.res(v) : "
         "p.rej(v);};})();";
}

void attach_quib_bridge(platform::WebView* view, const std::string& winId) {
  if (!view) return;
  WindowCalls& wc = g_window_calls[window_key(winId)];
  wc.view = view;
  wc.seen = false;  // the view's first document numbers past everything before it
  wc.waiting.clear();
  view->set_message_handler("quib", [view, winId](const platform::ScriptMessage& m,
                                                  std::unique_ptr<platform::MessageReply> reply) {
    quib_on_page_message(view, winId, m, std::move(reply));
  });
  view->add_user_script(quib_shim_js(winId));
  view->add_user_script(QUIB_CLIENT_JS);
  if (!g_inject_js.empty()) view->add_user_script(utf8_sanitize(g_inject_js));
}

void detach_quib_bridge(platform::WebView* view) {
  // The numbers stay with the id, for a window opened again under it.
  for (auto& [id, wc] : g_window_calls)
    if (wc.view == view) {
      wc.view = nullptr;
      wc.seen = false;
      wc.waiting.clear();
    }
}

void quib_bridge_reset_for_tests() { g_window_calls.clear(); }

void quib_bridge_page_ended(platform::WebView* view) {
  // The next document numbers past this one's calls, which nothing can answer now.
  for (auto& [id, wc] : g_window_calls)
    if (wc.view == view) {
      wc.seen = false;
      wc.waiting.clear();
    }
}

void quib_apply_web_delegates(platform::WebView* view) {
  if (!view) return;
  // Download and page-dialog delegates join here as they are built.
  apply_navigation_delegate(view);
  apply_ctx_hook(view);
  // Page dialogs and file inputs: every web view, with or without a main window.
  apply_page_dialog_hooks(view);
  // Downloads: every web view. File drops: once the main window has put the hook in place.
  apply_download_delegate(view);
  apply_drop_hook(view);
}

void quib_on_page_message(platform::WebView* view, const std::string& winId, const platform::ScriptMessage& m,
                          std::unique_ptr<platform::MessageReply> reply) {
  size_t colon = m.body.find(':');
  if (colon == std::string::npos) return;
  std::string id = m.body.substr(0, colon);
  if (id.empty() || id.size() > 15 || !all_digits(id)) return;
  const bool sub = !m.main_frame;
  const std::string_view payload = std::string_view(m.body).substr(colon + 1);
  // Sized once for the payload, which may be megabytes; the keyword, numbers and
  // punctuation take less than 64 bytes.
  std::string line;
  line.reserve(winId.size() + json_escaped_size(payload) + json_escaped_size(m.origin) + 64);
  line += "CALL ";
  line += winId;
  line += ':';
  if (sub) {
    // Sub-frame calls keep the page's number; they are never answered.
    line += 's';
    line += id;
  } else {
    WindowCalls& wc = g_window_calls[window_key(winId)];
    if (wc.view != view) return;  // a closed window's view, still going away
    if (!wc.seen || wc.document != m.document) {
      // A new document: the calls of the one before can no longer be answered.
      wc.offset += wc.max_seq;
      wc.document = m.document;
      wc.max_seq = 0;
      wc.seen = true;
      wc.waiting.clear();
    }
    std::uint64_t seq = std::stoull(id);
    if (seq > wc.max_seq) wc.max_seq = seq;
    line += std::to_string(wc.offset + seq);
    if (reply) wc.waiting[wc.offset + seq] = std::move(reply);
  }
  line += " [";
  json_escape_into(line, payload);
  if (sub) line += ",\"quib:subframe\"";
  line += ",";
  json_escape_into(line, m.origin);
  line += ']';
  sock_write_line(std::move(line));
}

void reply_to_call(void* w, const std::string& id, int status, std::string json) {
  if (id.size() >= 2 && id[0] == 'q' && all_digits(id, 1)) {
    send_got(std::string_view(id).substr(1), json);
    return;
  }
  size_t colon = id.find(':');
  if (colon == std::string::npos) return;
  std::string win = id.substr(0, colon), seq = id.substr(colon + 1);
  if (!all_digits(seq) || seq.size() > 19) return;
  platform::WebView* view = webview_for_id(w, win);
  if (!view) return;
  auto it = g_window_calls.find(window_key(win));
  if (it == g_window_calls.end() || it->second.view != view) return;
  auto& waiting = it->second.waiting;
  auto call = waiting.find(std::stoull(seq));
  if (call == waiting.end()) return;  // answered already, or not a call of the current document
  std::unique_ptr<platform::MessageReply> reply = std::move(call->second);
  waiting.erase(call);
  utf8_sanitize_in_place(json);
  reply->answer(status == 0, json);
}

void do_reply(void* w, std::unique_ptr<ReplyReq> r) { reply_to_call(w, r->id, r->status, std::move(r->payload)); }

void do_eval_win(void* w, std::unique_ptr<EvalReq> r) {
  // WebKit refuses a script that is not UTF-8 as a whole, without a word.
  utf8_sanitize_in_place(r->text);
  const std::string& script = r->text;
  // A page whose web process ended comes back first (quib_eval_in_view).
  if (r->win == "*") {
    if (platform::WebView* main = webview_for_id(w, "main", Lookup::kProbe)) quib_eval_in_view(main, script);
    for (auto& [id, qw] : g_windows)
      if (qw.webview) quib_eval_in_view(qw.webview.get(), script);
  } else if (platform::WebView* v = webview_for_id(w, r->win)) {
    quib_eval_in_view(v, script);
  }
}
