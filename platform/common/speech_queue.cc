#include "platform/common/speech_queue.h"

namespace platform {

SpeechQueue::SpeechQueue(std::unique_ptr<SpeechEngine> engine) : engine_(std::move(engine)) {
  thread_ = std::thread([this] { run(); });
}

SpeechQueue::~SpeechQueue() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  stop_all();
  cv_.notify_all();
  thread_.join();
}

void SpeechQueue::speak(Utterance u, Done done) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    waiting_.emplace_back(std::move(u), std::move(done));
  }
  cv_.notify_all();
}

void SpeechQueue::stop_all() {
  std::deque<std::pair<Utterance, Done>> dropped;
  {
    std::lock_guard<std::mutex> lock(mu_);
    dropped.swap(waiting_);
    // Only the utterance being spoken sees the flag; the thread clears it before
    // it starts the next one.
    if (speaking_) cancel_ = true;
  }
  engine_->wake();  // a wake that comes after its utterance ended does no harm
  for (auto& item : dropped) item.second(false);
}

void SpeechQueue::run() {
  for (;;) {
    std::pair<Utterance, Done> item;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return quit_ || !waiting_.empty(); });
      if (waiting_.empty()) return;  // quitting
      item = std::move(waiting_.front());
      waiting_.pop_front();
      cancel_ = false;
      speaking_ = true;
    }
    const bool finished = engine_->speak(item.first, cancel_);
    {
      std::lock_guard<std::mutex> lock(mu_);
      speaking_ = false;
    }
    item.second(finished && !cancel_);
  }
}

}  // namespace platform
