#pragma once
// The audio module's audio server, through PulseAudio's client API (PipeWire
// desktops serve it too through pipewire-pulse), on a threaded main loop of its
// own.

#include <functional>

#include "platform/audio.h"

namespace platform::pulse {

// How the server hands changes to the main thread (the module's host gives it).
using PostToMain = void (*)(std::function<void()> fn);

// A server that connects on first use; it is never destroyed.
AudioServer* make_pulse_server(PostToMain post_to_main);

}  // namespace platform::pulse
