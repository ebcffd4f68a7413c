#pragma once
// The buses the desktop services talk on. The session bus is used only where the
// desktop set one up: finding one otherwise would start a bus just for us.

#include <gio/gio.h>
#include <sys/stat.h>

#include <string>

namespace platform::gtk {

inline bool desktop_session_bus_configured() {
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* run = g_getenv("XDG_RUNTIME_DIR");
  if (!run || !*run) return false;
  struct stat st;
  const std::string bus = std::string(run) + "/bus";
  return stat(bus.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// The shared connection to a bus (a new reference), or null; its closing never
// ends the process.
inline GDBusConnection* desktop_bus(GBusType type) {
  if (type == G_BUS_TYPE_SESSION && !desktop_session_bus_configured()) return nullptr;
  GDBusConnection* c = g_bus_get_sync(type, nullptr, nullptr);
  if (c) g_dbus_connection_set_exit_on_close(c, FALSE);
  return c;
}

}  // namespace platform::gtk
