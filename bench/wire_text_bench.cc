// Throughput of the text helpers a page call's payload goes through, on 1 MB and
// 10 MB inputs: prose (long runs with nothing to escape), JSON-like ASCII (a quote
// every few bytes), and text with escapes, multi-byte characters and, for the
// repair, ill-formed bytes here and there.
//   build/bench/wire_text_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "base/json_out.h"
#include "base/utf8.h"
#include "base/wire_text.h"

namespace {

enum Kind { kProse, kAscii, kMixed, kBroken };

// JSON-like text; kMixed adds a tab, a line break, quotes, a backslash and a
// multi-byte character every few dozen bytes, kBroken also a byte that is no UTF-8.
std::string make_text(size_t n, Kind kind) {
  static const char* const kWords[] = {"{\"id\":", "12345", ",\"name\":", "Document", " file ", "path/to/it"};
  static const char* const kProseWords[] = {"the ", "payload ", "of a ", "page call, ", "sent ", "back. "};
  static const char* const kOdd[] = {"\t", "\n", "\\", "\"", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\r"};
  std::mt19937 rng(5);
  std::string s;
  s.reserve(n + 16);
  while (s.size() < n) {
    if (kind == kProse) {
      s += kProseWords[rng() % std::size(kProseWords)];
      continue;
    }
    s += kWords[rng() % std::size(kWords)];
    if (kind == kAscii) continue;
    if (rng() % 3 == 0) s += kOdd[rng() % std::size(kOdd)];
    if (kind == kBroken && rng() % 40 == 0) s += '\xff';
  }
  s.resize(n);
  return s;
}

const std::string& input(size_t n, Kind kind) {
  static std::string cache[2][4];
  std::string& s = cache[n > (size_t(1) << 20)][kind];
  if (s.size() != n) s = make_text(n, kind);
  return s;
}

template <class F>
void run(benchmark::State& state, Kind kind, F f) {
  const std::string& in = input(size_t(state.range(0)), kind);
  for (auto _ : state) benchmark::DoNotOptimize(f(in));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void BM_WireEscape(benchmark::State& s, Kind k) { run(s, k, [](const std::string& in) { return wire_escape(in); }); }
void BM_WireUnescape(benchmark::State& s, Kind k) {
  // Escaped text, as it comes off the wire.
  static std::string escaped[2][4];
  std::string& e = escaped[s.range(0) > (1 << 20)][k];
  if (e.empty()) e = wire_escape(input(size_t(s.range(0)), k));
  for (auto _ : s) benchmark::DoNotOptimize(wire_unescape(e));
  s.SetBytesProcessed(int64_t(s.iterations()) * int64_t(e.size()));
}
void BM_Utf8Valid(benchmark::State& s, Kind k) { run(s, k, [](const std::string& in) { return utf8_valid(in); }); }
void BM_Utf8Sanitize(benchmark::State& s, Kind k) {
  run(s, k, [](const std::string& in) { return utf8_sanitize(in); });
}
void BM_JsonEscape(benchmark::State& s, Kind k) { run(s, k, [](const std::string& in) { return json_escape(in); }); }

#define SIZES ->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond)
BENCHMARK_CAPTURE(BM_WireEscape, prose, kProse) SIZES;
BENCHMARK_CAPTURE(BM_WireEscape, ascii, kAscii) SIZES;
BENCHMARK_CAPTURE(BM_WireEscape, mixed, kMixed) SIZES;
BENCHMARK_CAPTURE(BM_WireUnescape, ascii, kAscii) SIZES;
BENCHMARK_CAPTURE(BM_WireUnescape, mixed, kMixed) SIZES;
BENCHMARK_CAPTURE(BM_Utf8Valid, prose, kProse) SIZES;
BENCHMARK_CAPTURE(BM_Utf8Valid, ascii, kAscii) SIZES;
BENCHMARK_CAPTURE(BM_Utf8Valid, mixed, kMixed) SIZES;
BENCHMARK_CAPTURE(BM_Utf8Sanitize, ascii, kAscii) SIZES;
BENCHMARK_CAPTURE(BM_Utf8Sanitize, mixed, kMixed) SIZES;
BENCHMARK_CAPTURE(BM_Utf8Sanitize, broken, kBroken) SIZES;
BENCHMARK_CAPTURE(BM_JsonEscape, prose, kProse) SIZES;
BENCHMARK_CAPTURE(BM_JsonEscape, ascii, kAscii) SIZES;
BENCHMARK_CAPTURE(BM_JsonEscape, mixed, kMixed) SIZES;

}  // namespace

BENCHMARK_MAIN();
