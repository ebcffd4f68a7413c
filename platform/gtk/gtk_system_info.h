#pragma once
// System information on the Linux desktop: the power daemon (UPower) and the
// network daemon (NetworkManager) on the system bus, and the X server for idle
// time, the PRIMARY selection, other clients' windows and the screens' EDID.

#include <functional>
#include <optional>
#include <string>

#include "platform/system_info.h"

namespace platform::gtk {

SystemInfo& gtk_system_info();

// The system-bus sources (gtk_system_bus.cc). Each calls done exactly once on
// the main thread; none when the daemon is missing, fails or has no such device.
void upower_power_source(std::function<void(std::optional<PowerSource>)> done);
void network_manager_wifi(std::function<void(std::optional<WifiLink>)> done);

// The signal level in dBm that NetworkManager's strength percentage stands for.
// It rates the connected access point as 120 + dBm over -90 .. -20 dBm (30 to
// 100 %); scan results below that are on its other scale (0 % at -100 dBm,
// 100 % at -40 dBm).
long dbm_from_strength(int percent);

// From a monitor's EDID: the name in its display-product-name descriptor ("" when
// it has none), and a stable UUID-shaped identifier of its base block ("" when the
// block is not an EDID).
std::string edid_monitor_name(const unsigned char* edid, size_t size);
std::string edid_uid(const unsigned char* edid, size_t size);

}  // namespace platform::gtk
