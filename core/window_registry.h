#pragma once
// The registry of further windows (the main window is never in it) and the
// lookups every other part uses to find a window or a web view by id.

#include <map>
#include <memory>
#include <string>

#include "platform/webview.h"
#include "platform/window.h"

// A window's vibrancy material. Linux draws no such material: the host keeps the
// choice so that it can report it, and changes nothing on screen.
struct EffectView {
  std::string name;
  int material = 7;
};

// One further window. Members are released in reverse order, the window last.
struct QuibWindow {
  std::unique_ptr<platform::NativeWindow> window;
  std::unique_ptr<platform::WebView> webview;
  std::unique_ptr<EffectView> effectView;  // null until a material is applied
  bool transparent = false;
};

// Ordered by the ids' bytes; main thread only.
extern std::map<std::string, QuibWindow> g_windows;

// Whether an id can name a further window. Ids go raw into wire lines (WINCLOSED,
// WINSTATE, page-call ids), so a space, TAB, CR, LF or other control byte, a colon,
// a quote or "*" (every window to EVAL) would make lines ambiguous or unanswerable;
// ids must also be UTF-8.
bool window_id_acceptable(const std::string& id);

// Whether finding no window is news. A command addressed to a window that is not
// there is (debug mode says so, once per command word); a probe (is there a main
// window? is the window of this menu bar open yet?) is not.
enum class Lookup { kAddressed, kProbe };

// "" and "main" name the main window (null when w is null); other ids the registry's.
platform::NativeWindow* window_for_id(void* w, const std::string& id, Lookup how = Lookup::kAddressed);
platform::WebView* webview_for_id(void* w, const std::string& id, Lookup how = Lookup::kAddressed);
// The id of the first registry entry holding this view; else "main".
std::string quib_winid_for_webview(platform::WebView* view);
// The id of the registry entry holding this window; "main" for the main window; else "".
std::string winid_for_nswindow(platform::NativeWindow* window);
std::string winid_for_window(platform::NativeWindow* window);
