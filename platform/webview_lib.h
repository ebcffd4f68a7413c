#pragma once
// The small webview library the launcher drives for its main window: a native
// window holding one web view. Built on the platform interfaces, so it runs on
// the real desktop and on the fake alike. The host runs the loop itself and uses
// none of the library's own script binding.

#include <string>

#include "platform/webview.h"
#include "platform/window.h"

using webview_t = void*;

enum webview_native_handle_kind_t {
  WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW = 0,
  WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET = 1,
  WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER = 2,
};

enum webview_hint_t {
  WEBVIEW_HINT_NONE = 0,
  WEBVIEW_HINT_MIN = 1,
  WEBVIEW_HINT_MAX = 2,
  WEBVIEW_HINT_FIXED = 3,
};

// Creates the window and its web view; params choose the window kind (panel).
// Null when the desktop cannot make one.
webview_t webview_create(bool debug, const platform::WindowParams& params);
void webview_navigate(webview_t w, const std::string& url);
void webview_set_html(webview_t w, const std::string& html);
void webview_set_title(webview_t w, const std::string& title);
void webview_set_size(webview_t w, int width, int height, webview_hint_t hints);
// 0: platform::NativeWindow*, 1 and 2: platform::WebView*.
void* webview_get_native_handle(webview_t w, webview_native_handle_kind_t kind);
void webview_destroy(webview_t w);

// Typed shorthands.
platform::NativeWindow* webview_window(webview_t w);
platform::WebView* webview_view(webview_t w);
