// Several captured streams summed into one: alignment by blocks, a lagging
// stream counted as silence, streams that come and go.

#include <gtest/gtest.h>

#include <vector>

#include "platform/common/audio_mix.h"

namespace {
struct Sink {
  std::vector<float> samples;
  std::vector<size_t> calls;  // frames per emission
  platform::StreamMixer::Out out() {
    return [this](const float* d, size_t frames, int ch) {
      samples.insert(samples.end(), d, d + frames * size_t(ch));
      calls.push_back(frames);
    };
  }
};
std::vector<float> frames(size_t n, float v) { return std::vector<float>(n * 2, v); }
}  // namespace

TEST(StreamMixer, OneStreamPassesThroughAtOnce) {
  platform::StreamMixer m(2, 4, 32);
  Sink s;
  m.add_stream(7);
  auto a = frames(3, 0.25f);
  m.push(7, a.data(), 3, s.out());
  EXPECT_EQ(s.samples, a);
  m.push(9, a.data(), 3, s.out());  // not a stream of this mixer
  EXPECT_EQ(s.samples.size(), 6u);
}

TEST(StreamMixer, SumsOnceEveryStreamHasABlock) {
  platform::StreamMixer m(2, 4, 32);
  Sink s;
  m.add_stream(1);
  m.add_stream(2);
  auto a = frames(6, 0.25f), b = frames(3, 0.5f), c = frames(5, 0.5f);
  m.push(1, a.data(), 6, s.out());
  m.push(2, b.data(), 3, s.out());
  EXPECT_TRUE(s.samples.empty());  // stream 2 has less than a block
  m.push(2, c.data(), 5, s.out());
  // Six frames of both, summed; stream 2's two frames more wait.
  EXPECT_EQ(s.samples, frames(6, 0.75f));
  auto d = frames(4, 0.125f), e = frames(2, 0.25f);
  m.push(1, d.data(), 4, s.out());
  EXPECT_EQ(s.samples.size(), 12u);  // stream 2 has two frames: not a block yet
  m.push(2, e.data(), 2, s.out());
  ASSERT_EQ(s.samples.size(), 12u + 4 * 2);
  // Frame by frame: stream 2's waiting frames meet stream 1's next ones.
  EXPECT_FLOAT_EQ(s.samples[12], 0.625f);
  EXPECT_FLOAT_EQ(s.samples[14], 0.625f);
  EXPECT_FLOAT_EQ(s.samples[16], 0.375f);
  EXPECT_FLOAT_EQ(s.samples[19], 0.375f);
}

TEST(StreamMixer, ALaggingStreamCountsAsSilenceAndRemovalFlushes) {
  platform::StreamMixer m(2, 4, 16);
  Sink s;
  m.add_stream(1);
  m.add_stream(2);  // paused: never delivers
  auto a = frames(15, 0.5f);
  m.push(1, a.data(), 15, s.out());
  EXPECT_TRUE(s.samples.empty());
  auto b = frames(1, 0.5f);
  m.push(1, b.data(), 1, s.out());
  EXPECT_EQ(s.samples, frames(16, 0.5f));  // not held back for good
  // A stream that goes leaves the rest to pass at once.
  auto c = frames(2, 0.25f);
  m.push(1, c.data(), 2, s.out());
  EXPECT_EQ(s.samples.size(), 32u);
  m.remove_stream(2, s.out());
  EXPECT_EQ(s.samples.size(), 36u);
  EXPECT_FLOAT_EQ(s.samples.back(), 0.25f);
  EXPECT_EQ(m.streams(), 1u);
}
