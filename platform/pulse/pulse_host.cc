// The audio module opens where audio is first asked for: its libraries take a
// couple of milliseconds to load, so on the main thread for the audio server
// (the audio commands) and on the speech thread for the speech output.

#include "platform/pulse/pulse_host.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/common/module_loader.h"
#include "platform/pulse/pulse_module.h"

namespace platform::pulse {

namespace {

ModuleOf<PulseServices>& audio_module() {
  static auto* m = new ModuleOf<PulseServices>("pulse", kPulseModuleEntry, "audio (libpulse)");
  return *m;
}

// Main thread only. Before the module is open it only keeps what watch asks,
// which the module's server needs no sooner than its first connection.
class AudioOnFirstUse : public AudioServer {
 public:
  bool available() override {
    AudioServer* s = server();
    return s && s->available();
  }
  std::unique_ptr<AudioStream> capture(AudioScope scope, AudioFormat& format, Samples fn, int& status) override {
    if (AudioServer* s = server()) return s->capture(scope, format, std::move(fn), status);
    status = kPulseNoServer;
    return nullptr;
  }
  std::unique_ptr<AudioStream> filter(AudioScope scope, AudioFormat& format, Filter fn, int& status) override {
    if (AudioServer* s = server()) return s->filter(scope, format, std::move(fn), status);
    status = kPulseNoServer;
    return nullptr;
  }
  bool has_streams(AudioScope scope) override {
    AudioServer* s = server();
    return s && s->has_streams(scope);
  }
  void watch(std::function<void(Change)> fn) override {
    if (!opened_) {
      watch_ = std::move(fn);
    } else if (server_) {
      server_->watch(std::move(fn));
    }
  }
  void shutdown() override {
    if (server_) server_->shutdown();
  }

 private:
  AudioServer* server() {
    if (opened_) return server_;
    opened_ = true;
    if (PulseServices* p = audio_module().get()) server_ = &p->audio_server();
    if (server_ && watch_) server_->watch(std::move(watch_));
    return server_;
  }

  bool opened_ = false;
  AudioServer* server_ = nullptr;      // null: no module
  std::function<void(Change)> watch_;  // asked for before the module was open
};

// Opens the module's output on its first open. open, write, drain and close run on
// the speech thread; wake on any thread finds the output once it is there (a wake
// before then has nothing to wake: open looks at its cancel flag first).
class SpeechOutputOnFirstUse : public SpeechOutput {
 public:
  bool open(int rate, const std::atomic<bool>& cancel) override {
    if (!tried_) {
      tried_ = true;
      if (PulseServices* p = audio_module().get()) {
        own_ = p->make_speech_output();
        out_ = own_.get();
      }
    }
    SpeechOutput* o = out_.load();
    return o && o->open(rate, cancel);
  }
  bool write(const std::int16_t* samples, std::size_t count, const std::atomic<bool>& cancel) override {
    SpeechOutput* o = out_.load();
    return o && o->write(samples, count, cancel);
  }
  bool drain(const std::atomic<bool>& cancel) override {
    SpeechOutput* o = out_.load();
    return o && o->drain(cancel);
  }
  void close() override {
    if (SpeechOutput* o = out_.load()) o->close();
  }
  void wake() override {
    if (SpeechOutput* o = out_.load()) o->wake();
  }

 private:
  bool tried_ = false;  // speech thread
  std::unique_ptr<SpeechOutput> own_;
  std::atomic<SpeechOutput*> out_{nullptr};
};

}  // namespace

void tag_own_streams() {
  std::string props = std::string(kPulseTagKey) + "='" + std::to_string(long(getpid())) + "'";
  if (const char* old = std::getenv("PULSE_PROP"); old && *old) props = std::string(old) + " " + props;
  setenv("PULSE_PROP", props.c_str(), 1);
}

AudioServer& audio_server_from_module() {
  static auto* server = new AudioOnFirstUse;
  return *server;
}

std::unique_ptr<SpeechOutput> speech_output_from_module() { return std::make_unique<SpeechOutputOnFirstUse>(); }

}  // namespace platform::pulse
