#pragma once
// Answers of GET keys whose services are not built yet. Each keeps its place in
// the order of keys and answers as the host does without the service; the
// service replaces its function here when it is built.

#include <functional>
#include <string>

// "locale": the user's locale.
std::string locale_json();
// "debug:icon": the application icon set for the task bar (none yet) and the
// QUIBEX_ICON variable.
std::string dock_icon_json();
