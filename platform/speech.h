#pragma once
// Speech: a synthesizer that speaks one utterance at a time, fed by the host's
// own first-in first-out queue on a worker thread of its own, and the sound
// output it plays its samples through. Nothing here waits on the sound server
// on the caller's thread: only the speech thread does, and never for long.

#include <atomic>
#include <condition_variable>
#include <cstddef>
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
  // Called from any thread after cancel turned true: a speak that waits on its
  // sound looks at cancel again. Returns at once.
  virtual void wake() {}
};

// Where synthesized speech is played: one stream per utterance, of mono signed
// 16-bit samples. open, write, drain and close run on the speech thread; each
// wait on the sound server ends when cancel turns true (after wake) or when the
// server has not answered for a few seconds, so none of them hangs.
class SpeechOutput {
 public:
  virtual ~SpeechOutput() = default;
  // Starts a stream at rate samples per second; false when nothing can be played.
  virtual bool open(int rate, const std::atomic<bool>& cancel) = 0;
  // Queues samples, waiting while the stream is full; false when cancelled or
  // when the stream failed.
  virtual bool write(const std::int16_t* samples, std::size_t count, const std::atomic<bool>& cancel) = 0;
  // Waits until everything queued has been heard; false as write.
  virtual bool drain(const std::atomic<bool>& cancel) = 0;
  // Ends the stream; what it still holds is dropped, so the speaker falls silent
  // at once. Harmless without a stream.
  virtual void close() = 0;
  // Any thread, returns at once: a waiting open, write or drain looks at its
  // cancel flag again.
  virtual void wake() = 0;
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
// How the desktop plays synthesized speech; make_speech_output is null when
// nothing was installed.
void install_speech_output(std::function<std::unique_ptr<SpeechOutput>()> make);
std::unique_ptr<SpeechOutput> make_speech_output();

}  // namespace platform
