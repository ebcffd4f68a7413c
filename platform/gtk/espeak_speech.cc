// Speech with eSpeak NG. Its voice and rate are global to the library, so only
// the speech thread ever calls it after start-up; the voice list is read once,
// while the library is made ready, and kept.

#include <espeak-ng/speak_lib.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/gtk_platform.h"
#include "platform/speech.h"

namespace platform::gtk {

namespace {

// The utterance being spoken is cancelled from the main thread; the library asks
// after every piece of sound whether to go on.
thread_local const std::atomic<bool>* t_cancel = nullptr;

int synth_callback(short*, int, espeak_EVENT*) { return t_cancel && t_cancel->load() ? 1 : 0; }

// "en-gb-x-rp" -> "en-GB-x-rp": the region subtag in capitals, as language tags have it.
std::string language_tag(const std::string& espeak_lang) {
  std::string out;
  size_t start = 0;
  bool first = true;
  while (start <= espeak_lang.size()) {
    size_t end = espeak_lang.find('-', start);
    if (end == std::string::npos) end = espeak_lang.size();
    std::string part = espeak_lang.substr(start, end - start);
    if (!first && part.size() == 2)
      for (char& c : part) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (!first) out += '-';
    out += part;
    first = false;
    start = end + 1;
  }
  return out;
}

class EspeakEngine : public SpeechEngine {
 public:
  EspeakEngine() {
    ready_ = espeak_Initialize(AUDIO_OUTPUT_SYNCH_PLAYBACK, 0, nullptr, espeakINITIALIZE_DONT_EXIT) > 0;
    if (!ready_) return;
    espeak_SetSynthCallback(synth_callback);
    if (const espeak_VOICE** list = espeak_ListVoices(nullptr))
      for (; *list; ++list) {
        const espeak_VOICE* v = *list;
        // languages: a priority byte, then a NUL-ended name, repeated; the first is the main one.
        const std::string lang = v->languages && v->languages[0] ? language_tag(v->languages + 1) : "";
        voices_.push_back(Voice{v->identifier ? v->identifier : "", v->name ? v->name : "", lang, 1});
      }
  }

  bool speak(const Utterance& u, const std::atomic<bool>& cancel) override {
    if (!ready_) return false;
    const std::optional<Voice> voice = pick_voice(voices_, u.voice);
    bool set = false;
    if (voice) set = espeak_SetVoiceByName(voice->id.c_str()) == EE_OK || espeak_SetVoiceByName(voice->name.c_str()) == EE_OK;
    if (!set) espeak_SetVoiceByName("en");
    espeak_SetParameter(espeakRATE, speech_rate_wpm(u.rate), 0);
    t_cancel = &cancel;
    // Synchronous playback: returns once the sound has been played, or cut short.
    const espeak_ERROR rc = espeak_Synth(u.text.c_str(), u.text.size() + 1, 0, POS_CHARACTER, 0,
                                         espeakCHARS_UTF8, nullptr, nullptr);
    t_cancel = nullptr;
    return rc == EE_OK && !cancel.load();
  }

  std::vector<Voice> voices() override { return voices_; }

 private:
  bool ready_ = false;
  std::vector<Voice> voices_;
};

}  // namespace

std::unique_ptr<SpeechQueue> make_gtk_speech() { return std::make_unique<SpeechQueue>(std::make_unique<EspeakEngine>()); }

}  // namespace platform::gtk
