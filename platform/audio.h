#pragma once
// The desktop's audio server: capturing what is played, and putting the
// application's own sound through a filter on its way to the output.

#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

// Which played streams a capture takes. The application's streams are those of
// the host and of every process it started (the web processes play the pages'
// sound).
enum class AudioScope {
  kSystem,         // everything the default output plays
  kSystemButApp,   // everything except the application's streams
  kApp,            // the application's streams
  kAppButHost,     // the application's streams except the host process's own
};

struct AudioFormat {
  double rate = 0;
  int channels = 0;
};

// A running capture or filter; destroying it stops it and undoes what it set up.
class AudioStream {
 public:
  virtual ~AudioStream() = default;
};

// Failure statuses shared by every audio server.
constexpr int kAudioNoProcess = 560947818;  // nothing of the asked scope plays
constexpr int kAudioNoDevice = 560227702;   // no output device

class AudioServer {
 public:
  // Interleaved float samples, frames × channels of them; on the audio thread.
  using Samples = std::function<void(const float* data, size_t frames, int channels)>;
  // Fills out (frames × channels, interleaved) from in; on the audio thread.
  using Filter = std::function<void(const float* in, float* out, size_t frames, int channels)>;
  enum class Change { kDefaultOutput, kStreams };

  virtual ~AudioServer() = default;
  // The server can be reached.
  virtual bool available() = 0;
  // Starts capturing the scope; null with status set (never 0) on failure.
  virtual std::unique_ptr<AudioStream> capture(AudioScope scope, AudioFormat& format, Samples fn, int& status) = 0;
  // Takes the scope's streams off the output (the unfiltered sound stops), runs
  // them through fn and plays the result on the default output; destroying the
  // stream puts every stream back where it was.
  virtual std::unique_ptr<AudioStream> filter(AudioScope scope, AudioFormat& format, Filter fn, int& status) = 0;
  // Whether a stream of the scope is playing now.
  virtual bool has_streams(AudioScope scope) = 0;
  // Where changes of the default output and of the set of playing streams go,
  // on the main thread; null stops them.
  virtual void watch(std::function<void(Change)> fn) = 0;
  // The host ends: undo everything still set up.
  virtual void shutdown() = 0;
};

AudioServer* audio_server();
void install_audio_server(AudioServer* server);

}  // namespace platform
