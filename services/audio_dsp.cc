#include "services/audio_dsp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/wire_text.h"

namespace {

// Beyond this magnitude no frequency, Q, gain or balance means anything; such
// numbers would only turn coefficients into inf and the output into nan.
constexpr double kHuge = 1e6;

bool finite_state(const EqBand& b) {
  return std::isfinite(b.x1) && std::isfinite(b.x2) && std::isfinite(b.y1) && std::isfinite(b.y2);
}

void lock(std::atomic_flag& f) {
  while (f.test_and_set(std::memory_order_acquire)) {
  }
}

}  // namespace

double eq_number(std::string_view text, double fallback) {
  const double v = std::atof(std::string(text).c_str());
  if (!std::isfinite(v) || std::fabs(v) > kHuge) return fallback;
  return v;
}

std::vector<EqFilter> eq_parse_filters(std::string_view text) {
  std::vector<EqFilter> out;
  for (const std::string& field : split_tabs(text)) {
    if (field.empty()) continue;
    auto p = split_commas(field);
    if (p.size() < 4) continue;
    EqFilter f;
    f.kind = std::string(p[0]);
    f.freq = eq_number(p[1], 1000);
    f.q = eq_number(p[2], 1);
    f.gain = eq_number(p[3], 0);
    f.gain_right = f.gain;
    if (p.size() >= 5 && !p[4].empty()) {
      f.gain_right = eq_number(p[4], 0);
      f.has_gain_right = true;
    }
    out.push_back(std::move(f));
  }
  if (out.size() > kEqMaxFilters) out.resize(kEqMaxFilters);
  return out;
}

void eq_compile(EqBand& band, std::string_view kind, double freq, double q, double gain, double sample_rate) {
  band = EqBand{};
  if (kind == "linear") {
    band.is_linear = 1;
    band.gain = float(gain);
    if (!std::isfinite(band.gain)) band.gain = 1;
    return;
  }
  if (!(sample_rate > 0) || !std::isfinite(sample_rate)) sample_rate = 48000;
  if (!(q > 0.0001)) q = 0.0001;  // nan included
  if (!(freq >= 1)) freq = 1;
  if (freq > 0.49 * sample_rate) freq = 0.49 * sample_rate;
  const double A = std::pow(10.0, gain / 40);
  const double w0 = 2 * M_PI * freq / sample_rate;
  const double cw = std::cos(w0), sw = std::sin(w0);
  const double alpha = sw / (2 * q);
  const double sa = 2 * std::sqrt(A) * alpha;
  double b0, b1, b2, a0, a1, a2;
  if (kind == "bq_lowshelf") {
    b0 = A * ((A + 1) - (A - 1) * cw + sa);
    b1 = 2 * A * ((A - 1) - (A + 1) * cw);
    b2 = A * ((A + 1) - (A - 1) * cw - sa);
    a0 = (A + 1) + (A - 1) * cw + sa;
    a1 = -2 * ((A - 1) + (A + 1) * cw);
    a2 = (A + 1) + (A - 1) * cw - sa;
  } else if (kind == "bq_highshelf") {
    b0 = A * ((A + 1) + (A - 1) * cw + sa);
    b1 = -2 * A * ((A - 1) + (A + 1) * cw);
    b2 = A * ((A + 1) + (A - 1) * cw - sa);
    a0 = (A + 1) - (A - 1) * cw + sa;
    a1 = 2 * ((A - 1) - (A + 1) * cw);
    a2 = (A + 1) - (A - 1) * cw - sa;
  } else if (kind == "bq_lowpass") {
    b0 = (1 - cw) / 2, b1 = 1 - cw, b2 = (1 - cw) / 2;
    a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
  } else if (kind == "bq_highpass") {
    b0 = (1 + cw) / 2, b1 = -(1 + cw), b2 = (1 + cw) / 2;
    a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
  } else if (kind == "bq_bandpass") {
    b0 = alpha, b1 = 0, b2 = -alpha;
    a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
  } else if (kind == "bq_notch") {
    b0 = 1, b1 = -2 * cw, b2 = 1;
    a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
  } else if (kind == "bq_allpass") {
    b0 = 1 - alpha, b1 = -2 * cw, b2 = 1 + alpha;
    a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
  } else {  // peaking
    b0 = 1 + alpha * A, b1 = -2 * cw, b2 = 1 - alpha * A;
    a0 = 1 + alpha / A, a1 = -2 * cw, a2 = 1 - alpha / A;
  }
  if (a0 == 0) a0 = 1;
  band.b0 = float(b0 / a0);
  band.b1 = float(b1 / a0);
  band.b2 = float(b2 / a0);
  band.a1 = float(a1 / a0);
  band.a2 = float(a2 / a0);
  // A gain beyond what floats hold passes the sound through rather than nan.
  if (!std::isfinite(band.b0) || !std::isfinite(band.b1) || !std::isfinite(band.b2) || !std::isfinite(band.a1) ||
      !std::isfinite(band.a2))
    band = EqBand{};
}

