#pragma once
// One-shot and repeating timers on the main thread, and background serial queues.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

using TimerId = std::uint64_t;

class Timers {
 public:
  virtual ~Timers() = default;
  // Runs fn once on the main thread after ms milliseconds; 0 is never a valid id.
  virtual TimerId once(double ms, std::function<void()> fn) = 0;
  // Runs fn every ms milliseconds on the main thread until cancelled.
  virtual TimerId repeating(double ms, std::function<void()> fn) = 0;
  // Cancelling an unknown or finished timer does nothing.
  virtual void cancel(TimerId id) = 0;
  // Monotonic clock in milliseconds.
  virtual double now_ms() = 0;
};

// Runs submitted work off the main thread, one item at a time, in order.
class SerialQueue {
 public:
  virtual ~SerialQueue() = default;
  virtual void post(std::function<void()> fn) = 0;
};

}  // namespace platform
