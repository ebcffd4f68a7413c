#pragma once
// The receiving half of the backend socket: line cutting, keyword tests and the
// hand-over of each command's record to the main thread.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/menu_builder.h"

class CommandReader {
 public:
  // Appends bytes read from the socket and handles every complete line.
  void feed(const char* data, size_t n);
  // Runs the keyword tests on one line (without its LF).
  void handle_line(std::string_view line);
  // Bytes of the partial line still waiting for its LF.
  size_t buffered() const { return buf_.size(); }
  const MenuBuilder& builder() const { return builder_; }

 private:
  std::string buf_;
  MenuBuilder builder_;
};

// Reads fd until end of stream or an error, then hands do_terminate to the main
// thread once. Signals that interrupt a read do not end the stream.
void reader_run(int fd);
// The reader thread's body: accepts the backend in bundle mode, then reads g_sock.
void sock_read_loop();
