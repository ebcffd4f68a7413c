#pragma once
// The equalizer's arithmetic and the tap's sample framing: no threads, no
// desktop, only numbers in and numbers out.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One filter as the backend sends it.
struct EqFilter {
  std::string kind;
  double freq = 1000;
  double q = 1;
  double gain = 0;
  double gain_right = 0;
  bool has_gain_right = false;
};

// One compiled filter of one channel: coefficients normalised by a0, then the
// direct-form-I delay state.
struct EqBand {
  std::uint8_t is_linear = 0;
  float gain = 1;
  float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

constexpr size_t kEqMaxFilters = 32;

// A number from the wire: atof, except that nan, inf and magnitudes beyond any
// sensible setting read as the field's default.
double eq_number(std::string_view text, double fallback);
// The AUDIOFILTERS argument: TAB-separated filters of comma-separated pieces.
std::vector<EqFilter> eq_parse_filters(std::string_view text);

void eq_compile(EqBand& band, std::string_view kind, double freq, double q, double gain, double sample_rate);
float eq_run(std::vector<EqBand>& bands, float x);

// Left and right gains of a balance in [-1, 1] (clamped; nan is 0).
void eq_balance_gains(double balance, float& left, float& right);

// What the filtering thread runs, and the flag it is swapped under.
struct EqChain {
  std::vector<EqBand> bands[2];
  float gain[2] = {1, 1};
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
};

// Compiles filters for both channels and swaps them into chain. With
// keep_state, each band takes the delay state of the running band at its index
// (copied under the flag; a non-finite state starts from zero).
void eq_publish(EqChain& chain, const std::vector<EqFilter>& filters, double balance, double sample_rate,
                bool keep_state);
void eq_clear(EqChain& chain);

// One buffer of a buffer list: interleaved with `channels` channels, or one
// channel of a planar list.
struct AudioBuf {
  float* data = nullptr;
  std::uint32_t channels = 1;
  size_t bytes = 0;
};

// The filtering procedure over one call's buffers. muted: the captured sound no
// longer plays, so the output carries it filtered (dry when the chain is being
// swapped); else the output is silence. Returns whether the input held sound.
bool eq_process(EqChain& chain, bool muted, const AudioBuf* in, size_t n_in, AudioBuf* out, size_t n_out);

// The tap's conversion: float samples clamped to [-1, 1] and scaled to int16,
// appended to pcm interleaved. A planar list (two or more one-channel buffers)
// is interleaved frame by frame.
void tap_append(std::vector<std::int16_t>& pcm, const AudioBuf* bufs, size_t n);
std::int16_t tap_sample(float v);

// Standard Base64 of the samples' little-endian bytes, without line breaks.
std::string tap_base64(const std::vector<std::int16_t>& pcm);
// The AUDIOTAP event line.
std::string tap_event_line(const std::vector<std::int16_t>& pcm, double rate, int channels, double t0);
