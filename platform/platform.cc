#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
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

void run_handler(HandlerFn handler, void* w, void* record) noexcept {
  try {
    handler(w, record);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quibex: a command failed: %s\n", e.what());
  } catch (...) {
    std::fputs("quibex: a command failed\n", stderr);
  }
}

void MainQueue::post(std::function<void()> fn) {
  post(&run_fn, nullptr, new FnRecord{std::move(fn)});
}

bool PlistDict::boolean(const std::string& key) const {
  auto b = bools.find(key);
  if (b != bools.end()) return b->second;
  auto s = strings.find(key);
  if (s == strings.end()) return false;
  // Leading white space, then Y/y/T/t or a non-zero digit.
  const std::string& v = s->second;
  size_t i = v.find_first_not_of(" \t\n");
  if (i == std::string::npos) return false;
  char c = v[i];
  if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
  if (c == '+' || c == '-') ++i;
  while (i < v.size() && v[i] == '0') ++i;
  return i < v.size() && v[i] >= '1' && v[i] <= '9';
}

Platform& current() {
  if (!g_platform) {
    std::fputs("quibex: no platform installed\n", stderr);
    std::abort();
  }
  return *g_platform;
}

void install(Platform* p) { g_platform = p; }

// ---- the application instance ----
namespace {
AppInstance* g_app_instance = nullptr;
}
AppInstance* app_instance() { return g_app_instance; }
void install_app_instance(AppInstance* instance) { g_app_instance = instance; }

}  // namespace platform
