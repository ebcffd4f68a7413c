#pragma once
// The user's theme and locale, sleep and wake, and screen changes, told to the
// backend as SYS and SYSLOCALE lines.

#include <string>

// Hooks the desktop's notices up and tells the current theme at once.
void install_system_observers();
void send_theme();
// The user's locale as the "locale" object.
std::string locale_json();
