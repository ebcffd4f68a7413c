#pragma once
// The speech module (libquibex-espeak.so): the synthesizer on eSpeak NG, which
// the host loads only with it (platform/common/module_loader.h). The host keeps
// the queue of utterances (platform/common/speech_queue.h) and the output the
// synthesizer plays through.

#include <memory>

#include "platform/speech.h"

namespace platform::gtk {

class SpeechSynth {
 public:
  virtual ~SpeechSynth() = default;
  // Main thread: a new synthesizer that plays its samples through out (null:
  // this desktop plays no speech). Reads its data and voices here; nothing here
  // talks to the sound server.
  virtual std::unique_ptr<SpeechEngine> make_engine(std::unique_ptr<SpeechOutput> out) = 0;
};

// The module's entry: its SpeechSynth.
inline constexpr const char* kSpeechModuleEntry = "quibex_espeak_module";

}  // namespace platform::gtk
