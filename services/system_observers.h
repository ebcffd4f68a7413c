#pragma once
// The user's theme and locale, sleep and wake, and screen changes, told to the
// backend as SYS and SYSLOCALE lines.

#include <string>

// How long start-up waits for the desktop to say its theme before the first
// theme line goes out with the best guess. Nothing waits meanwhile.
inline constexpr double kThemeWaitMs = 1000;

// Hooks the desktop's notices up; the theme is told once the desktop has said
// it, at the latest kThemeWaitMs later.
void install_system_observers();
void send_theme();
// The user's locale as the "locale" object.
std::string locale_json();
