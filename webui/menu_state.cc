#include "webui/menu_state.h"

// No bar, tray or context menu is built yet.
std::string menu_item_state_json(const std::string&, const std::string&) { return "{\"exists\":false}"; }
std::string tray_debug_json() { return "{\"exists\":false}"; }
std::string tray_pos_json() { return "null"; }
