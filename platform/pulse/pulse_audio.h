#pragma once
// The audio module's audio server, through PulseAudio's client API (PipeWire
// desktops serve it too through pipewire-pulse), on a threaded main loop of its
// own.

#include "platform/audio.h"
#include "platform/module_entry.h"

namespace platform::pulse {

// A server that connects on first use and hands its change notices to the main
// thread through post_to_main (the module's host gives it); never destroyed.
AudioServer* make_pulse_server(PostToMain post_to_main);

}  // namespace platform::pulse
