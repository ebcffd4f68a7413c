#pragma once
// The audio server through PulseAudio's client API (PipeWire desktops serve it
// too through pipewire-pulse), on a threaded main loop of its own.

#include "platform/audio.h"

namespace platform::pulse {

// Tags the streams of this process and of every process it starts (the web
// processes play the pages' sound) so that they can be told apart on the
// server; call before any other process is started.
void tag_own_streams();

// The process's audio server; connects on first use.
AudioServer& pulse_audio_server();

}  // namespace platform::pulse
