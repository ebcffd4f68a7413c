#include "platform/gtk/glib_loop.h"

#include <cstdio>
#include <functional>
#include <memory>

#include "platform/common/run_handler.h"

namespace platform::gtk {

struct GlibMainQueue::Source {
  GSource base;
  GlibMainQueue* queue;
};

GlibMainQueue::GlibMainQueue() {
  static GSourceFuncs funcs = {&GlibMainQueue::prepare, &GlibMainQueue::check,
                               &GlibMainQueue::dispatch, nullptr, nullptr, nullptr};
  ctx_ = g_main_context_default();
  source_.reset(g_source_new(&funcs, sizeof(Source)));
  GSource* s = source_.get();
  reinterpret_cast<Source*>(s)->queue = this;
  g_source_set_priority(s, G_PRIORITY_DEFAULT);
  g_source_set_can_recurse(s, TRUE);  // keep serving inside modal loops
  g_source_set_name(s, "quibex main queue");
  g_source_attach(s, ctx_);
  loop_.reset(g_main_loop_new(ctx_, FALSE));
}

GlibMainQueue::~GlibMainQueue() { g_source_destroy(source_.get()); }

void GlibMainQueue::post(HandlerFn handler, void* w, void* record) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    incoming_.push_back({handler, w, record});
  }
  added(1);
}

void GlibMainQueue::post_batch(const QueuedItem* items, size_t n) {
  if (n == 0) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    incoming_.insert(incoming_.end(), items, items + n);
  }
  added(n);
}

void GlibMainQueue::added(size_t n) {
  // Only the first items after an empty queue need to wake the loop.
  if (count_.fetch_add(n, std::memory_order_acq_rel) == 0) g_main_context_wakeup(ctx_);
}

bool GlibMainQueue::pop(QueuedItem& out) {
  if (next_ == running_.size()) {
    // A flood's worth of room is not kept for good.
    if (running_.capacity() > 4096) {
      std::vector<QueuedItem>().swap(running_);
    } else {
      running_.clear();
    }
    next_ = 0;
    std::lock_guard<std::mutex> lock(mu_);
    if (incoming_.empty()) return false;
    running_.swap(incoming_);
  }
  out = running_[next_++];
  count_.fetch_sub(1, std::memory_order_acq_rel);
  return true;
}

gboolean GlibMainQueue::prepare(GSource* s, gint* timeout) {
  *timeout = -1;
  GlibMainQueue* q = reinterpret_cast<Source*>(s)->queue;
  return !q->held() && q->count_.load(std::memory_order_acquire) > 0;
}

gboolean GlibMainQueue::check(GSource* s) {
  GlibMainQueue* q = reinterpret_cast<Source*>(s)->queue;
  return !q->held() && q->count_.load(std::memory_order_acquire) > 0;
}

gboolean GlibMainQueue::dispatch(GSource* s, GSourceFunc, gpointer) {
  GlibMainQueue* q = reinterpret_cast<Source*>(s)->queue;
  // A time slice, so that a flood of commands cannot starve input and drawing.
  const gint64 deadline = g_get_monotonic_time() + 8000;
  QueuedItem it;
  for (int n = 0; !q->held() && q->pop(it); ++n) {
    run_handler(it.handler, it.w, it.record);
    if ((n & 31) == 31 && g_get_monotonic_time() > deadline) break;
  }
  return G_SOURCE_CONTINUE;
}

void GlibMainQueue::run() { g_main_loop_run(loop_.get()); }

void GlibMainQueue::quit() { g_main_loop_quit(loop_.get()); }

void GlibMainQueue::release() {
  MainQueue::release();
  if (!held()) g_main_context_wakeup(ctx_);
}

size_t GlibMainQueue::run_pending() {
  size_t n = 0;
  QueuedItem it;
  while (!held() && pop(it)) {
    run_handler(it.handler, it.w, it.record);
    ++n;
  }
  return n;
}

namespace {

struct TimerData {
  std::function<void()> fn;
  bool repeat;
};

gboolean fire_timer(gpointer p) {
  auto* d = static_cast<TimerData*>(p);
  try {
    d->fn();
  } catch (...) {
    std::fputs("quibex: a timer failed\n", stderr);
  }
  return d->repeat ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void free_timer(gpointer p) { delete static_cast<TimerData*>(p); }

TimerId add_timer(double ms, std::function<void()> fn, bool repeat) {
  guint interval = ms <= 0 ? 0 : static_cast<guint>(ms + 0.5);
  return g_timeout_add_full(G_PRIORITY_DEFAULT, interval, &fire_timer,
                            new TimerData{std::move(fn), repeat}, &free_timer);
}

}  // namespace

TimerId GlibTimers::once(double ms, std::function<void()> fn) { return add_timer(ms, std::move(fn), false); }

TimerId GlibTimers::repeating(double ms, std::function<void()> fn) {
  return add_timer(ms, std::move(fn), true);
}

void GlibTimers::cancel(TimerId id) {
  if (id == 0) return;
  GSource* s = g_main_context_find_source_by_id(nullptr, static_cast<guint>(id));
  if (s) g_source_destroy(s);
}

double GlibTimers::now_ms() { return g_get_monotonic_time() / 1000.0; }

namespace {
struct Job {
  std::function<void()> fn;
};
Job* const kStop = reinterpret_cast<Job*>(1);
}  // namespace

GlibSerialQueue::GlibSerialQueue(const char* name) : queue_(g_async_queue_new()) {
  thread_ = g_thread_new(name, &GlibSerialQueue::run, this);
}

GlibSerialQueue::~GlibSerialQueue() {
  g_async_queue_push(queue_.get(), kStop);
  g_thread_join(thread_);
}

void GlibSerialQueue::post(std::function<void()> fn) { g_async_queue_push(queue_.get(), new Job{std::move(fn)}); }

gpointer GlibSerialQueue::run(gpointer self) {
  auto* q = static_cast<GlibSerialQueue*>(self);
  for (;;) {
    auto* job = static_cast<Job*>(g_async_queue_pop(q->queue_.get()));
    if (job == kStop) return nullptr;
    std::unique_ptr<Job> owned(job);
    owned->fn();
  }
}

}  // namespace platform::gtk
