// What the interfaces carry besides their pure virtual operations.

#include "platform/platform.h"

#include <memory>

namespace platform {

namespace {

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

}  // namespace platform
