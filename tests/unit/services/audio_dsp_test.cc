// The equalizer's filters and balance, the filtering procedure on sample
// buffers, and the tap's conversion and event framing.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <thread>

#include "services/audio_dsp.h"
#include "services/clip_format.h"

namespace {

// |H(e^jw)| in dB of one compiled band at freq.
double response_db(const EqBand& b, double freq, double rate) {
  const std::complex<double> z = std::polar(1.0, -2 * M_PI * freq / rate);
  const auto num = double(b.b0) + double(b.b1) * z + double(b.b2) * z * z;
  const auto den = 1.0 + double(b.a1) * z + double(b.a2) * z * z;
  return 20 * std::log10(std::abs(num / den));
}

EqBand compiled(const char* kind, double freq, double q, double gain, double rate = 48000) {
  EqBand b;
  b.x1 = 7;  // compiling starts from a clean band
  eq_compile(b, kind, freq, q, gain, rate);
  return b;
}

double rms_after(std::vector<EqBand> bands, double freq, double rate, int n = 48000) {
  double sum = 0;
  int counted = 0;
  for (int i = 0; i < n; ++i) {
    float y = eq_run(bands, float(std::sin(2 * M_PI * freq * i / rate)));
    if (i >= n / 2) sum += double(y) * y, ++counted;  // past the transient
  }
  return std::sqrt(sum / counted);
}

}  // namespace

TEST(EqCompile, CookbookCoefficients) {
  // Published values of the cookbook's low pass (48 kHz, 1 kHz, Q 1/√2) and
  // peaking filter (44.1 kHz, 1 kHz, Q 1, +6 dB), normalised by a0.
  struct Case {
    const char* kind;
    double rate, freq, q, gain;
    double b0, b1, b2, a1, a2;
  } cases[] = {
      {"bq_lowpass", 48000, 1000, std::sqrt(0.5), 0, 0.0039161267, 0.0078322533, 0.0039161267, -1.8153410827,
       0.8310055893},
      {"peaking", 44100, 1000, 1, 6, 1.0476300262, -1.8849912525, 0.8566564609, -1.8849912525, 0.9042864871},
  };
  for (const Case& c : cases) {
    EqBand b = compiled(c.kind, c.freq, c.q, c.gain, c.rate);
    EXPECT_EQ(b.is_linear, 0);
    EXPECT_NEAR(b.b0, c.b0, 1e-6) << c.kind;
    EXPECT_NEAR(b.b1, c.b1, 1e-6) << c.kind;
    EXPECT_NEAR(b.b2, c.b2, 1e-6) << c.kind;
    EXPECT_NEAR(b.a1, c.a1, 1e-6) << c.kind;
    EXPECT_NEAR(b.a2, c.a2, 1e-6) << c.kind;
    EXPECT_EQ(b.x1, 0);
  }
}

TEST(EqCompile, EachKindHasItsResponse) {
  struct Case {
    const char* kind;
    double gain;
    double at;        // Hz
    double want_db;   // response there
    double tol;
  } cases[] = {
      {"bq_lowpass", 0, 10, 0, 0.01},       {"bq_lowpass", 0, 20000, -70, 10},
      {"bq_highpass", 0, 23000, 0, 0.1},    {"bq_highpass", 0, 10, -80, 30},
      {"bq_bandpass", 0, 1000, 0, 0.01},    {"bq_bandpass", 0, 100, -20, 5},
      {"bq_notch", 0, 1000, -120, 80},      {"bq_notch", 0, 10000, 0, 0.2},
      {"bq_allpass", 0, 300, 0, 0.01},      {"bq_allpass", 0, 5000, 0, 0.01},
      {"bq_lowshelf", 9, 5, 9, 0.05},       {"bq_lowshelf", 9, 20000, 0, 0.1},
      {"bq_highshelf", -9, 23900, -9, 0.1}, {"bq_highshelf", -9, 5, 0, 0.05},
      {"peaking", 12, 1000, 12, 0.01},      {"", -6, 1000, -6, 0.01},  // unknown kinds peak
      {"bq_nonsense", 6, 1000, 6, 0.01},    {"peaking", 12, 15000, 0, 0.2},
  };
  for (const Case& c : cases) {
    const EqBand b = compiled(c.kind, 1000, 1, c.gain);
    EXPECT_NEAR(response_db(b, c.at, 48000), c.want_db, c.tol) << c.kind << " at " << c.at;
  }
}

