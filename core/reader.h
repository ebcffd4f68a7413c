#pragma once
// The receiving half of the backend socket: line cutting, keyword tests and the
// hand-over of each command's record to the main thread. Reader thread only.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/menu_builder.h"
#include "platform/main_queue.h"

class CommandReader {
 public:
  CommandReader() = default;
  CommandReader(const CommandReader&) = delete;
  CommandReader& operator=(const CommandReader&) = delete;
  ~CommandReader() { flush(); }
  // Appends bytes read from the socket and handles every complete line; the
  // records of those lines go to the main queue together, in their order, once
  // the last is read.
  void feed(const char* data, size_t n);
  // Runs the keyword tests on one line (without its LF) and hands its record
  // over at once.
  void handle_line(std::string_view line);
  // Bytes of the partial line still waiting for its LF.
  size_t buffered() const { return buf_.size(); }
  const MenuBuilder& builder() const { return builder_; }

 private:
  // The keyword tests; a record waits in batch_ until flush().
  void read_line(std::string_view line);
  void flush();
  // The line's TAB-separated fields as views into it, valid until the next call.
  const std::vector<std::string_view>& tabs(std::string_view s);

  std::string buf_;
  MenuBuilder builder_;
  std::vector<platform::QueuedItem> batch_;
  std::vector<std::string_view> fields_;
};

// Reads fd until end of stream or an error, then hands do_terminate to the main
// thread once. Signals that interrupt a read do not end the stream.
void reader_run(int fd);
// The reader thread's body: accepts the backend in bundle mode, then reads g_sock.
void sock_read_loop();
