#pragma once
// The audio module (libquibex-pulse.so): the audio server and the speech output
// through PulseAudio's client API, whose libraries (and their codecs) the host
// loads only with it (platform/common/module_loader.h). The host keeps what must
// happen before it opens: tagging its streams (platform/pulse/pulse_host.h).

#include <memory>

#include "platform/audio.h"
#include "platform/speech.h"

namespace platform::pulse {

class PulseServices {
 public:
  virtual ~PulseServices() = default;
  // The process's audio server; connects on first use. Lives as long as the process.
  virtual AudioServer& audio_server() = 0;
  // A new speech output (platform/pulse/pulse_speech.h); any thread.
  virtual std::unique_ptr<SpeechOutput> make_speech_output() = 0;
};

// The module's entry: its PulseServices.
inline constexpr const char* kPulseModuleEntry = "quibex_pulse_module";

// Every stream of the host and its descendants carries this property with the
// host's pid (platform/pulse/pulse_host.h sets it, the module reads it).
inline constexpr const char* kPulseTagKey = "quibex.host";

// The status of a capture or filter when no server can be reached: the client
// library's "connection refused", which the module checks it matches.
constexpr int kPulseNoServer = 6;

}  // namespace platform::pulse
