#pragma once
// The main thread's queue: every command handler and every desktop call runs there.

#include <cstddef>
#include <functional>

namespace platform {

// A command handler as the reader hands it over: handler(w, record).
using HandlerFn = void (*)(void* w, void* record);

// One item of the queue: handler(w, record) once it runs.
struct QueuedItem {
  HandlerFn handler;
  void* w;
  void* record;
};

class MainQueue {
 public:
  virtual ~MainQueue() = default;
  // Thread-safe; returns at once. Items run one at a time on the main thread,
  // in the order in which they were posted, each through run_handler
  // (platform/common/run_handler.h), so no exception leaves one.
  virtual void post(HandlerFn handler, void* w, void* record) = 0;
  // Thread-safe; returns at once. Posts n items as n posts in their order would,
  // in one step, so that nothing posted meanwhile comes between them; a reader
  // hands over what one read brought without a lock and a wake-up per item.
  virtual void post_batch(const QueuedItem* items, size_t n) = 0;
  void post(std::function<void()> fn);
  // Runs the main loop until quit() is called.
  virtual void run() = 0;
  // Ends run() as soon as the running item returns; callable from the main thread.
  virtual void quit() = 0;

  // While held, queued items wait and the loop itself goes on (input, timers,
  // D-Bus answers): a handler that waits for the desktop keeps the commands
  // behind it from overtaking it. Holds nest; main thread only.
  void hold() { ++holds_; }
  virtual void release() {
    if (holds_ > 0) --holds_;
  }
  bool held() const { return holds_ > 0; }

 private:
  int holds_ = 0;
};

}  // namespace platform
