#pragma once
// Synthesized speech played through a PulseAudio connection of its own, apart
// from the audio tap's: a stop disconnects the utterance's stream, and the
// server drops what it still held for it at once. Part of the audio module
// (platform/pulse/pulse_module.h).

#include <memory>

#include "platform/speech.h"

namespace platform::pulse {

// A new output; its loop thread starts here, the connection on the first open
// (on the speech thread). Every wait on the server gives up after a few seconds,
// and a server that failed is not asked again for two seconds.
std::unique_ptr<SpeechOutput> make_pulse_speech_output();

}  // namespace platform::pulse