TEST(EqCompile, ClampsAndLinear) {
  // Above 0.49 of the rate the frequency sits at 0.49 of it; below 1 Hz at 1 Hz;
  // Q at least 0.0001.
  struct Case {
    double freq, q;
    double same_freq, same_q;
  } cases[] = {{30000, 1, 0.49 * 48000, 1}, {0, 1, 1, 1}, {-5, 1, 1, 1}, {1000, 0, 1000, 0.0001}, {1000, -3, 1000, 0.0001}};
  for (const Case& c : cases) {
    EqBand a = compiled("bq_lowpass", c.freq, c.q, 0), b = compiled("bq_lowpass", c.same_freq, c.same_q, 0);
    EXPECT_EQ(a.b0, b.b0) << c.freq << "," << c.q;
    EXPECT_EQ(a.a1, b.a1) << c.freq << "," << c.q;
    EXPECT_EQ(a.a2, b.a2) << c.freq << "," << c.q;
  }
  // A linear filter scales by a plain factor whatever its frequency and Q.
  std::vector<EqBand> bands = {compiled("linear", 12345, 0.3, 0.5)};
  for (float x : {1.0f, -0.25f, 0.8f}) EXPECT_FLOAT_EQ(eq_run(bands, x), x * 0.5f);
  EXPECT_EQ(bands[0].x1, 0);  // a linear band keeps no state
}

TEST(EqRun, ChainsBandsAndFiltersSound) {
  // A -24 dB peak at 1 kHz lowers a 1 kHz tone and leaves 100 Hz alone.
  std::vector<EqBand> cut = {compiled("peaking", 1000, 2, -24)};
  EXPECT_LT(rms_after(cut, 1000, 48000), 0.707 * 0.1);
  EXPECT_NEAR(rms_after(cut, 100, 48000), 0.707, 0.02);
  // Bands run in order, each fed by the one before.
  std::vector<EqBand> two = {compiled("linear", 0, 1, 0.5), compiled("linear", 0, 1, 0.5)};
  EXPECT_FLOAT_EQ(eq_run(two, 1.0f), 0.25f);
  std::vector<EqBand> none;
  EXPECT_FLOAT_EQ(eq_run(none, 0.3f), 0.3f);
}

TEST(EqRun, NonFiniteSampleDoesNotSilenceTheChannelForGood) {
  std::vector<EqBand> bands = {compiled("peaking", 1000, 1, 6)};
  eq_run(bands, 0.5f);
  EXPECT_EQ(eq_run(bands, std::numeric_limits<float>::quiet_NaN()), 0.0f);
  float y = 0;
  for (int i = 0; i < 100; ++i) y = eq_run(bands, 0.5f);
  EXPECT_TRUE(std::isfinite(y));
  EXPECT_NEAR(y, 0.5f, 0.05f);  // a peak filter passes DC
}

