#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace platform {

namespace {
Platform* g_platform = nullptr;

struct FnRecord {
  std::function<void()> fn;
};

void run_fn(void*, void* record) {
  std::unique_ptr<FnRecord> r(static_cast<FnRecord*>(record));
  r->fn();
}
}  // namespace

void MainQueue::post(std::function<void()> fn) {
  post(&run_fn, nullptr, new FnRecord{std::move(fn)});
}

Platform& current() {
  if (!g_platform) {
    std::fputs("quibex: no platform installed\n", stderr);
    std::abort();
  }
  return *g_platform;
}

void install(Platform* p) { g_platform = p; }

}  // namespace platform
