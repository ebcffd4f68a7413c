#include "platform/common/audio_mix.h"

#include <algorithm>
#include <cstdint>

namespace platform {

void StreamMixer::remove_stream(uint32_t key, const Out& out) {
  queues_.erase(key);
  mix(out);
}

void StreamMixer::push(uint32_t key, const float* data, size_t frames, const Out& out) {
  auto it = queues_.find(key);
  if (it == queues_.end()) return;
  it->second.insert(it->second.end(), data, data + frames * size_t(channels_));
  mix(out);
}

void StreamMixer::mix(const Out& out) {
  const size_t ch = size_t(channels_);
  for (;;) {
    if (queues_.empty()) return;
    size_t lo = SIZE_MAX, hi = 0;
    for (auto& [key, q] : queues_) {
      lo = std::min(lo, q.size() / ch);
      hi = std::max(hi, q.size() / ch);
    }
    size_t n;
    if (queues_.size() == 1)
      n = hi;
    else if (lo >= block_)
      n = lo;
    else if (hi >= lag_)
      n = hi;
    else
      return;
    if (n == 0) return;
    mixed_.assign(n * ch, 0.0f);
    for (auto& [key, q] : queues_) {
      const size_t take = std::min(n * ch, q.size() / ch * ch);
      for (size_t k = 0; k < take; ++k) mixed_[k] += q[k];
      q.erase(q.begin(), q.begin() + std::ptrdiff_t(take));
    }
    out(mixed_.data(), n, channels_);
  }
}

}  // namespace platform
