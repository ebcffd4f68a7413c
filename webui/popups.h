#pragma once
// Pages asking for new windows: the POPUPQ questions with their 400 ms default
// answers (POPUPR), the POPUP events, and popup windows, which are registry
// windows like those WINOPEN makes. Main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/records.h"
#include "platform/webview.h"

// How long a question to the backend (POPUPQ, and navigation's NAVQ) waits for
// its answer before its default applies.
inline constexpr double kQuestionMs = 400;

// Number POPUPQ ids ("p1", ...) and popup windows ("popup1", ...).
extern std::int64_t g_popup_qseq;
extern std::int64_t g_popup_seq;

using PopupAnswer = std::function<void(const std::string& answer)>;

// Puts a popup question: with a backend, POPUPQ (new_window "" is written "-")
// and its default after 400 ms; without one, the block runs at once with the
// default.
void quib_popup_ask(const std::string& new_window, const std::string& opener, const std::string& url,
                    const std::string& fallback, PopupAnswer block);
// Settles a popup question; an id that is not pending is ignored.
void quib_popup_resolve(const std::string& id, const std::string& answer);
// Sends the POPUP line; an empty window id is written null. Every text is a JSON
// string, the action too (it can be any text of the popup setting).
void quib_popup_event(const std::string& window, const std::string& url, const std::string& action);

// A navigation that names no frame (a link to a new window): already cancelled;
// asks what else happens (the desktop's browser, or nothing).
void quib_popup_new_window_action(platform::WebView* opener, const std::string& url);
// A page script's window.open: a popup window's web view (mode "window") or null.
platform::WebView* quib_create_webview(platform::WebView* opener, const platform::NavigationAction& action);
// The popup's page is ready to be shown: its window takes the features.
void quib_popup_ready(platform::WebView* view, const platform::WindowFeatures& features);
// Before a finished load's NAV event, and when the finished page's title comes
// later: a popup window takes its page's title.
void quib_popup_take_title(platform::WebView* view);
// The page of a view asks to close its window: a popup window closes (the close
// path reports WINCLOSED); the main window and WINOPEN windows stay.
void quib_popup_close_requested(platform::WebView* view);
// The view is going away.
void quib_popup_forget(platform::WebView* view);
// The next id a popup window would get, without taking it.
std::string quib_next_popup_id();

size_t popup_questions_pending();
void popups_reset_for_tests();

// POPUPR: the backend's answer to a popup question.
void do_popupr(void* w, std::unique_ptr<PopuprReq> r);
