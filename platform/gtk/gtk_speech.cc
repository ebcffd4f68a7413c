// The desktop's speech: the host's queue of utterances in front of the speech
// module's synthesizer. The module opens with the speech, on the main thread
// (its libraries load in about 2 ms, under 1 ms once the audio module's are in),
// the first time a command needs it.

#include "platform/common/module_loader.h"
#include "platform/common/speech_queue.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/speech_module.h"

namespace platform::gtk {

namespace {

ModuleOf<SpeechSynth>& speech_module() {
  static auto* m = new ModuleOf<SpeechSynth>("espeak", kSpeechModuleEntry, "speech (espeak-ng)");
  return *m;
}

}  // namespace

std::unique_ptr<Speech> make_gtk_speech() {
  SpeechSynth* synth = speech_module().get();
  if (!synth) return nullptr;  // this desktop cannot speak
  return std::make_unique<SpeechQueue>(synth->make_engine(make_speech_output()));
}

}  // namespace platform::gtk
