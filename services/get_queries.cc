#include "services/get_queries.h"

#include <unistd.h>

#include <cstdio>
#include <exception>

#include "core/records.h"
#include "platform/system_info.h"
#include "services/audio_eq.h"
#include "services/get_system.h"
#include "services/clipboard.h"
#include "services/dock_media.h"
#include "services/get_windows.h"
#include "services/system_observers.h"
#include "webui/menu_state.h"

namespace {

// Asks a source that answers later; the answer line is written when it does,
// or "null" when it fails, drops the question or takes too long.
template <class T, class Build>
void answer_later(const std::shared_ptr<GetReply>& reply,
                  void (platform::SystemInfo::*ask)(std::function<void(std::optional<T>)>), Build build) {
  platform::SystemInfo* info = platform::system_info();
  if (!info) return reply->send("null");
  GetReply::guard(reply);
  (info->*ask)([reply, build](std::optional<T> value) { reply->send_built([&] { return build(value); }); });
}

}  // namespace

void answer_get(void* w, const std::string& key, const std::shared_ptr<GetReply>& reply) {
  auto is = [&](const char* k) { return key == k; };
  auto starts = [&](const char* p) { return key.rfind(p, 0) == 0; };
  platform::SystemInfo* info = platform::system_info();
  using platform::SystemInfo;

  if (is("windows")) return reply->send(windows_json(w));
  if (is("win")) return reply->send(window_json(w, "main"));
  if (starts("win:")) return reply->send(window_json(w, key.substr(4)));
  if (is("battery")) return answer_later(reply, &SystemInfo::power_source, battery_json);
  if (is("locale")) return reply->send(locale_json());
  if (is("wifi")) return answer_later(reply, &SystemInfo::wifi, wifi_json);
  if (is("selectedtext")) return answer_later(reply, &SystemInfo::selected_text, selected_text_json);
  if (is("otherwindows"))
    return reply->send(other_windows_json(info ? info->running_apps() : std::nullopt, long(getpid())));
  if (is("clipboard") || is("clipboard:count")) {
    GetReply::guard(reply);
    return clipboard_json(is("clipboard:count"), [reply](const std::string& json) { reply->send(json); });
  }
  if (is("mouse")) return reply->send(mouse_json(w, "main"));
  if (starts("mouse:")) return reply->send(mouse_json(w, key.substr(6)));
  if (is("screens")) return reply->send(screens_json());
  if (is("fgscreen")) return reply->send(fgscreen_json());
  if (is("idle")) return reply->send(idle_json(info ? info->idle_seconds() : std::nullopt));
  if (is("frontmost")) return reply->send(frontmost_json(info ? info->frontmost_app() : std::nullopt));
  if (is("debug:trafficpos")) return reply->send(trafficpos_debug_json(w));
  if (is("debug:activation")) return reply->send(activation_json(w));
  if (is("traypos")) return reply->send(tray_pos_json());
  if (is("debug:tray")) return reply->send(tray_debug_json());
  if (starts("item:") || starts("item@")) return reply->send(menu_item_json(key));
  if (is("debug:icon")) return reply->send(dock_icon_json());
  if (is("audiofilters")) return reply->send(eq_state_json());
  reply->send("null");
}

void do_get(void* w, std::unique_ptr<GetReq> r) {
  auto reply = std::make_shared<GetReply>(r->id, r->key);
  try {
    answer_get(w, r->key, reply);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quibex: GET %s failed: %s\n", r->key.c_str(), e.what());
    reply->send("null");
  } catch (...) {
    std::fprintf(stderr, "quibex: GET %s failed\n", r->key.c_str());
    reply->send("null");
  }
}