TEST(EqNumbers, NonFiniteAndHugeReadAsDefaults) {
  struct Case {
    const char* text;
    double fallback, want;
  } cases[] = {
      {"440", 1000, 440}, {"abc", 1000, 0},  // no number reads as 0, as atof does
      {"nan", 1000, 1000}, {"-inf", 0, 0},  {"inf", 1, 1},     {"1e308", 0, 0},
      {"1e999", 1000, 1000}, {" 2.5x", 0, 2.5}, {"-1e7", 0, 0}, {"", 1, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(eq_number(c.text, c.fallback), c.want) << c.text;
}

TEST(EqParse, FiltersFromTheLine) {
  auto f = eq_parse_filters("bq_lowpass,200,0.7,0\t\tbad,1,2\tpeaking,1000,1,6,-3\tpeaking,500,1,2,\tx,nan,inf,1e400,nan");
  ASSERT_EQ(f.size(), 4u);  // the empty field and the three-piece one are skipped
  EXPECT_EQ(f[0].kind, "bq_lowpass");
  EXPECT_EQ(f[0].freq, 200);
  EXPECT_EQ(f[0].q, 0.7);
  EXPECT_FALSE(f[0].has_gain_right);
  EXPECT_EQ(f[1].gain, 6);
  EXPECT_TRUE(f[1].has_gain_right);
  EXPECT_EQ(f[1].gain_right, -3);
  // An empty fifth piece leaves the right channel on the left gain.
  EXPECT_FALSE(f[2].has_gain_right);
  EXPECT_EQ(f[2].gain_right, 2);
  // nan, inf and huge numbers read as each field's default.
  EXPECT_EQ(f[3].freq, 1000);
  EXPECT_EQ(f[3].q, 1);
  EXPECT_EQ(f[3].gain, 0);
  EXPECT_EQ(f[3].gain_right, 0);

  std::string forty;
  for (int i = 0; i < 40; ++i) forty += "peaking," + std::to_string(100 + i) + ",1,0\t";
  auto many = eq_parse_filters(forty);
  ASSERT_EQ(many.size(), 32u);
  EXPECT_EQ(many[31].freq, 131);
}

TEST(EqBalance, Gains) {
  struct Case {
    double balance;
    float left, right;
  } cases[] = {{0, 1, 1},  {0.5, 0.5f, 1}, {-2, 1, 0},   {2, 0, 1},
               {-0.25, 1, 0.75f}, {std::nan(""), 1, 1}, {INFINITY, 1, 1}};
  for (const Case& c : cases) {
    float l = -1, r = -1;
    eq_balance_gains(c.balance, l, r);
    EXPECT_FLOAT_EQ(l, c.left) << c.balance;
    EXPECT_FLOAT_EQ(r, c.right) << c.balance;
  }
}

TEST(EqPublish, KeepsDelayStateOnlyWhenAskedAndFinite) {
  EqChain chain;
  std::vector<EqFilter> filters = {{"peaking", 1000, 1, 6}, {"bq_lowpass", 500, 1, 0}};
  eq_publish(chain, filters, 0, 48000, false);
  for (int i = 0; i < 10; ++i) eq_run(chain.bands[0], 0.5f);
  const float y1 = chain.bands[0][1].y1;
  ASSERT_NE(y1, 0);
  chain.bands[1][0].y1 = std::nanf("");  // a poisoned right channel

  filters[0].gain = -6;
  eq_publish(chain, filters, 0.5, 48000, true);
  EXPECT_EQ(chain.bands[0][1].y1, y1);
  EXPECT_EQ(chain.bands[1][0].y1, 0);  // not carried into the new chain
  EXPECT_FLOAT_EQ(chain.gain[0], 0.5f);
  EXPECT_FLOAT_EQ(chain.gain[1], 1);
  EXPECT_NEAR(response_db(chain.bands[0][0], 1000, 48000), -6, 0.01);

  eq_publish(chain, filters, 0, 48000, false);
  EXPECT_EQ(chain.bands[0][1].y1, 0);

  // A right gain of its own compiles the right channel apart.
  filters[0].has_gain_right = true;
  filters[0].gain_right = 3;
  eq_publish(chain, filters, 0, 48000, false);
  EXPECT_NEAR(response_db(chain.bands[0][0], 1000, 48000), -6, 0.01);
  EXPECT_NEAR(response_db(chain.bands[1][0], 1000, 48000), 3, 0.01);
}

TEST(EqPublish, SwapsWhileTheAudioThreadRuns) {
  // The filtering thread and publishing run at once; the flag keeps them apart
  // (a race here shows under the thread sanitizer, or as a crash).
  EqChain chain;
  std::vector<EqFilter> a(32, EqFilter{"peaking", 1000, 1, 3}), b(3, EqFilter{"linear", 0, 1, 0.5});
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    std::vector<float> in(1024, 0.1f), out(1024);
    while (!stop) {
      AudioBuf i{in.data(), 2, in.size() * 4}, o{out.data(), 2, out.size() * 4};
      eq_process(chain, true, &i, 1, &o, 1);
      for (float v : out) ASSERT_TRUE(std::isfinite(v));
    }
  });
  for (int k = 0; k < 2000; ++k) eq_publish(chain, k % 2 ? a : b, 0, 48000, true);
  stop = true;
  audio.join();
}

