#include "platform/webview_lib.h"

#include <memory>

#include "platform/platform.h"

namespace {

struct Webview {
  std::unique_ptr<platform::WebView> view;
  std::unique_ptr<platform::NativeWindow> window;
};

Webview* cast(webview_t w) { return static_cast<Webview*>(w); }

}  // namespace

webview_t webview_create(bool debug, const platform::WindowParams& params) {
  auto wv = std::make_unique<Webview>();
  wv->view = platform::current().make_webview();
  wv->window = platform::current().make_window(params);
  if (!wv->view || !wv->window) return nullptr;
  wv->window->set_content(wv->view.get());
  (void)debug;
  return wv.release();
}

void webview_navigate(webview_t w, const std::string& url) {
  if (w) cast(w)->view->navigate(url);
}

void webview_set_html(webview_t w, const std::string& html) {
  if (w) cast(w)->view->load_html(html, "");
}

void webview_set_title(webview_t w, const std::string& title) {
  if (w) cast(w)->window->set_title(title);
}

void webview_set_size(webview_t w, int width, int height, webview_hint_t) {
  if (w) cast(w)->window->set_content_size(width, height);
}

void* webview_get_native_handle(webview_t w, webview_native_handle_kind_t kind) {
  if (!w) return nullptr;
  if (kind == WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW) return cast(w)->window.get();
  return cast(w)->view.get();
}

void webview_destroy(webview_t w) {
  if (!w) return;
  std::unique_ptr<Webview> owned(cast(w));
  owned->window->set_content(nullptr);
  owned->window->close();
}

platform::NativeWindow* webview_window(webview_t w) {
  return static_cast<platform::NativeWindow*>(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW));
}

platform::WebView* webview_view(webview_t w) {
  return static_cast<platform::WebView*>(
      webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER));
}
