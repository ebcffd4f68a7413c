#include "core/window_registry.h"

#include "base/utf8.h"
#include "core/debug_notes.h"
#include "core/launcher.h"
#include "platform/webview_lib.h"

std::map<std::string, QuibWindow> g_windows;

bool window_id_acceptable(const std::string& id) {
  if (id.empty() || id == "*") return false;
  for (unsigned char c : id)
    if (c < 0x20 || c == 0x7f || c == ' ' || c == ':' || c == '"' || c == '\'') return false;
  return utf8_valid(id);
}

namespace {

// A window's part (its window or its web view): the main window's from its handle,
// a further window's from the registry.
template <class T>
T* part_for_id(void* w, const std::string& id, Lookup how, T* (*of_main)(webview_t),
               std::unique_ptr<T> QuibWindow::*part) {
  T* out = nullptr;
  if (id.empty() || id == "main")
    out = w ? of_main(w) : nullptr;
  else if (auto it = g_windows.find(id); it != g_windows.end())
    out = (it->second.*part).get();
  if (!out && how == Lookup::kAddressed) note_no_window(id);
  return out;
}

}  // namespace

platform::NativeWindow* window_for_id(void* w, const std::string& id, Lookup how) {
  return part_for_id(w, id, how, webview_window, &QuibWindow::window);
}

platform::WebView* webview_for_id(void* w, const std::string& id, Lookup how) {
  return part_for_id(w, id, how, webview_view, &QuibWindow::webview);
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
