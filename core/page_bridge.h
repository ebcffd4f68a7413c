#pragma once
// Page calls into CALL lines, and answers and scripts back into pages.

#include <functional>
#include <memory>
#include <string>

#include "core/records.h"
#include "platform/webview.h"

// The shim for one window: window.__QUIB_WIN, window.__invoke, window.__quibResolve,
// window.__quibAnswers (core/js/quib_shim.js).
std::string quib_shim_js(const std::string& winId);
// Wires a web view: the "quib" handler, then the shim, the page library and the
// inject script as document-start scripts of its main frame.
void attach_quib_bridge(platform::WebView* view, const std::string& winId);
// Forgets what the bridge knows of a view that is going away.
void detach_quib_bridge(platform::WebView* view);
// The view's page ended with its web process: calls it made can no longer be answered.
void quib_bridge_page_ended(platform::WebView* view);
// One posted page message, as the view's handler receives it, with its way back:
// one call, the calls of one turn of the page, or only a way back
// (core/page_messages.h). Anything else is refused whole.
void quib_on_page_message(platform::WebView* view, const std::string& winId, const platform::ScriptMessage& m,
                          std::unique_ptr<platform::MessageReply> reply);
// Forgets every window's call numbers; for tests that reuse the process.
void quib_bridge_reset_for_tests();
// How EVAL's scripts reach a view. Until one is set the view runs them at once;
// app/ sets navigation's, which first brings back a page whose web process
// ended. Main thread.
using PageScriptRunner = std::function<void(platform::WebView* view, const std::string& script)>;
void set_page_script_runner(PageScriptRunner run);

// When an answer reaches its page.
enum class Delivery {
  kNow,          // before returning, with any answers of the document that wait
  kWithTheTurn,  // from a main-queue item behind those waiting now, with the answers they give
};
// Answers a call id: "q<digits>" goes to the backend as GOT, "<win>:<seq>" into the
// page that made the call, once, and only while its document is the window's
// current one. Answers for one document go to its page in the order taken here,
// several at once where they meet. Main thread. json is taken by value: a caller
// done with it moves it in, and its UTF-8 repair works in place.
void reply_to_call(void* w, const std::string& id, int status, std::string json,
                   Delivery when = Delivery::kNow);

// RET: answers the call. EVAL, EVAL@<w>: runs the script in the window's page, or
// in every page for "*".
void do_reply(void* w, std::unique_ptr<ReplyReq> r);
void do_eval_win(void* w, std::unique_ptr<EvalReq> r);
