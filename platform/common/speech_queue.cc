#include "platform/speech.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace platform {

namespace {

std::string tag_key(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string primary(const std::string& tag) { return tag.substr(0, tag.find('-')); }

std::mutex g_speech_mu;
std::function<std::unique_ptr<SpeechQueue>()> g_factory;
std::unique_ptr<SpeechQueue> g_speech;
// A lock of its own: the speech factory asks for an output while g_speech_mu is held.
std::mutex g_output_mu;
std::function<std::unique_ptr<SpeechOutput>()> g_output_factory;

}  // namespace

std::optional<Voice> pick_voice(const std::vector<Voice>& voices, const std::string& wanted) {
  if (wanted.empty()) return std::nullopt;
  for (const Voice& v : voices)
    if (v.id == wanted) return v;
  const std::string key = tag_key(wanted);
  for (const Voice& v : voices)
    if (tag_key(v.lang) == key) return v;
  // "en" finds an English voice; "en-XX" one of English when no voice has the region.
  for (const Voice& v : voices)
    if (primary(tag_key(v.lang)) == primary(key)) return v;
  return std::nullopt;
}

int speech_rate_wpm(double rate) {
  if (!(rate > 0)) return 175;
  if (rate <= 0.5) return int(std::lround(80 + rate / 0.5 * 95));
  return int(std::lround(175 + (std::min(rate, 1.0) - 0.5) / 0.5 * 275));
}

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

SpeechQueue* speech() {
  std::lock_guard<std::mutex> lock(g_speech_mu);
  if (!g_speech && g_factory) g_speech = g_factory();
  return g_speech.get();
}

SpeechQueue* running_speech() {
  std::lock_guard<std::mutex> lock(g_speech_mu);
  return g_speech.get();
}

void install_speech_factory(std::function<std::unique_ptr<SpeechQueue>()> factory) {
  std::lock_guard<std::mutex> lock(g_speech_mu);
  g_factory = std::move(factory);
}

void reset_speech() {
  std::unique_ptr<SpeechQueue> gone;
  {
    std::lock_guard<std::mutex> lock(g_speech_mu);
    gone.swap(g_speech);
  }
}

void install_speech_output(std::function<std::unique_ptr<SpeechOutput>()> make) {
  std::lock_guard<std::mutex> lock(g_output_mu);
  g_output_factory = std::move(make);
}

std::unique_ptr<SpeechOutput> make_speech_output() {
  std::lock_guard<std::mutex> lock(g_output_mu);
  return g_output_factory ? g_output_factory() : nullptr;
}

}  // namespace platform
