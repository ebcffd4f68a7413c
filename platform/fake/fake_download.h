#pragma once
// A download as the engine would run it, driven by a test: it asks its view's
// download events where to go and reports progress, the end or a failure.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fake/fake_webview.h"

namespace platform::fake {

class FakeDownload : public Download {
 public:
  explicit FakeDownload(FakeWebView* view) : view_(view) {}
  bool set_destination(const std::string& path, bool allow_overwrite) override {
    ++answers;
    if (answers > 1 || ended) return false;
    answered = true;
    destination = path;
    overwrite = allow_overwrite;
    return true;
  }
  // The response arrives: the view's destination question.
  void respond(const DownloadResponse& r) {
    if (view_->download_events.destination) view_->download_events.destination(this, r);
  }
  void progress(std::int64_t received, std::int64_t total) {
    if (view_->download_events.progress) view_->download_events.progress(this, received, total);
  }
  void finish() {
    if (view_->download_events.finished) view_->download_events.finished(this);
  }
  void fail(const std::string& error) {
    if (view_->download_events.failed) view_->download_events.failed(this, error);
  }

  bool ended = false;  // the engine gave up on it before its destination was given
  bool answered = false;
  int answers = 0;
  std::string destination;  // "" = cancelled
  bool overwrite = false;

 private:
  FakeWebView* view_;
};

}  // namespace platform::fake
