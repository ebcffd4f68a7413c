#include "core/wire.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

int g_sock = -1;
std::mutex g_write_mutex;
std::deque<std::string> g_pending_out;

namespace {

// After the connection, bytes the socket could not take at once wait here, in
// order, for the writer thread. Only one thread sends at a time: a caller sends
// directly only while nothing waits and nothing is in flight.
// Bytes waiting for the socket: a line, or the part of it the socket did not take.
struct Chunk {
  std::string bytes;
  size_t from = 0;  // sent already
  size_t left() const { return bytes.size() - from; }
};

struct OutQueue {
  std::deque<Chunk> chunks;
  size_t bytes = 0;          // waiting in chunks plus in flight
  bool in_flight = false;    // the writer thread is sending a batch
  bool broken = false;       // the backend has gone; later lines fail silently
  bool dropping = false;     // the bound was reached: drop until the queue drains
  size_t dropped = 0;
  size_t limit = kOutQueueMax;
  unsigned generation = 0;   // bumped by the test reset
  bool writer_started = false;
  std::condition_variable work;     // the writer thread waits for chunks
  std::condition_variable drained;  // sock_flush waits for an empty queue
};

OutQueue& out() {
  static OutQueue* q = new OutQueue;  // never destroyed: the writer thread outlives main
  return *q;
}

// Sends what the socket takes without blocking; the count sent, or -1 when the
// backend has gone.
ssize_t send_now(int fd, const char* p, size_t n) {
  size_t done = 0;
  while (done < n) {
    // MSG_NOSIGNAL: a backend that went away must not kill the host with SIGPIPE.
    ssize_t r = send(fd, p + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r > 0) {
      done += size_t(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;  // a signal is not a broken connection
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return -1;
  }
  return ssize_t(done);
}

void mark_broken(OutQueue& q) {
  q.broken = true;
  q.chunks.clear();
  q.bytes = 0;
  q.drained.notify_all();
}

void writer_loop() {
  OutQueue& q = out();
  std::unique_lock<std::mutex> lock(g_write_mutex);
  for (;;) {
    q.work.wait(lock, [&] { return !q.chunks.empty() && g_sock >= 0; });
    // One batch of whole chunks; writers append behind it meanwhile. A large
    // chunk goes as it is, without a copy; small ones are gathered into one send.
    constexpr size_t kBatch = size_t(256) << 10;
    Chunk batch = std::move(q.chunks.front());
    q.chunks.pop_front();
    if (batch.left() < kBatch && !q.chunks.empty()) {
      batch.bytes.erase(0, batch.from);
      batch.from = 0;
      while (!q.chunks.empty() && batch.bytes.size() + q.chunks.front().left() <= kBatch) {
        const Chunk& c = q.chunks.front();
        batch.bytes.append(c.bytes, c.from);
        q.chunks.pop_front();
      }
    }
    const size_t batch_bytes = batch.left();
    const int fd = g_sock;
    const unsigned gen = q.generation;
    q.in_flight = true;
    lock.unlock();
    size_t done = batch.from;
    bool gone = false;
    while (done < batch.bytes.size()) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, -1) < 0 && errno != EINTR) {
        gone = true;
        break;
      }
      ssize_t r = send(fd, batch.bytes.data() + done, batch.bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (r > 0) {
        done += size_t(r);
      } else if (r < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        continue;
      } else {
        gone = true;
        break;
      }
    }
    lock.lock();
    q.in_flight = false;
    if (gen != q.generation) continue;  // reset meanwhile: none of this counts
    if (gone) {
      mark_broken(q);
      continue;
    }
    q.bytes -= batch_bytes;
    if (q.chunks.empty()) {
      if (q.dropping) {
        std::fprintf(stderr, "quibex: the backend reads again; %zu wire lines were dropped while it did not\n",
                     q.dropped);
        q.dropping = false;
        q.dropped = 0;
      }
      q.drained.notify_all();
    }
  }
}

// Queues bytes from `from` on for the writer thread; g_write_mutex held.
void enqueue(OutQueue& q, std::string bytes, size_t from = 0) {
  q.bytes += bytes.size() - from;
  q.chunks.push_back(Chunk{std::move(bytes), from});
  if (!q.writer_started) {
    q.writer_started = true;
    std::thread(writer_loop).detach();
  }
  q.work.notify_one();
}

}  // namespace

void sock_write_line(std::string line) {
  if (std::memchr(line.data(), '\n', line.size()) || std::memchr(line.data(), '\r', line.size())) {
    std::fputs("quibex: dropped a wire line with a raw line break\n", stderr);
    return;
  }
  std::lock_guard<std::mutex> lock(g_write_mutex);
  if (g_sock >= 0) {
    line += '\n';
    sock_write_raw(std::move(line));
  } else if (g_pending_out.size() < kPendingOutMax) {
    g_pending_out.push_back(std::move(line));
  }
}

void sock_write_raw(std::string bytes) {
  OutQueue& q = out();
  if (q.broken || bytes.empty()) return;
  if (q.chunks.empty() && !q.in_flight) {
    // Nothing waits: the socket takes the line now in the common case.
    ssize_t sent = send_now(g_sock, bytes.data(), bytes.size());
    if (sent < 0) return mark_broken(q);
    if (size_t(sent) == bytes.size()) return;
    enqueue(q, std::move(bytes), size_t(sent));
    return;
  }
  if (q.dropping || q.bytes + bytes.size() > q.limit) {
    // A backend that does not read may not grow the host without bound. Lines are
    // dropped from here until what waits has gone out, so the gap is one piece.
    if (!q.dropping)
      std::fprintf(stderr,
                   "quibex: the backend is not reading (%zu bytes wait for it); wire lines are dropped until it "
                   "catches up\n",
                   q.bytes);
    q.dropping = true;
    ++q.dropped;
    return;
  }
  enqueue(q, std::move(bytes));
}

bool sock_connected() {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  return g_sock >= 0;
}

void sock_set_connected(int fd) {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  g_sock = fd;
  if (g_pending_out.empty()) return;
  std::string bytes;
  for (const std::string& line : g_pending_out) {
    bytes += line;
    bytes += '\n';
  }
  g_pending_out.clear();
  sock_write_raw(std::move(bytes));
}

bool sock_flush(int timeout_ms) {
  OutQueue& q = out();
  std::unique_lock<std::mutex> lock(g_write_mutex);
  return q.drained.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return q.bytes == 0 || q.broken || g_sock < 0; });
}

size_t sock_queued_bytes() {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  return out().bytes;
}

void wire_reset_for_tests() {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  OutQueue& q = out();
  g_sock = -1;
  g_pending_out.clear();
  q.chunks.clear();
  q.bytes = 0;
  q.broken = q.dropping = false;
  q.dropped = 0;
  q.limit = kOutQueueMax;
  ++q.generation;
}

void wire_set_queue_limit_for_tests(size_t bytes) {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  out().limit = bytes ? bytes : kOutQueueMax;
}
