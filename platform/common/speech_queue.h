#pragma once
// The desktops' speech: the host's own first-in first-out queue of utterances,
// spoken by a synthesizer on a worker thread of its own.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/speech.h"

namespace platform {

// The speech thread and its queue. Utterances are spoken in the order they came.
class SpeechQueue : public Speech {
 public:
  explicit SpeechQueue(std::unique_ptr<SpeechEngine> engine);
  ~SpeechQueue() override;  // stops all speech and joins the thread
  void speak(Utterance u, Done done) override;
  void stop_all() override;
  std::vector<Voice> voices() override { return engine_->voices(); }

 private:
  void run();
  std::unique_ptr<SpeechEngine> engine_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::pair<Utterance, Done>> waiting_;
  std::atomic<bool> cancel_{false};
  bool speaking_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace platform
