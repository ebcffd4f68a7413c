#pragma once
// The main queue, timers and serial queues on GLib; needs no display.

#include <glib.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/gtk/glib_ptr.h"
#include "platform/main_queue.h"
#include "platform/timers.h"

namespace platform::gtk {

// A GSource on the default main context. Posting from any thread wakes the
// context; items run one at a time in posting order, also inside nested loops
// (modal dialogs), and share the loop fairly with other sources.
class GlibMainQueue : public MainQueue {
 public:
  GlibMainQueue();
  ~GlibMainQueue() override;
  void post(HandlerFn handler, void* w, void* record) override;
  using MainQueue::post;
  void run() override;
  void quit() override;
  void release() override;
  // Runs queued items until the queue is empty; for code that owns no loop.
  size_t run_pending();

 private:
  struct Item {
    HandlerFn handler;
    void* w;
    void* record;
  };
  struct Source;
  static gboolean prepare(GSource* s, gint* timeout);
  static gboolean check(GSource* s);
  static gboolean dispatch(GSource* s, GSourceFunc, gpointer);
  bool pop(Item& out);

  std::mutex mu_;
  std::deque<Item> items_;
  std::atomic<size_t> count_{0};
  GMainContext* ctx_;  // the default one
  GPtr<GSource> source_;
  GPtr<GMainLoop> loop_;
};

class GlibTimers : public Timers {
 public:
  TimerId once(double ms, std::function<void()> fn) override;
  TimerId repeating(double ms, std::function<void()> fn) override;
  void cancel(TimerId id) override;
  double now_ms() override;
};

// A worker thread fed in order through a GAsyncQueue.
class GlibSerialQueue : public SerialQueue {
 public:
  explicit GlibSerialQueue(const char* name);
  ~GlibSerialQueue() override;
  void post(std::function<void()> fn) override;

 private:
  static gpointer run(gpointer self);
  GPtr<GAsyncQueue> queue_;
  GThread* thread_;  // joined as this goes
};

}  // namespace platform::gtk
