#include "services/audio_tap.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/answers.h"
#include "base/json_out.h"
#include "core/records.h"
#include "core/wire.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "services/audio_dsp.h"
#include "services/audio_watch.h"

namespace {

// Main thread only.
bool g_tap_active = false;
bool g_tap_dev_listener = false;
int g_tap_watch = 0;  // the tap's place on the audio watch
std::string g_tap_scope = "app";
bool g_tap_exclude_self = false;
int g_tap_interval = 80;
double g_tap_sr = 48000.0;
int g_tap_ch = 2;
std::unique_ptr<platform::AudioStream> g_tap_stream;
platform::TimerId g_tap_timer = 0;

// Shared with the audio thread.
std::mutex g_tap_pcm_lock;
std::vector<std::int16_t> g_tap_pcm;
double g_tap_chunk_t0 = 0;

platform::Timers& timers() { return platform::current().timers(); }

void quib_audiotap_teardown() {
  if (g_tap_timer) timers().cancel(g_tap_timer);
  g_tap_timer = 0;
  g_tap_stream.reset();  // stops the audio thread's calls before the buffer goes
  std::lock_guard<std::mutex> l(g_tap_pcm_lock);
  g_tap_pcm.clear();
  g_tap_chunk_t0 = 0;
}

platform::AudioScope tap_scope() {
  if (g_tap_scope == "system")
    return g_tap_exclude_self ? platform::AudioScope::kSystemButApp : platform::AudioScope::kSystem;
  return platform::AudioScope::kApp;
}

int quib_audiotap_build() {
  platform::AudioServer* server = platform::audio_server();
  platform::AudioFormat fmt;
  int status = 0;
  g_tap_stream = server->capture(
      tap_scope(), fmt,
      [](const float* data, size_t frames, int channels) {
        AudioBuf buf{const_cast<float*>(data), std::uint32_t(channels), frames * size_t(channels) * 4};
        quib_audiotap_capture(&buf, 1);
      },
      status);
  if (!g_tap_stream) return status ? status : -1;
  g_tap_sr = fmt.rate > 0 ? fmt.rate : 48000.0;
  g_tap_ch = fmt.channels ? fmt.channels : 2;
  return 0;
}

void publish() {
  std::vector<std::int16_t> batch;
  double t0;
  {
    std::lock_guard<std::mutex> l(g_tap_pcm_lock);
    if (g_tap_pcm.empty()) return;
    batch.swap(g_tap_pcm);
    t0 = g_tap_chunk_t0;
    g_tap_chunk_t0 = 0;
  }
  sock_write_line(tap_event_line(batch, g_tap_sr, g_tap_ch, t0));
}

void quib_audiotap_start_timer() {
  if (g_tap_timer) timers().cancel(g_tap_timer);
  g_tap_timer = timers().repeating(g_tap_interval, publish);
}

void stop_listening() {
  if (!g_tap_dev_listener) return;
  g_tap_dev_listener = false;
}

void dev_changed() {
  if (!g_tap_active) return;
  quib_audiotap_teardown();
  if (quib_audiotap_build() == 0) quib_audiotap_start_timer();
  // A failed rebuild leaves the tap active without a capture: the next device
  // change tries again, and a start answers what a new build gives.
  else quib_audiotap_teardown();
}

std::string ok_reply() {
  return JsonObject().boolean("ok", true).integer("sampleRate", int(g_tap_sr)).integer("channels", g_tap_ch).str();
}


void on_audio_change(platform::AudioServer::Change change) {
  if (change == platform::AudioServer::Change::kDefaultOutput && g_tap_dev_listener) dev_changed();
}

}  // namespace

void quib_audiotap_capture(const AudioBuf* bufs, size_t n) {
  std::lock_guard<std::mutex> l(g_tap_pcm_lock);
  if (g_tap_pcm.empty()) g_tap_chunk_t0 = platform::current().timers().now_ms();
  tap_append(g_tap_pcm, bufs, n);
}

void do_audiotap(void*, std::unique_ptr<AudioTapReq> r) {
  platform::AudioServer* server = platform::audio_server();
  // A stop ends a running tap even when the server has gone meanwhile.
  if (r->scope == "__stop__") {
    if (g_tap_active) {
      g_tap_active = false;
      stop_listening();
      quib_audiotap_teardown();
    }
    return;
  }
  if (!server || !server->available()) {
    send_got(r->id, R"({"ok":false,"code":"unsupported"})");
    return;
  }
  const int interval = r->interval < 20 ? 20 : r->interval > 500 ? 500 : r->interval;
  if (g_tap_active && r->scope == g_tap_scope && r->exclude_self == g_tap_exclude_self &&
      interval == g_tap_interval && g_tap_stream) {
    send_got(r->id, ok_reply());
    return;
  }
  if (g_tap_active) {
    g_tap_active = false;
    stop_listening();
    quib_audiotap_teardown();
  }
  g_tap_scope = r->scope;
  g_tap_exclude_self = r->exclude_self;
  g_tap_interval = interval;
  if (int status = quib_audiotap_build(); status != 0) {
    quib_audiotap_teardown();
    send_got(r->id, JsonObject().boolean("ok", false).text("code", "failed").integer("status", status).str());
    return;
  }
  g_tap_active = true;
  g_tap_dev_listener = true;
  audio_watch_join(g_tap_watch, on_audio_change);
  quib_audiotap_start_timer();
  send_got(r->id, ok_reply());
}

bool audiotap_active_for_tests() { return g_tap_active; }

void audiotap_reset() {
  g_tap_active = false;
  stop_listening();
  quib_audiotap_teardown();
  g_tap_scope = "app";
  g_tap_exclude_self = false;
  g_tap_interval = 80;
  g_tap_sr = 48000.0;
  g_tap_ch = 2;
}
