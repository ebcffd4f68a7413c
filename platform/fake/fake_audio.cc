#include "platform/fake/fake_audio.h"

namespace platform::fake {

namespace {
class FakeStream : public AudioStream {
 public:
  explicit FakeStream(std::shared_ptr<FakeAudioServer::Running> r) : r_(std::move(r)) {}
  ~FakeStream() override { r_->alive = false; }

 private:
  std::shared_ptr<FakeAudioServer::Running> r_;
};
}  // namespace

std::unique_ptr<AudioStream> FakeAudioServer::capture(AudioScope scope, AudioFormat& f, Samples fn, int& status) {
  if (fail_status) {
    status = fail_status;
    return nullptr;
  }
  auto r = std::make_shared<Running>();
  r->scope = scope;
  r->samples = std::move(fn);
  made.push_back(r);
  f = format;
  return std::make_unique<FakeStream>(r);
}

std::unique_ptr<AudioStream> FakeAudioServer::filter(AudioScope scope, AudioFormat& f, Filter fn, int& status) {
  if (fail_status) {
    status = fail_status;
    return nullptr;
  }
  auto r = std::make_shared<Running>();
  r->filter = true;
  r->scope = scope;
  r->fn = std::move(fn);
  made.push_back(r);
  f = format;
  return std::make_unique<FakeStream>(r);
}

FakeAudioServer::Running* FakeAudioServer::live() {
  for (auto it = made.rbegin(); it != made.rend(); ++it)
    if ((*it)->alive) return it->get();
  return nullptr;
}

int FakeAudioServer::live_count() const {
  int n = 0;
  for (auto& r : made) n += r->alive;
  return n;
}

std::vector<float> FakeAudioServer::feed(const std::vector<float>& in) {
  Running* r = live();
  if (!r) return {};
  const int ch = format.channels ? format.channels : 1;
  const size_t frames = in.size() / size_t(ch);
  if (!r->filter) {
    r->samples(in.data(), frames, ch);
    return {};
  }
  std::vector<float> out(in.size(), -99.0f);
  r->fn(in.data(), out.data(), frames, ch);
  return out;
}

}  // namespace platform::fake