float eq_run(std::vector<EqBand>& bands, float x) {
  for (EqBand& b : bands) {
    if (b.is_linear) {
      x = b.gain * x;
      continue;
    }
    float y = b.b0 * x + b.b1 * b.x1 + b.b2 * b.x2 - b.a1 * b.y1 - b.a2 * b.y2;
    if (!std::isfinite(y)) {
      // A nan or inf would stay in the delay line for good and silence the
      // channel: drop the sample and start the band afresh.
      b.x1 = b.x2 = b.y1 = b.y2 = 0;
      x = 0;
      continue;
    }
    b.x2 = b.x1;
    b.x1 = x;
    b.y2 = b.y1;
    b.y1 = y;
    x = y;
  }
  return x;
}

void eq_balance_gains(double balance, float& left, float& right) {
  double b = std::isfinite(balance) ? std::clamp(balance, -1.0, 1.0) : 0.0;
  left = float(b > 0 ? 1 - b : 1);
  right = float(b < 0 ? 1 + b : 1);
}

void eq_publish(EqChain& chain, const std::vector<EqFilter>& filters, double balance, double sample_rate,
                bool keep_state) {
  std::vector<EqBand> fresh[2];
  for (int ch = 0; ch < 2; ++ch) {
    fresh[ch].resize(filters.size());
    for (size_t i = 0; i < filters.size(); ++i) {
      const EqFilter& f = filters[i];
      const double gain = ch == 1 && f.has_gain_right ? f.gain_right : f.gain;
      eq_compile(fresh[ch][i], f.kind, f.freq, f.q, gain, sample_rate);
    }
  }
  float left, right;
  eq_balance_gains(balance, left, right);
  lock(chain.busy);
  for (int ch = 0; ch < 2; ++ch) {
    // The running bands' state is read only while the filtering thread is kept out.
    if (keep_state)
      for (size_t i = 0; i < fresh[ch].size() && i < chain.bands[ch].size(); ++i) {
        const EqBand& old = chain.bands[ch][i];
        if (!finite_state(old)) continue;
        EqBand& b = fresh[ch][i];
        b.x1 = old.x1, b.x2 = old.x2, b.y1 = old.y1, b.y2 = old.y2;
      }
    chain.bands[ch].swap(fresh[ch]);
  }
  chain.gain[0] = left;
  chain.gain[1] = right;
  chain.busy.clear(std::memory_order_release);
  // The old bands are freed here, after the flag is released.
}

void eq_clear(EqChain& chain) {
  std::vector<EqBand> old[2];
  lock(chain.busy);
  chain.bands[0].swap(old[0]);
  chain.bands[1].swap(old[1]);
  chain.busy.clear(std::memory_order_release);
}

namespace {

struct View {
  float* data = nullptr;
  size_t stride = 1;
  size_t frames = 0;
};

bool channel_view(const AudioBuf* list, size_t n, int ch, View& v) {
  if (!list || n == 0) return false;
  if (n == 1) {
    const AudioBuf& b = list[0];
    if (!b.data) return false;
    const size_t chans = b.channels ? b.channels : 1;
    v.data = b.data + (size_t(ch) < chans ? ch : 0);
    v.stride = chans;
    v.frames = b.bytes / 4 / chans;
    return true;
  }
  const AudioBuf& b = list[ch];
  if (!b.data) return false;
  const size_t chans = b.channels ? b.channels : 1;
  v.data = b.data;
  v.stride = chans;
  v.frames = b.bytes / 4 / chans;
  return true;
}

}  // namespace

