#pragma once
// The system-information answers of GET: power, Wi-Fi, selected text, other
// applications' windows, idle time, the frontmost application, activation.

#include <optional>
#include <string>
#include <vector>

#include "platform/system_info.h"

std::string battery_json(const std::optional<platform::PowerSource>& source);
std::string wifi_json(const std::optional<platform::WifiLink>& link);
std::string selected_text_json(const std::optional<std::string>& text);
// Every window of every regular application but the host's own (own_pid);
// "null" when the window system keeps no list of applications' windows.
std::string other_windows_json(const std::optional<std::vector<platform::RunningApp>>& apps, long own_pid);
std::string idle_json(std::optional<double> seconds);
std::string frontmost_json(const std::optional<platform::AppIdentity>& app);
// The application's activation policy, whether one of its windows has the focus,
// and whether it is hidden.
std::string activation_json(void* w);
// "item:<id>" or "item@<scope>:<id>": the menu item's state.
std::string menu_item_json(const std::string& key);
