#pragma once
// Page calls into CALL lines, and answers and scripts back into pages.

#include <memory>
#include <string>

#include "core/records.h"
#include "platform/webview.h"

// The shim for one window: window.__QUIB_WIN, window.__invoke, window.__quibResolve.
std::string quib_shim_js(const std::string& winId);
// Wires a web view: the "quib" handler, then the shim, the page library and the
// inject script as document-start scripts of its main frame.
void attach_quib_bridge(platform::WebView* view, const std::string& winId);
// Forgets what the bridge knows of a view that is going away.
void detach_quib_bridge(platform::WebView* view);
// The view's page ended with its web process: calls it made can no longer be answered.
void quib_bridge_page_ended(platform::WebView* view);
// Shared delegates of every new web view.
void quib_apply_web_delegates(platform::WebView* view);
// One posted page message, as the view's handler receives it, with its way back.
void quib_on_page_message(platform::WebView* view, const std::string& winId, const platform::ScriptMessage& m,
                          std::unique_ptr<platform::MessageReply> reply);
// Forgets every window's call numbers; for tests that reuse the process.
void quib_bridge_reset_for_tests();
// Answers a call id: "q<digits>" goes to the backend as GOT, "<win>:<seq>" into the page.
// json is taken by value: a caller done with it moves it in, and its UTF-8 repair works in place.
void reply_to_call(void* w, const std::string& id, int status, std::string json);

// RET: answers the call. EVAL, EVAL@<w>: runs the script in the window's page, or
// in every page for "*".
void do_reply(void* w, std::unique_ptr<ReplyReq> r);
void do_eval_win(void* w, std::unique_ptr<EvalReq> r);