TEST(EqProcess, Buffers) {
  EqChain chain;
  eq_publish(chain, {{"linear", 0, 1, 0.5}}, 0.5, 48000, false);  // x0.5, left x0.5 more
  // Interleaved stereo in and out.
  std::vector<float> in = {1, 1, -1, 0.5f}, out(6, 9);
  AudioBuf i{in.data(), 2, in.size() * 4}, o{out.data(), 2, out.size() * 4};
  EXPECT_TRUE(eq_process(chain, true, &i, 1, &o, 1));
  EXPECT_EQ(out, (std::vector<float>{0.25f, 0.5f, -0.25f, 0.25f, 0, 0}));  // frames past the input are silent
  // Waiting: silent output, but the sound is heard.
  std::fill(out.begin(), out.end(), 9);
  EXPECT_TRUE(eq_process(chain, false, &i, 1, &o, 1));
  EXPECT_EQ(out, std::vector<float>(6, 0));
  // Silence is not heard; nan is.
  std::vector<float> quiet(4, 0), nan = {0, std::nanf(""), 0, 0};
  AudioBuf q{quiet.data(), 2, 16}, n{nan.data(), 2, 16};
  EXPECT_FALSE(eq_process(chain, false, &q, 1, &o, 1));
  EXPECT_TRUE(eq_process(chain, false, &n, 1, &o, 1));
  // While the chain is being swapped the buffer passes dry.
  chain.busy.test_and_set();
  EXPECT_TRUE(eq_process(chain, true, &i, 1, &o, 1));
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[3], 0.5f);
  chain.busy.clear();
  // Planar lists: buffer 0 is the left channel, 1 the right; more buffers are zeroed.
  std::vector<float> l = {1, 1}, r = {-1, -1}, ol(2), or_(2), extra(2, 9);
  AudioBuf pin[2] = {{l.data(), 1, 8}, {r.data(), 1, 8}};
  AudioBuf pout[3] = {{ol.data(), 1, 8}, {or_.data(), 1, 8}, {extra.data(), 1, 8}};
  eq_process(chain, true, pin, 2, pout, 3);
  EXPECT_EQ(ol, (std::vector<float>{0.25f, 0.25f}));
  EXPECT_EQ(or_, (std::vector<float>{-0.5f, -0.5f}));
  EXPECT_EQ(extra, (std::vector<float>{0, 0}));
  // No input list: silence out.
  std::fill(out.begin(), out.end(), 9);
  EXPECT_FALSE(eq_process(chain, true, nullptr, 0, &o, 1));
  EXPECT_EQ(out, std::vector<float>(6, 0));
}

TEST(Tap, SampleConversion) {
  struct Case {
    float in;
    int16_t out;
  } cases[] = {{0, 0}, {1.5f, 32767}, {-2.0f, -32767}, {1, 32767}, {-1, -32767}, {0.5f, 16384},  // 16383.5 to even
               {-0.5f, -16384}, {std::nanf(""), 0}, {INFINITY, 32767}, {-INFINITY, -32767}};
  for (const Case& c : cases) EXPECT_EQ(tap_sample(c.in), c.out) << c.in;
}

TEST(Tap, PlanarBuffersAreInterleaved) {
  std::vector<float> l = {0.5f, 1}, r = {-0.5f, -1}, inter = {0.25f, -0.25f};
  std::vector<int16_t> pcm;
  AudioBuf one{inter.data(), 2, 8};
  tap_append(pcm, &one, 1);
  AudioBuf planar[2] = {{l.data(), 1, 8}, {r.data(), 1, 8}};
  tap_append(pcm, planar, 2);
  EXPECT_EQ(pcm, (std::vector<int16_t>{8192, -8192, 16384, -16384, 32767, -32767}));
}

TEST(Tap, EventLine) {
  std::vector<int16_t> pcm(960, 0);
  pcm[0] = 1;
  pcm[1] = -2;
  const std::string line = tap_event_line(pcm, 44100.9, 2, 12.345);
  ASSERT_EQ(line.rfind("AUDIOTAP ", 0), 0u);
  const size_t tab = line.find('\t');
  EXPECT_EQ(line.substr(tab), "\t44100\t2\t480\t12.3");
  auto bytes = base64_decode(line.substr(9, tab - 9));
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 1920u);
  EXPECT_EQ((*bytes)[0], '\x01');
  EXPECT_EQ((*bytes)[1], '\x00');
  EXPECT_EQ((*bytes)[2], '\xfe');
  EXPECT_EQ((*bytes)[3], '\xff');
  // Every length of tail pads right, and odd channel counts truncate frames.
  for (size_t n : {1u, 2u, 3u}) {
    std::vector<int16_t> s(n, 0x4142);
    auto b = base64_decode(tap_base64(s));
    ASSERT_TRUE(b) << n;
    EXPECT_EQ(b->size(), n * 2);
  }
  EXPECT_NE(tap_event_line(std::vector<int16_t>(7), 48000, 3, 0).find("\t48000\t3\t2\t0.0"), std::string::npos);
  EXPECT_NE(tap_event_line(std::vector<int16_t>(4), 48000, 0, 0).find("\t0\t4\t"), std::string::npos);
}
