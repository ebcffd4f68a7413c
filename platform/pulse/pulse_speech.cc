#include "platform/pulse/pulse_speech.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace platform::pulse {

namespace {

constexpr int kAnswerMs = 3000;                   // a server silent this long counts as gone
constexpr auto kRetryAfter = std::chrono::seconds(2);  // before a failed server is asked again
constexpr int kAheadMs = 100;                     // what a stream holds ahead of the speaker

void wake_loop(pa_threaded_mainloop* ml) { pa_threaded_mainloop_signal(ml, 0); }

class Locked {
 public:
  explicit Locked(pa_threaded_mainloop* ml) : ml_(ml) { pa_threaded_mainloop_lock(ml_); }
  ~Locked() { pa_threaded_mainloop_unlock(ml_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  pa_threaded_mainloop* ml_;
};

class PulseSpeechOutput : public SpeechOutput {
 public:
  PulseSpeechOutput() : ml_(pa_threaded_mainloop_new()) {
    if (!ml_) return;
    pa_threaded_mainloop_set_name(ml_, "quibex-speech");
    if (pa_threaded_mainloop_start(ml_) < 0) {
      pa_threaded_mainloop_free(ml_);
      ml_ = nullptr;
    }
  }
  ~PulseSpeechOutput() override {
    if (!ml_) return;
    {
      Locked lock(ml_);
      drop_connection_locked();
    }
    pa_threaded_mainloop_stop(ml_);
    pa_threaded_mainloop_free(ml_);
  }

  bool open(int rate, const std::atomic<bool>& cancel) override {
    if (!ml_) return false;
    Locked lock(ml_);
    close_locked();
    if (!connect_locked(cancel)) return false;
    const pa_sample_spec format{PA_SAMPLE_S16NE, std::uint32_t(rate), 1};
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Speech");
    stream_ = pa_stream_new_with_proplist(ctx_, "Speech", &format, nullptr, props);
    pa_proplist_free(props);
    if (!stream_) return false;
    pa_stream_set_state_callback(stream_, [](pa_stream*, void* ml) { wake_loop(static_cast<pa_threaded_mainloop*>(ml)); }, ml_);
    pa_stream_set_write_callback(stream_, [](pa_stream*, size_t, void* ml) { wake_loop(static_cast<pa_threaded_mainloop*>(ml)); }, ml_);
    // A short buffer: the server starts playing soon and holds little at any time.
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(kAheadMs) * 1000, &format));
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(-1);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0 ||
        wait_locked([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }, cancel) != Waited::kDone) {
      close_locked();
      return false;
    }
    return true;
  }

