// The equalizer's filtering procedure: time per 512-frame stereo block through
// 10 bands per channel, against the block's real-time budget at 48 kHz; and the
// tap's conversion of a block to int16.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "services/audio_dsp.h"

namespace {

constexpr size_t kFrames = 512;
constexpr double kRate = 48000;

std::vector<EqFilter> ten_bands() {
  std::vector<EqFilter> f;
  const char* kinds[] = {"bq_lowshelf", "peaking", "peaking", "peaking", "peaking",
                         "peaking",     "peaking", "peaking", "peaking", "bq_highshelf"};
  for (int i = 0; i < 10; ++i) f.push_back({kinds[i], 31.25 * std::pow(2.0, i), 1.4, (i % 2 ? -6.0 : 4.0)});
  return f;
}

std::vector<float> sine_block() {
  std::vector<float> in(kFrames * 2);
  for (size_t i = 0; i < kFrames; ++i) in[2 * i] = in[2 * i + 1] = float(0.5 * std::sin(2 * M_PI * 440 * i / kRate));
  return in;
}

void BM_EqBlock10Bands(benchmark::State& state) {
  EqChain chain;
  eq_publish(chain, ten_bands(), 0.2, kRate, false);
  std::vector<float> in = sine_block(), out(in.size());
  AudioBuf i{in.data(), 2, in.size() * 4}, o{out.data(), 2, out.size() * 4};
  for (auto _ : state) {
    eq_process(chain, true, &i, 1, &o, 1);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["budget_ms"] = kFrames / kRate * 1000;
}
BENCHMARK(BM_EqBlock10Bands);

void BM_TapConvertBlock(benchmark::State& state) {
  std::vector<float> in = sine_block();
  std::vector<int16_t> pcm;
  pcm.reserve(in.size());
  AudioBuf b{in.data(), 2, in.size() * 4};
  for (auto _ : state) {
    pcm.clear();
    tap_append(pcm, &b, 1);
    benchmark::DoNotOptimize(pcm.data());
  }
}
BENCHMARK(BM_TapConvertBlock);

// The figure to read: one number per line at the end.
void summary() {
  EqChain chain;
  eq_publish(chain, ten_bands(), 0.2, kRate, false);
  std::vector<float> in = sine_block(), out(in.size());
  AudioBuf i{in.data(), 2, in.size() * 4}, o{out.data(), 2, out.size() * 4};
  const int n = 20000;
  const auto t0 = std::chrono::steady_clock::now();
  for (int k = 0; k < n; ++k) eq_process(chain, true, &i, 1, &o, 1);
  const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / n;
  const double budget_us = kFrames / kRate * 1e6;
  std::printf("equalizer: %.1f us per 512-frame stereo block, 10 bands (budget %.0f us, %.2f%% of it)\n", us,
              budget_us, 100 * us / budget_us);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  summary();
  return 0;
}
