#pragma once
// Speech: the desktop's speech, a synthesizer that speaks one utterance at a
// time (the desktops feed it from platform/common/speech_queue.h, on a worker
// thread of its own), and the sound output it plays its samples through.
// Nothing here waits on the sound server on the caller's thread: only the speech
// thread does, and never for long.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

// The desktop's speech: utterances are spoken one at a time, in the order they came.
class Speech {
 public:
  // done(finished) runs exactly once per utterance, on the speech thread (or, for
  // utterances stop_all takes off the queue, on the caller's).
  using Done = std::function<void(bool finished)>;
  virtual ~Speech() = default;  // stops all speech
  // Any thread; returns at once.
  virtual void speak(Utterance u, Done done) = 0;
  // Cancels the utterance being spoken and drops the waiting ones.
  virtual void stop_all() = 0;
  virtual std::vector<Voice> voices() = 0;
};

// The desktop's speech; null when there is none. The first call may start it.
Speech* speech();
// The speech if something has started it already; never starts it.
Speech* running_speech();
// How the desktop makes its speech on first use (null: the desktop has none).
void install_speech_factory(std::function<std::unique_ptr<Speech>()> factory);
// Ends the speech thread (at exit, and between tests).
void reset_speech();
// How the desktop plays synthesized speech; make_speech_output is null when
// nothing was installed.
void install_speech_output(std::function<std::unique_ptr<SpeechOutput>()> make);
std::unique_ptr<SpeechOutput> make_speech_output();

}  // namespace platform
