// The audio module's entry: its audio server and speech outputs.

#include "platform/module_entry.h"
#include "platform/pulse/pulse_audio.h"
#include "platform/pulse/pulse_module.h"
#include "platform/pulse/pulse_speech.h"

namespace platform::pulse {

namespace {

class Services : public PulseServices {
 public:
  explicit Services(PostToMain post_to_main) : server_(make_pulse_server(post_to_main)) {}
  AudioServer& audio_server() override { return *server_; }
  std::unique_ptr<SpeechOutput> make_speech_output() override { return make_pulse_speech_output(); }

 private:
  AudioServer* const server_;
};

}  // namespace

}  // namespace platform::pulse

QUIBEX_MODULE_ENTRY(quibex_pulse_module) {
  if (host->version < 2 || !host->post_to_main) return nullptr;
  static auto* services = new platform::pulse::Services(host->post_to_main);
  return static_cast<platform::pulse::PulseServices*>(services);
}
