#pragma once
// Speech: a synthesizer that speaks one utterance at a time, fed by the host's
// own first-in first-out queue on a worker thread of its own.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

struct Voice {
  std::string id;    // what a SAY names it by
  std::string name;  // for people
  std::string lang;  // BCP 47 language tag
  int quality = 1;   // 1 default, 2 enhanced, 3 premium
  bool operator==(const Voice&) const = default;
};

struct Utterance {
  std::string text;
  std::string voice;  // an id or a language tag; "" = the default voice
  double rate = 0;    // 0..1 with 0.5 the normal pace; 0 or less (or nan) = the default
};

// A synthesizer. speak runs on the speech thread only, one at a time; voices may
// be called from any thread.
class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  // Speaks to the end and returns true, or returns false once cancel turns true
  // (checked while speaking) or when the utterance cannot be spoken.
  virtual bool speak(const Utterance& u, const std::atomic<bool>& cancel) = 0;
  virtual std::vector<Voice> voices() = 0;
};

// The voice a SAY names: by id, else by language (the whole tag, then its primary
// subtag, case and '_' or '-' aside); none leaves the default voice.
std::optional<Voice> pick_voice(const std::vector<Voice>& voices, const std::string& wanted);

// Words per minute for a rate on the 0..1 scale, 0.5 being the normal pace:
// 0 -> 80, 0.5 -> 175, 1 (and above) -> 450, linear in between; the normal 175
// for 0 or less and for what is not a number.
int speech_rate_wpm(double rate);

// The speech thread and its queue. Utterances are spoken in the order they came.
class SpeechQueue {
 public:
  // done(finished) runs exactly once per utterance, on the speech thread (or, for
  // utterances stop_all takes off the queue, on the caller's).
  using Done = std::function<void(bool finished)>;
  explicit SpeechQueue(std::unique_ptr<SpeechEngine> engine);
  ~SpeechQueue();  // stops all speech and joins the thread
  void speak(Utterance u, Done done);
  // Cancels the utterance being spoken and drops the waiting ones.
  void stop_all();
  std::vector<Voice> voices() { return engine_->voices(); }

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

// The desktop's speech; null when there is none. The first call may start it.
SpeechQueue* speech();
// The speech if something has started it already; never starts it.
SpeechQueue* running_speech();
// How the desktop makes its speech on first use (null: the desktop has none).
void install_speech_factory(std::function<std::unique_ptr<SpeechQueue>()> factory);
// Ends the speech thread (at exit, and between tests).
void reset_speech();

}  // namespace platform
