#pragma once
// Answers of GET keys whose services are not built yet. Each keeps its place in
// the order of keys and answers as the host does without the service; the
// service replaces its function here when it is built.

#include <functional>
#include <string>

// "audiofilters": the equalizer's state.
std::string eq_state_json();

