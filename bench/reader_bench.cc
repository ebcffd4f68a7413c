// Reader throughput: lines per second cut, parsed and handed over to the GLib
// main queue (handlers are not run inside the timed part), on a mix of replies
// with JSON payloads, script evaluation, queries and menu building.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "app/command_table.h"
#include "core/reader.h"
#include "platform/fake/fake_platform.h"
#include "platform/gtk/glib_loop.h"

namespace {

std::string make_mix(size_t lines, size_t* count) {
  std::mt19937 rng(42);
  std::string out;
  size_t n = 0;
  while (n < lines) {
    unsigned pick = rng() % 100;
    if (pick < 45) {
      out += "RET main:" + std::to_string(n) + " 0 {\"ok\":true,\"items\":[{\"id\":" + std::to_string(rng() % 1000) +
             ",\"name\":\"Document " + std::to_string(n) + "\",\"size\":12345,\"tags\":[\"a\",\"b\"]}],\"total\":1}\n";
      ++n;
    } else if (pick < 65) {
      out += "EVAL window.__emit({event:\"progress\",data:{value:" + std::to_string(rng() % 100) +
             ",label:\"Copying\\tfile\\n\"}})\n";
      ++n;
    } else if (pick < 80) {
      out += "GET g" + std::to_string(n) + " windows\n";
      ++n;
    } else {
      out += "MENUBEGIN\nMENU File\nITEM new\tNew\tcmd+n\nITEM open\tOpen…\tcmd+o\nSEP\nSUB recent\tRecent\n"
             "ITEM r1\tOne\nSUBEND\nMENUROLE edit\nMENUEND\n";
      n += 10;
    }
  }
  *count = n;
  return out;
}

platform::gtk::GlibMainQueue* g_queue;

void BM_ReaderMix(benchmark::State& state) {
  static size_t lines = 0;
  static const std::string mix = make_mix(100000, &lines);
  CommandReader reader;
  for (auto _ : state) {
    for (size_t off = 0; off < mix.size(); off += 4096)
      reader.feed(mix.data() + off, std::min<size_t>(4096, mix.size() - off));
    state.PauseTiming();
    g_queue->run_pending();  // frees the records
    state.ResumeTiming();
  }
  state.counters["lines_per_second"] =
      benchmark::Counter(double(lines) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReaderMix)->Unit(benchmark::kMillisecond)->MinTime(2.0);

class Capture : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so the last line reads plainly in a log.
  Capture() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("lines_per_second");
      if (it != r.counters.end()) rate = it->second.value;
    }
  }
  double rate = 0;
};


}  // namespace

int main(int argc, char** argv) {
  platform::gtk::GlibMainQueue queue;
  g_queue = &queue;
  // The fake desktop for everything but the queue, which is the host's own.
  struct QueueOnly : platform::fake::FakePlatform {
    platform::gtk::GlibMainQueue* q;
    platform::MainQueue& main_queue() override { return *q; }
  } p;
  p.q = &queue;
  platform::install(&p);
  install_command_table(app_command_table());
  benchmark::Initialize(&argc, argv);
  Capture reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("reader: %.2f M lines/s parsed and handed over on one core (goal ≥ 20 M)\n", reporter.rate / 1e6);
  return 0;
}
