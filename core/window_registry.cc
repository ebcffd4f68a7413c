#include "core/window_registry.h"

#include "core/launcher.h"
#include "core/wire.h"
#include "platform/webview_lib.h"

std::map<std::string, QuibWindow> g_windows;

bool window_id_acceptable(const std::string& id) {
  if (id.empty() || id == "*") return false;
  for (unsigned char c : id)
    if (c < 0x20 || c == 0x7f || c == ' ' || c == ':' || c == '"' || c == '\'') return false;
  return utf8_valid(id);
}

platform::NativeWindow* window_for_id(void* w, const std::string& id) {
  if (id.empty() || id == "main") return w ? webview_window(w) : nullptr;
  auto it = g_windows.find(id);
  return it == g_windows.end() ? nullptr : it->second.window.get();
}

platform::WebView* webview_for_id(void* w, const std::string& id) {
  if (id.empty() || id == "main") return w ? webview_view(w) : nullptr;
  auto it = g_windows.find(id);
  return it == g_windows.end() ? nullptr : it->second.webview.get();
}

std::string quib_winid_for_webview(platform::WebView* view) {
  for (auto& [id, qw] : g_windows)
    if (qw.webview.get() == view) return id;
  return "main";
}

std::string winid_for_nswindow(platform::NativeWindow* window) {
  if (!window) return "";
  for (auto& [id, qw] : g_windows)
    if (qw.window.get() == window) return id;
  void* w = g_w.load();
  if (w && webview_window(w) == window) return "main";
  return "";
}

std::string winid_for_window(platform::NativeWindow* window) {
  if (!window) return "";
  void* w = g_w.load();
  if (w && webview_window(w) == window) return "main";
  for (auto& [id, qw] : g_windows)
    if (qw.window.get() == window) return id;
  return "";
}
