#pragma once
// A synthesizer for the speech tests, which decide when each utterance ends. Its
// speak runs on the speech thread, the rest on any thread; every wait is bounded.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/speech.h"

// Speaks until the test lets an utterance end (release) or it is cancelled. Like
// a sound output, it sleeps until something wakes it: a stop that only set the
// cancel flag would leave it speaking.
class GatedEngine : public platform::SpeechEngine {
 public:
  bool speak(const platform::Utterance& u, const std::atomic<bool>& cancel) override {
    std::unique_lock<std::mutex> lock(mu);
    started.push_back(u);
    cv.notify_all();
    while (!cancel.load()) {
      if (releases > 0) {
        --releases;
        return true;
      }
      cv.wait_for(lock, std::chrono::seconds(30));  // bounded only so that a failing test ends
    }
    return false;
  }
  std::vector<platform::Voice> voices() override { return list; }
  void wake() override {
    std::lock_guard<std::mutex> lock(mu);
    cv.notify_all();
  }
  void release(int n = 1) {
    std::lock_guard<std::mutex> lock(mu);
    releases += n;
    cv.notify_all();
  }
  // Waits (bounded) until n utterances have started.
  bool wait_started(size_t n) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return started.size() >= n; });
  }
  std::mutex mu;
  std::condition_variable cv;
  std::vector<platform::Utterance> started;
  int releases = 0;
  std::vector<platform::Voice> list;
};
