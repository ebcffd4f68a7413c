#pragma once
// The host's side of audio on the Linux desktop: the audio server and the speech
// output live in the audio module (platform/pulse/pulse_module.h), opened the
// first time either is used; what is here loads no audio library.

#include <memory>

#include "platform/audio.h"
#include "platform/speech.h"

namespace platform::pulse {

// Tags the streams of this process and of every process it starts (the web
// processes play the pages' sound) so that they can be told apart on the
// server; call before any other process is started.
void tag_own_streams();

// The process's audio server. Its first call other than watch and shutdown opens
// the module, on the caller's thread; without the module it answers as a server
// that cannot be reached. shutdown never opens it.
AudioServer& audio_server_from_module();

// A new speech output; the module is opened by its first open, on the speech
// thread. Without the module nothing can be played: open returns false.
std::unique_ptr<SpeechOutput> speech_output_from_module();

}  // namespace platform::pulse
