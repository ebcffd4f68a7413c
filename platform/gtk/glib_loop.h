#pragma once
// The main queue, timers and serial queues on GLib; needs no display.

#include <glib.h>

#include <atomic>
#include <mutex>
#include <vector>

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
  void post_batch(const QueuedItem* items, size_t n) override;
  using MainQueue::post;
  void run() override;
  void quit() override;
  void release() override;
  // Runs queued items until the queue is empty; for code that owns no loop.
  size_t run_pending();

 private:
  struct Source;
  static gboolean prepare(GSource* s, gint* timeout);
  static gboolean check(GSource* s);
  static gboolean dispatch(GSource* s, GSourceFunc, gpointer);
  bool pop(QueuedItem& out);
  void added(size_t n);

  // Posting threads append to incoming_ under mu_; the main thread takes all of
  // it at once into running_ and runs from there without the lock. A handler's
  // nested loop goes on from next_, so the order holds at every depth.
  std::mutex mu_;
  std::vector<QueuedItem> incoming_;
  std::vector<QueuedItem> running_;
  size_t next_ = 0;
  std::atomic<size_t> count_{0};  // items in both
  GMainContext* ctx_;             // the default one
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
