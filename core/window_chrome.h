#pragma once
// Window chrome: title bar, window buttons, transparency, vibrancy material,
// square corners, first mouse and the window buttons' position.

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "core/records.h"
#include "core/window_registry.h"

// The main window's chrome (further windows keep theirs in their QuibWindow).
extern bool g_chrome_frameless;
extern bool g_chrome_traffic;
extern bool g_chrome_transparent;
extern std::unique_ptr<EffectView> g_effect_view;
extern std::string g_chrome_vibrancy;

// Window-button positions by window id: the requested one, and the buttons' own
// place measured before the first request. Always finite numbers.
extern std::map<std::string, std::pair<double, double>> g_traffic_pos;
extern std::map<std::string, std::pair<double, double>> g_traffic_default;

// The material value of a vibrancy name; 7 (sidebar) for names not known.
int material_for(const std::string& name);

// The slots of a window id: the main window's for "" and "main", the registry
// entry's for a registered id, null otherwise.
std::unique_ptr<EffectView>* effect_slot_for(const std::string& id);
bool* transparent_slot_for(const std::string& id);

// Applies the non-empty fields of a request, in the defined order.
void apply_chrome_fields(platform::NativeWindow* window, platform::WebView* webview,
                         std::unique_ptr<EffectView>* effect_slot, bool is_main, const ChromeReq& req);

void apply_traffic_pos(platform::NativeWindow* window, const std::string& id);
void set_traffic_pos(platform::NativeWindow* window, const std::string& id, const std::string& value);
void apply_traffic_pos_xy(platform::NativeWindow* window, double x, double y);
void apply_square(platform::NativeWindow* window, bool square);

// Whether a click on an inactive window also reaches this web view's page.
void set_accepts_first_mouse(platform::WebView* webview, bool accepts);
bool get_accepts_first_mouse(platform::WebView* webview);
void forget_first_mouse(platform::WebView* webview);

// The QuibexChrome setting: up to seven TAB-separated fields in ChromeReq order
// (titlebar, buttons, transparent, material, square, firstMouse, traffic).
ChromeReq chrome_req_from_setting(const std::string& value);

// CHROME and CHROME@<w>.
void do_chrome(void* w, std::unique_ptr<ChromeReq> r);
