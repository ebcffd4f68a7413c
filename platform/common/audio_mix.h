#pragma once
// Sums several capture streams of the same format into one: a stream's samples
// wait until every stream has a block, and a stream that lags far behind
// (paused, or gone quiet) counts as silence rather than holding the rest back.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace platform {

class StreamMixer {
 public:
  using Out = std::function<void(const float* data, size_t frames, int channels)>;
  // block: frames every stream must have before they are mixed; lag: frames
  // one stream may run ahead before the others count as silent.
  StreamMixer(int channels, size_t block, size_t lag) : channels_(channels), block_(block), lag_(lag) {}
  void add_stream(uint32_t key) { queues_[key]; }
  void remove_stream(uint32_t key, const Out& out);
  bool has(uint32_t key) const { return queues_.count(key) != 0; }
  size_t streams() const { return queues_.size(); }
  // Appends frames of one stream and emits whatever can be mixed.
  void push(uint32_t key, const float* data, size_t frames, const Out& out);

 private:
  void mix(const Out& out);
  int channels_;
  size_t block_, lag_;
  std::map<uint32_t, std::deque<float>> queues_;
  std::vector<float> mixed_;
};

}  // namespace platform
