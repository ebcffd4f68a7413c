// The speech module: a synthesizer on eSpeak NG. Its voice and rate are global to the library, so only
// the speech thread ever calls it after start-up; the voice list is read once,
// while the library is made ready, and kept. The library only synthesizes: its
// samples go to the desktop's speech output, a stream of the host's own that a
// stop silences at once (the library's own playback keeps playing what it has
// queued). Its output set-up still probes the sound server, without a time
// limit: that waits until the speech thread's own output has found the server
// answering.

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/common/voice_choice.h"
#include "platform/gtk/speech_module.h"
#include "platform/module_entry.h"
#include "platform/speech.h"

namespace platform::gtk {

namespace {

// The length of each piece of sound the library hands over, in milliseconds.
constexpr int kPieceMs = 50;

// The utterance being spoken: the library hands over each piece of sound and asks
// whether to go on, which it does not once the utterance is cancelled (from the
// main thread) or its sound cannot be played.
struct Speaking {
  SpeechOutput* out;
  const std::atomic<bool>* cancel;
  bool played = true;
};
thread_local Speaking* t_speaking = nullptr;

int synth_callback(short* samples, int count, espeak_EVENT*) {
  Speaking* s = t_speaking;
  if (!s || !s->played || s->cancel->load()) return 1;
  if (samples && count > 0 && !s->out->write(samples, size_t(count), *s->cancel)) s->played = false;
  return s->played ? 0 : 1;
}

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
  explicit EspeakEngine(std::unique_ptr<SpeechOutput> out) : out_(std::move(out)) {
    // The data and the voices only: nothing here talks to the sound server.
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    const espeak_ng_STATUS status = espeak_ng_Initialize(&context);
    if (status != ENS_OK) {
      espeak_ng_PrintStatusCodeMessage(status, stderr, context);
      espeak_ng_ClearErrorContext(&context);
      return;
    }
    rate_ = espeak_ng_GetSampleRate();
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
    if (rate_ <= 0 || !out_ || !out_->open(rate_, cancel) || !output_ready()) {
      if (out_) out_->close();
      return false;
    }
    const std::optional<Voice> voice = pick_voice(voices_, u.voice);
    bool set = false;
    if (voice) set = espeak_SetVoiceByName(voice->id.c_str()) == EE_OK || espeak_SetVoiceByName(voice->name.c_str()) == EE_OK;
    if (!set) espeak_SetVoiceByName("en");
    espeak_SetParameter(espeakRATE, speech_rate_wpm(u.rate), 0);
    // Returns once every piece has been handed to the output, or synthesis was cut short.
    Speaking speaking{out_.get(), &cancel};
    t_speaking = &speaking;
    const espeak_ERROR rc = espeak_Synth(u.text.c_str(), u.text.size() + 1, 0, POS_CHARACTER, 0,
                                         espeakCHARS_UTF8, nullptr, nullptr);
    t_speaking = nullptr;
    const bool heard = rc == EE_OK && speaking.played && !cancel.load() && out_->drain(cancel);
    out_->close();  // after a stop: what the stream still holds goes unheard
    return heard && !cancel.load();
  }

  std::vector<Voice> voices() override { return voices_; }
  void wake() override {
    if (out_) out_->wake();
  }

 private:
  // Synthesis alone, on this thread, in pieces of kPieceMs; set up once the
  // output is open, so that the library's probe finds a server that answers.
  bool output_ready() {
    if (!output_set_up_)
      output_set_up_ = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, kPieceMs, nullptr) == ENS_OK;
    return output_set_up_;
  }

  bool output_set_up_ = false;
  std::unique_ptr<SpeechOutput> out_;  // null: this desktop plays no speech
  int rate_ = 0;                       // samples per second; 0 or less: the library is not ready
  std::vector<Voice> voices_;
};

class Espeak : public SpeechSynth {
 public:
  std::unique_ptr<SpeechEngine> make_engine(std::unique_ptr<SpeechOutput> out) override {
    return std::make_unique<EspeakEngine>(std::move(out));
  }
};

}  // namespace

}  // namespace platform::gtk

QUIBEX_MODULE_ENTRY(quibex_espeak_module) {
  static auto* synth = new platform::gtk::Espeak;
  return static_cast<platform::gtk::SpeechSynth*>(synth);
}
