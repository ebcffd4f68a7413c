#pragma once
// An audio server in memory: the test decides what each capture or filter
// finds, pushes samples through the running ones as the audio thread would,
// and fires changes.

#include <functional>
#include <memory>
#include <vector>

#include "platform/audio.h"

namespace platform::fake {

class FakeAudioServer : public AudioServer {
 public:
  struct Running {
    bool filter = false;
    AudioScope scope = AudioScope::kSystem;
    Samples samples;
    Filter fn;
    bool alive = true;
  };
  bool available() override { return reachable; }
  std::unique_ptr<AudioStream> capture(AudioScope scope, AudioFormat& format, Samples fn, int& status) override;
  std::unique_ptr<AudioStream> filter(AudioScope scope, AudioFormat& format, Filter fn, int& status) override;
  bool has_streams(AudioScope scope) override { return fail_status == 0; }
  void watch(std::function<void(Change)> fn) override { watcher = std::move(fn); }
  void shutdown() override { shutdowns++; }

  // The newest capture or filter still running; null when none.
  Running* live();
  int live_count() const;
  // Feeds interleaved samples to the newest running capture; for a filter,
  // returns what it wrote.
  std::vector<float> feed(const std::vector<float>& interleaved);
  void fire(Change c) {
    if (watcher) watcher(c);
  }

  bool reachable = true;
  int fail_status = 0;  // the next builds fail with this status (0: they succeed)
  AudioFormat format{48000, 2};
  std::vector<std::shared_ptr<Running>> made;  // every capture or filter, in order
  std::function<void(Change)> watcher;
  int shutdowns = 0;
};

}  // namespace platform::fake
