#include "platform/common/run_handler.h"

#include <cstdio>
#include <exception>

namespace platform {

void run_handler(HandlerFn handler, void* w, void* record) noexcept {
  try {
    handler(w, record);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quibex: a command failed: %s\n", e.what());
  } catch (...) {
    std::fputs("quibex: a command failed\n", stderr);
  }
}

}  // namespace platform
