#include "platform/audio.h"

namespace platform {

namespace {
AudioServer* g_audio_server = nullptr;
}

AudioServer* audio_server() { return g_audio_server; }
void install_audio_server(AudioServer* server) { g_audio_server = server; }

}  // namespace platform
