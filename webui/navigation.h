#pragma once
// The navigation half of the web views' shared delegate: the decision on each
// navigation and response, the questions put to the backend before a page leaves
// the application's content (NAVQ) with their 400 ms default answers (NAVR), the
// NAV events of every page load, and bringing back a page whose web process
// ended (RELOAD, EVAL). Main thread.

#include <cstdint>
#include <memory>
#include <string>

#include "core/records.h"
#include "platform/webview.h"

// Navigation answer codes.
inline constexpr int kNavAllow = 0;
inline constexpr int kNavDeny = 1;
inline constexpr int kNavExternal = 2;

// Numbers NAVQ ids: "n1", "n2", ...; advances only for a question really sent.
extern std::int64_t g_nav_seq;

// Gives a view the navigation delegate (every new web view gets it through the
// core's window observers).
void apply_navigation_delegate(platform::WebView* view);
// Forgets a view that is going away.
void forget_navigation(platform::WebView* view);

// True when the URL has a scheme outside the list let through without a question
// (http, https, file, about, data, blob, javascript, quib-media; compared in ASCII
// lower case). No ':' or a ':' at position 0: false.
bool quib_other_scheme(const std::string& url);
// Settles a navigation question; an id that is not pending is ignored.
void quib_nav_resolve(const std::string& id, int code);
// NAVR's answer as a code: "deny" 1, "external" 2, any other text 0.
int quib_nav_answer_code(const std::string& answer);
// Sends a NAV line for the view's window; error may be null.
void quib_nav_event(platform::WebView* view, const char* kind, const std::string& url,
                    const platform::LoadError* error);
// Cancellations and interruptions, which report nothing.
bool quib_nav_error_is_noise(const platform::LoadError& error);
// Runs a script in a view. A view whose web process ended is reloaded first, and
// the script runs once the page has loaded again (scripts keep their order).
void quib_eval_in_view(platform::WebView* view, const std::string& script);
// Whether the view's web process ended and nothing has brought the page back yet.
bool quib_view_crashed(platform::WebView* view);

// The questions still waiting for an answer; for tests.
size_t nav_questions_pending();
void navigation_reset_for_tests();

// NAVR: the backend's answer to a navigation question.
void do_navr(void* w, std::unique_ptr<NavrReq> r);
// RELOAD: the main window's page (its page file again when it was loaded as
// text), or every window's without a main window.
void do_reload(void* w);
