#pragma once
// The clipboard and the notification server of the in-memory desktop.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/clipboard.h"
#include "platform/notifications.h"

namespace platform::fake {

// PNG bytes of a w x h image as far as the fake reads them: the signature and
// the header chunk.
std::string fake_png(std::uint32_t w, std::uint32_t h);

class FakeClipboard : public Clipboard {
 public:
  long change_count() override {
    ++count_reads;
    return count;
  }
  bool write(const ClipWrite& d) override {
    writes.push_back(d);
    if (refuse) return false;
    contents = ClipContents{};
    contents.uris = d.file_uris;
    if (!d.text.empty()) contents.text = d.text;
    if (!d.html.empty()) contents.html = d.html;
    if (!d.png.empty()) contents.png = d.png;
    contents.color = d.color;
    ++count;
    ++own_unreported;
    return true;
  }
  void read(std::function<void(std::optional<ClipContents>)> done) override {
    ++content_reads;
    if (hold) {
      held.push_back([this, done] { done(unreadable ? std::nullopt : std::optional<ClipContents>(contents)); });
      return;
    }
    done(unreadable ? std::nullopt : std::optional<ClipContents>(contents));
  }
  std::optional<std::string> to_png(const std::string& bytes) override;
  std::optional<std::pair<long, long>> png_size(const std::string& png) override;

  // The window system reports the owner change of the host's own last write:
  // already counted, so the count stays.
  void report_own_change() {
    if (own_unreported > 0) --own_unreported;
  }
  // Another application takes the clipboard.
  void foreign_change(const ClipContents& c) {
    contents = c;
    ++count;
  }

  long count = 0;
  int own_unreported = 0;
  ClipContents contents;
  std::vector<ClipWrite> writes;
  bool refuse = false;      // the window system does not give the host the clipboard
  bool unreadable = false;  // reads fail
  bool hold = false;        // reads wait in held until the test answers them
  std::vector<std::function<void()>> held;
  int count_reads = 0;
  int content_reads = 0;
};

class FakeNotifier : public Notifier {
 public:
  void server(std::function<void(std::optional<std::vector<std::string>>)> done) override {
    ++server_questions;
    if (hold) {
      held.push_back([this, done] { done(caps); });
      return;
    }
    done(caps);
  }
  void notify(const NotifyRequest& r, std::function<void(std::uint32_t, std::string)> done) override {
    requests.push_back(r);
    if (!caps) return done(0, "org.freedesktop.DBus.Error.ServiceUnknown");
    const std::uint32_t id = r.replaces_id ? r.replaces_id : next_id++;
    done(id, "");
  }
  void listen(std::function<void(const NotifyEvent&)> fn) override { listener = std::move(fn); }
  void fire(NotifyEvent::Kind kind, std::uint32_t id, const std::string& text) {
    if (listener) listener(NotifyEvent{kind, id, text});
  }

  // The server's capabilities; none = no server on the bus.
  std::optional<std::vector<std::string>> caps = std::vector<std::string>{"actions", "body"};
  bool hold = false;
  std::vector<std::function<void()>> held;
  int server_questions = 0;
  std::uint32_t next_id = 1;
  std::vector<NotifyRequest> requests;
  std::function<void(const NotifyEvent&)> listener;
};

}  // namespace platform::fake