bool eq_process(EqChain& chain, bool muted, const AudioBuf* in, size_t n_in, AudioBuf* out, size_t n_out) {
  const bool locked = muted && !chain.busy.test_and_set(std::memory_order_acquire);
  bool heard = false;
  // Channels past the second of an interleaved output get silence, not leftovers.
  if (n_out == 1 && out[0].data && out[0].channels > 2) std::memset(out[0].data, 0, out[0].bytes / 4 * 4);
  for (int ch = 0; ch < 2; ++ch) {
    View o, i;
    if (!channel_view(out, n_out, ch, o)) continue;
    const bool has_in = channel_view(in, n_in, ch, i);
    size_t n = o.frames;
    if (has_in && i.frames < n) n = i.frames;
    for (size_t f = 0; f < n; ++f) {
      const float s = has_in ? i.data[f * i.stride] : 0.0f;
      if (s != 0 || std::isnan(s)) heard = true;
      float y = 0;
      if (muted) y = locked ? eq_run(chain.bands[ch], s) * chain.gain[ch] : s;
      o.data[f * o.stride] = y;
    }
    for (size_t f = n; f < o.frames; ++f) o.data[f * o.stride] = 0;
  }
  for (size_t b = 2; b < n_out; ++b)
    if (out[b].data) std::memset(out[b].data, 0, out[b].bytes / 4 * 4);
  if (locked) chain.busy.clear(std::memory_order_release);
  return heard;
}

std::int16_t tap_sample(float v) {
  if (std::isnan(v)) return 0;
  v = std::clamp(v, -1.0f, 1.0f);
  return std::int16_t(std::nearbyint(v * 32767.0f));
}

void tap_append(std::vector<std::int16_t>& pcm, const AudioBuf* bufs, size_t n) {
  bool planar = n >= 2;
  for (size_t b = 0; b < n && planar; ++b) planar = bufs[b].channels <= 1;
  if (!planar) {
    for (size_t b = 0; b < n; ++b) {
      if (!bufs[b].data) continue;
      const size_t count = bufs[b].bytes / 4;
      for (size_t k = 0; k < count; ++k) pcm.push_back(tap_sample(bufs[b].data[k]));
    }
    return;
  }
  // One buffer per channel: sent interleaved, as the event's layout declares.
  size_t frames = 0;
  for (size_t b = 0; b < n; ++b) frames = std::max(frames, bufs[b].data ? bufs[b].bytes / 4 : 0);
  for (size_t f = 0; f < frames; ++f)
    for (size_t b = 0; b < n; ++b) {
      const bool has = bufs[b].data && f < bufs[b].bytes / 4;
      pcm.push_back(has ? tap_sample(bufs[b].data[f]) : 0);
    }
}

std::string tap_base64(const std::vector<std::int16_t>& pcm) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  bytes.reserve(pcm.size() * 2);
  for (std::int16_t s : pcm) {
    const auto u = std::uint16_t(s);
    bytes.push_back(char(u & 0xff));
    bytes.push_back(char(u >> 8));
  }
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = std::uint8_t(bytes[i]) << 16 | std::uint8_t(bytes[i + 1]) << 8 | std::uint8_t(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (const size_t rest = bytes.size() - i) {
    std::uint32_t v = std::uint8_t(bytes[i]) << 16;
    if (rest == 2) v |= std::uint8_t(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string tap_event_line(const std::vector<std::int16_t>& pcm, double rate, int channels, double t0) {
  const long frames = long(pcm.size()) / std::max(1, channels);
  char tail[96];
  std::snprintf(tail, sizeof tail, "\t%d\t%d\t%ld\t%.1f", int(rate), channels, frames, t0);
  return "AUDIOTAP " + tap_base64(pcm) + tail;
}
