#include "services/get_system.h"

#include "core/window_registry.h"
#include "core/window_screens.h"
#include "platform/webview_lib.h"
#include "platform/window.h"
#include "base/json_out.h"
#include "webui/menu_state.h"

namespace {

std::string pid_json(long pid) { return pid > 0 ? std::to_string(pid) : "null"; }

}  // namespace

std::string battery_json(const std::optional<platform::PowerSource>& p) {
  if (!p) return "null";
  const std::string percent = p->max > 0 ? json_round(p->current / p->max * 100) : "0";
  const long long minutes = p->charging ? p->minutes_to_full : p->minutes_to_empty;
  return JsonObject()
      .raw("percent", percent)
      .boolean("charging", p->charging)
      .boolean("plugged", p->on_ac)
      .raw("minutesRemaining", minutes >= 0 ? std::to_string(minutes) : "null")
      .str();
}

std::string wifi_json(const std::optional<platform::WifiLink>& link) {
  if (!link) return "null";
  auto number = [](const std::optional<long>& v) { return v ? std::to_string(*v) : std::string("null"); };
  return JsonObject()
      .raw("ssid", json_text_or_null(link->ssid))
      .raw("bssid", json_text_or_null(link->bssid))
      .raw("rssi", number(link->rssi))
      .raw("noise", number(link->noise))
      .integer("txRate", link->tx_rate)
      .str();
}

std::string selected_text_json(const std::optional<std::string>& text) { return json_text_or_null(text); }

std::string other_windows_json(const std::optional<std::vector<platform::RunningApp>>& apps, long own_pid) {
  if (!apps) return "null";
  const double top = primary_top();
  std::string out = "[";
  for (const platform::RunningApp& app : *apps) {
    if (app.app.pid == own_pid || !app.regular) continue;
    int index = 0;
    for (const platform::AppWindow& win : app.windows) {
      const int i = index++;  // every window counts, reported or not
      if (!win.frame) continue;
      const platform::Rect& f = *win.frame;
      if (out.size() > 1) out += ',';
      out += JsonObject()
                 .text("app", app.app.name.value_or(""))
                 .raw("bundleId", json_text_or_null(app.app.bundle_id))
                 .text("title", win.title)
                 .raw("pid", pid_json(app.app.pid))
                 .raw("index", std::to_string(i))
                 .integer("x", f.x)
                 .integer("y", top - (f.y + f.h))
                 .integer("width", f.w)
                 .integer("height", f.h)
                 .str();
    }
  }
  return out + "]";
}

std::string idle_json(std::optional<double> seconds) {
  if (!seconds) return "null";
  return JsonObject().raw("seconds", json_fixed(*seconds, 3)).str();
}

std::string frontmost_json(const std::optional<platform::AppIdentity>& app) {
  if (!app) return "null";
  return JsonObject()
      .raw("name", json_text_or_null(app->name))
      .raw("bundleId", json_text_or_null(app->bundle_id))
      .raw("pid", pid_json(app->pid))
      .str();
}

std::string activation_json(void* w) {
  platform::Application* app = platform::application();
  const char* policy = "regular";
  if (app && app->activation_policy() == platform::ActivationPolicy::kAccessory) policy = "accessory";
  // The application is active while one of its windows has the focus.
  bool active = false;
  if (platform::NativeWindow* main = w ? webview_window(w) : nullptr) active = main->is_key();
  for (const auto& [id, qw] : g_windows)
    if (qw.window && qw.window->is_key()) active = true;
  return JsonObject()
      .text("policy", policy)
      .boolean("active", active)
      .boolean("hidden", app && app->hidden())
      .str();
}

std::string menu_item_json(const std::string& key) {
  // "item:<id>", or "item@<scope>:<id>" where the scope ends at the first colon
  // (without one the whole rest is the scope and the id is empty).
  const std::string rest = key.size() > 5 ? key.substr(5) : std::string();
  if (key.size() > 4 && key[4] == '@') {
    const size_t colon = rest.find(':');
    if (colon == std::string::npos) return menu_item_state_json(rest, "");
    return menu_item_state_json(rest.substr(0, colon), rest.substr(colon + 1));
  }
  return menu_item_state_json("", rest);
}
