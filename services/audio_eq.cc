#include "services/audio_eq.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/wire_text.h"
#include "base/json_out.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "services/audio_dsp.h"
#include "services/audio_watch.h"

namespace {

// Main thread only, but for the chain (under its flag) and the two atomics.
std::vector<EqFilter> g_eq;
EqChain g_eq_chain;
double g_eq_balance = 0;
bool g_eq_active = false;
bool g_eq_muted = false;
std::atomic<bool> g_eq_heard{false};
std::atomic<bool> g_eq_arming{false};
bool g_eq_listeners = false;
int g_eq_watch = 0;  // the equalizer's place on the audio watch
double g_eq_sr = 48000.0;
std::unique_ptr<platform::AudioStream> g_eq_stream;

constexpr auto kScope = platform::AudioScope::kAppButHost;

bool supported() {
  platform::AudioServer* s = platform::audio_server();
  return s && s->available();
}

void eq_publish(bool keep_state) { ::eq_publish(g_eq_chain, g_eq, g_eq_balance, g_eq_sr, keep_state); }

void quib_eq_teardown() { g_eq_stream.reset(); }

int quib_eq_build(bool muted);

// From the audio thread: sound was heard while the unfiltered path plays.
void arm() {
  g_eq_heard.store(true);
  platform::current().main_queue().post([] {
    if (g_eq_active && !g_eq_muted) {
      quib_eq_teardown();
      if (quib_eq_build(true) != 0) quib_eq_teardown();
    }
    g_eq_arming.store(false);
  });
}

int quib_eq_build(bool muted) {
  platform::AudioServer* server = platform::audio_server();
  if (!muted) g_eq_heard.store(false);
  eq_publish(false);
  platform::AudioFormat fmt;
  int status = 0;
  if (muted) {
    g_eq_stream = server->filter(
        kScope, fmt,
        [](const float* in, float* out, size_t frames, int channels) {
          const size_t bytes = frames * size_t(channels) * 4;
          AudioBuf i{const_cast<float*>(in), std::uint32_t(channels), bytes};
          AudioBuf o{out, std::uint32_t(channels), bytes};
          eq_process(g_eq_chain, true, &i, 1, &o, 1);
        },
        status);
  } else {
    // Waiting: the sound plays as it is; the first sound heard switches to the
    // filtered path.
    g_eq_stream = server->capture(
        kScope, fmt,
        [](const float* in, size_t frames, int channels) {
          const size_t n = frames * size_t(channels);
          bool heard = false;
          for (size_t k = 0; k < n && !heard; ++k) heard = in[k] != 0 || in[k] != in[k];
          if (heard && !g_eq_arming.exchange(true)) arm();
        },
        status);
  }
  if (!g_eq_stream) {
    // The sound plays unfiltered: never report the filtered state for it.
    g_eq_muted = false;
    return status ? status : -1;
  }
  const double rate = fmt.rate > 0 ? fmt.rate : 48000.0;
  if (rate != g_eq_sr) {
    g_eq_sr = rate;
    eq_publish(false);
  }
  g_eq_muted = muted;
  return 0;
}

void quib_eq_rearm() {
  if (!g_eq_active) return;
  quib_eq_teardown();
  if (quib_eq_build(false) != 0) quib_eq_teardown();
}

void quib_eq_stop() {
  if (!g_eq_active) return;
  g_eq_active = false;
  g_eq_listeners = false;
  quib_eq_teardown();
  g_eq.clear();
  eq_clear(g_eq_chain);
}

void on_audio_change(platform::AudioServer::Change change) {
  if (!g_eq_listeners || !g_eq_active) return;
  if (change == platform::AudioServer::Change::kDefaultOutput) {
    quib_eq_rearm();
    return;
  }
  platform::AudioServer* server = platform::audio_server();
  if (!g_eq_stream && server && server->has_streams(kScope)) quib_eq_rearm();
}

}  // namespace

void do_audiofilters(void*, std::unique_ptr<std::string> text) {
  // An equalizer that is on can always be turned off, even with the server gone.
  if (!supported() && !g_eq_active) return;
  std::vector<EqFilter> old = g_eq;
  g_eq = eq_parse_filters(text ? *text : std::string());
  if (g_eq.empty()) {
    quib_eq_stop();
    return;
  }
  bool same = g_eq_active && old.size() == g_eq.size();
  for (size_t i = 0; same && i < g_eq.size(); ++i)
    same = old[i].kind == g_eq[i].kind && old[i].has_gain_right == g_eq[i].has_gain_right;
  if (same) {
    eq_publish(true);
    return;
  }
  if (g_eq_active) quib_eq_teardown();
  g_eq_active = true;
  if (!g_eq_listeners) {
    g_eq_listeners = true;
    audio_watch_join(g_eq_watch, on_audio_change);
  }
  if (quib_eq_build(false) != 0) quib_eq_teardown();
}

void do_audiofilterset(void*, std::unique_ptr<std::string> text) {
  if (!supported() || !text) return;
  auto f = split_tabs(*text);
  if (f.size() < 4) return;
  const long i = std::atol(f[0].c_str());
  if (i < 0 || size_t(i) >= g_eq.size()) return;
  EqFilter& filter = g_eq[size_t(i)];
  filter.freq = eq_number(f[1], 1000);
  filter.q = eq_number(f[2], 1);
  filter.gain = eq_number(f[3], 0);
  if (!filter.has_gain_right) filter.gain_right = filter.gain;
  eq_publish(true);
}

void do_audiobalance(void*, std::unique_ptr<std::string> text) {
  if (!supported()) return;
  g_eq_balance = eq_number(text ? *text : std::string(), 0);
  eq_publish(true);
}

std::string eq_state_json() {
  if (!supported()) return R"({"available":false,"state":"unsupported"})";
  const char* state = !g_eq_active ? "off" : g_eq_muted ? "active" : "waiting";
  return JsonObject()
      .boolean("available", true)
      .text("state", state)
      .integer("filters", double(g_eq.size()))
      .boolean("heard", g_eq_heard.load())
      .str();
}

void eq_reset() {
  quib_eq_stop();
  audio_watch_reset();
  g_eq_muted = false;
  g_eq_heard.store(false);
  g_eq_arming.store(false);
  g_eq_balance = 0;
  g_eq_sr = 48000.0;
  eq_clear(g_eq_chain);
  g_eq_chain.gain[0] = g_eq_chain.gain[1] = 1;
}