  bool write(const std::int16_t* samples, std::size_t count, const std::atomic<bool>& cancel) override {
    if (!ml_) return false;
    Locked lock(ml_);
    if (!stream_) return false;
    const auto* at = reinterpret_cast<const std::uint8_t*>(samples);
    std::size_t left = count * sizeof *samples;
    while (left > 0) {
      std::size_t room = 0;
      const auto has_room = [&] {
        room = pa_stream_writable_size(stream_);
        return room > 0 && room != std::size_t(-1);
      };
      if (wait_locked(has_room, cancel) != Waited::kDone) return false;
      const std::size_t n = std::min(room, left);
      if (pa_stream_write(stream_, at, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return false;
      at += n;
      left -= n;
    }
    return true;
  }

  bool drain(const std::atomic<bool>& cancel) override {
    if (!ml_) return false;
    Locked lock(ml_);
    if (!stream_) return false;
    drained_ = false;
    pa_operation* op = pa_stream_drain(
        stream_,
        [](pa_stream*, int ok, void* self) {
          auto* out = static_cast<PulseSpeechOutput*>(self);
          out->drained_ = ok != 0;
          wake_loop(out->ml_);
        },
        this);
    if (!op) return false;
    const Waited w = wait_locked([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, cancel);
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_unref(op);
    return w == Waited::kDone && drained_;
  }

  void close() override {
    if (!ml_) return;
    Locked lock(ml_);
    close_locked();
  }

  void wake() override {
    if (!ml_) return;
    Locked lock(ml_);
    wake_loop(ml_);
  }

 private:
  enum class Waited { kDone, kCancelled, kFailed };

  // With the loop locked: waits until done() holds, cancel turns true, the
  // connection or the stream fails, or the server has not answered for kAnswerMs
  // (the connection is then dropped).
  template <class Done>
  Waited wait_locked(Done done, const std::atomic<bool>& cancel) {
    late_ = false;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(ml_);
    timeval at;
    pa_timeval_add(pa_gettimeofday(&at), pa_usec_t(kAnswerMs) * 1000);
    pa_time_event* alarm = api->time_new(
        api, &at,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
          auto* out = static_cast<PulseSpeechOutput*>(self);
          out->late_ = true;
          wake_loop(out->ml_);
        },
        this);
    Waited w;
    for (;;) {
      if (cancel.load()) {
        w = Waited::kCancelled;
      } else if (done()) {
        w = Waited::kDone;
      } else if (late_ || failed_locked()) {
        w = Waited::kFailed;
      } else {
        pa_threaded_mainloop_wait(ml_);
        continue;
      }
      break;
    }
    api->time_free(alarm);
    if (w == Waited::kFailed && late_) {
      std::fputs("quibex: the sound server does not answer; speech is not played\n", stderr);
      drop_connection_locked();
      retry_at_ = std::chrono::steady_clock::now() + kRetryAfter;
    }
    return w;
  }

  bool failed_locked() const {
    if (!ctx_) return true;
    const pa_context_state_t c = pa_context_get_state(ctx_);
    if (c == PA_CONTEXT_FAILED || c == PA_CONTEXT_TERMINATED) return true;
    if (!stream_) return false;
    const pa_stream_state_t s = pa_stream_get_state(stream_);
    return s == PA_STREAM_FAILED || s == PA_STREAM_TERMINATED;
  }

  bool connect_locked(const std::atomic<bool>& cancel) {
    if (ctx_ && pa_context_get_state(ctx_) == PA_CONTEXT_READY) return true;
    drop_connection_locked();
    if (std::chrono::steady_clock::now() < retry_at_) return false;
    ctx_ = pa_context_new(pa_threaded_mainloop_get_api(ml_), "quibex");
    if (!ctx_) return false;
    pa_context_set_state_callback(ctx_, [](pa_context*, void* ml) { wake_loop(static_cast<pa_threaded_mainloop*>(ml)); }, ml_);
    const bool ok = pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                    wait_locked([this] { return ctx_ && pa_context_get_state(ctx_) == PA_CONTEXT_READY; }, cancel) ==
                        Waited::kDone;
    if (ok) return true;
    if (!cancel.load()) {
      if (ctx_) std::fprintf(stderr, "quibex: no sound server for speech: %s\n", pa_strerror(pa_context_errno(ctx_)));
      retry_at_ = std::chrono::steady_clock::now() + kRetryAfter;
    }
    drop_connection_locked();
    return false;
  }

  void close_locked() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    // The server removes the stream with whatever it still holds.
    if (pa_stream_get_state(stream_) == PA_STREAM_READY || pa_stream_get_state(stream_) == PA_STREAM_CREATING)
      pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  void drop_connection_locked() {
    close_locked();
    if (!ctx_) return;
    pa_context_set_state_callback(ctx_, nullptr, nullptr);
    pa_context_disconnect(ctx_);
    pa_context_unref(ctx_);
    ctx_ = nullptr;
  }

  pa_threaded_mainloop* ml_;  // set once, in the constructor
  pa_context* ctx_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool late_ = false;
  bool drained_ = false;
  std::chrono::steady_clock::time_point retry_at_{};
};

}  // namespace

std::unique_ptr<SpeechOutput> make_pulse_speech_output() { return std::make_unique<PulseSpeechOutput>(); }

}  // namespace platform::pulse
