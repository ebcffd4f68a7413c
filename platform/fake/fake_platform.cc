#include "platform/fake/fake_platform.h"

#include "platform/common/run_handler.h"

namespace platform::fake {

void FakeMainQueue::post(HandlerFn handler, void* w, void* record) {
  std::lock_guard<std::mutex> lock(mu_);
  items_.push_back({handler, w, record});
}

void FakeMainQueue::post_batch(const QueuedItem* items, size_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  items_.insert(items_.end(), items, items + n);
}

size_t FakeMainQueue::drain() {
  size_t n = 0;
  for (;;) {
    Item it;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (items_.empty() || held()) return n;
      it = items_.front();
      items_.pop_front();
    }
    run_handler(it.handler, it.w, it.record);
    ++n;
  }
}

std::vector<FakeMainQueue::Item> FakeMainQueue::take() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Item> out(items_.begin(), items_.end());
  items_.clear();
  return out;
}

size_t FakeMainQueue::size() {
  std::lock_guard<std::mutex> lock(mu_);
  return items_.size();
}

void FakeMainQueue::run() {
  quit_requested_ = false;
  while (!quit_requested_) {
    Item it;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (items_.empty()) return;  // nothing can arrive in a single-threaded test
      it = items_.front();
      items_.pop_front();
    }
    run_handler(it.handler, it.w, it.record);
  }
}

TimerId FakeTimers::once(double ms, std::function<void()> fn) {
  TimerId id = next_++;
  timers_[id] = {now_ + ms, 0, std::move(fn)};
  return id;
}

TimerId FakeTimers::repeating(double ms, std::function<void()> fn) {
  TimerId id = next_++;
  timers_[id] = {now_ + ms, ms > 0 ? ms : 1, std::move(fn)};
  return id;
}

void FakeTimers::cancel(TimerId id) { timers_.erase(id); }

void FakeTimers::advance(double ms) {
  const double end = now_ + ms;
  for (;;) {
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (it->second.due <= end && (next == timers_.end() || it->second.due < next->second.due))
        next = it;
    if (next == timers_.end()) break;
    now_ = next->second.due;
    std::function<void()> fn = next->second.fn;
    if (next->second.period > 0)
      next->second.due += next->second.period;
    else
      timers_.erase(next);
    fn();
  }
  now_ = end;
}

void FakeSerialQueue::post(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mu_);
  items_.push_back(std::move(fn));
}

size_t FakeSerialQueue::drain() {
  size_t n = 0;
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (items_.empty()) return n;
      fn = std::move(items_.front());
      items_.pop_front();
    }
    fn();
    ++n;
  }
}

std::unique_ptr<SerialQueue> FakePlatform::make_serial_queue(const std::string&) {
  return std::make_unique<FakeSerialQueue>();
}

std::unique_ptr<NativeWindow> FakePlatform::make_window(const WindowParams& params) {
  if (fail_windows) return nullptr;
  auto w = std::make_unique<FakeWindow>(params, &app);
  windows.push_back(w.get());
  return w;
}

std::unique_ptr<WebView> FakePlatform::make_webview() {
  auto v = std::make_unique<FakeWebView>();
  v->registry = &webviews;
  v->write_root = write_root;
  webviews.push_back(v.get());
  return v;
}

std::unique_ptr<StatusItem> FakePlatform::make_status_item() {
  auto s = std::make_unique<FakeStatusItem>();
  status_items.push_back(s.get());
  return s;
}

// ---- the application instance ----

AppInstance::Role FakeAppInstance::claim(const std::string&, const std::vector<std::string>& args,
                                         std::string& error) {
  if (role == Role::kFailed) error = failure;
  if ((role == Role::kAlone || role == Role::kPrimary) && !args.empty()) {
    // This desktop reads an absolute path as a file and anything else as a URL.
    std::vector<OpenItem> items;
    for (const std::string& a : args) items.push_back({!a.empty() && a[0] == '/', a});
    request(std::move(items), false);
  }
  return role;
}

void FakeAppInstance::set_handlers(std::function<void(const std::vector<OpenItem>&)> open,
                                   std::function<void()> reopen) {
  open_ = std::move(open);
  reopen_ = std::move(reopen);
  std::vector<Request> early;
  early.swap(early_);
  for (Request& r : early) deliver(std::move(r));
}

void FakeAppInstance::request(std::vector<OpenItem> items, bool reopen) {
  Request r{std::move(items), reopen};
  if (!open_ && !reopen_) {
    early_.push_back(std::move(r));
    return;
  }
  deliver(std::move(r));
}

void FakeAppInstance::deliver(Request r) {
  current().main_queue().post([this, r = std::move(r)] {
    if (r.reopen) {
      if (reopen_) reopen_();
    } else if (open_) {
      open_(r.items);
    }
  });
}

}  // namespace platform::fake
