// The writer: refusal of raw line breaks, the queue before the connection, the
// flush at connection, and whole lines under many writers.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "core/wire.h"

namespace {

class Writer : public ::testing::Test {
 protected:
  void SetUp() override {
    wire_reset_for_tests();
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  }
  void TearDown() override {
    wire_reset_for_tests();
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
  // Reads on the backend side until want bytes, end of stream, or 5 s of silence.
  std::string drain(size_t want) {
    std::string got;
    char buf[65536];
    while (got.size() < want) {
      pollfd p{fds[1], POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      ssize_t r = read(fds[1], buf, sizeof buf);
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }
  int fds[2] = {-1, -1};  // [0] the host's end, [1] the backend's
};

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0, lf;
  while ((lf = s.find('\n', start)) != std::string::npos) {
    out.push_back(s.substr(start, lf - start));
    start = lf + 1;
  }
  EXPECT_EQ(start, s.size()) << "a line without its LF";
  return out;
}

TEST_F(Writer, LinesWithRawBreaksAreRefusedWithOneDiagnosticEach) {
  sock_set_connected(fds[0]);
  for (const char* bad : {"a\rb", "a\nb", "\r", "x\r\n"}) {
    testing::internal::CaptureStderr();
    sock_write_line(bad);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "quibex: dropped a wire line with a raw line break\n");
  }
  sock_write_line("");
  sock_write_line("ok");
  EXPECT_EQ(drain(4), "\nok\n");
}

TEST_F(Writer, RawBreaksAreNotQueuedBeforeTheConnectionEither) {
  testing::internal::CaptureStderr();
  sock_write_line("a\nb");
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(g_pending_out.empty());
}

TEST_F(Writer, SixHundredLinesBeforeConnectionKeepTheFirst512InOrder) {
  for (int i = 0; i < 600; ++i) sock_write_line("L" + std::to_string(i));
  EXPECT_EQ(g_pending_out.size(), 512u);
  size_t bytes = 6;
  for (int i = 0; i < 512; ++i) bytes += std::to_string(i).size() + 2;
  std::string got;
  std::thread reader([&] { got = drain(bytes); });  // many small lines fill a socket buffer
  sock_set_connected(fds[0]);
  sock_write_line("after");
  reader.join();
  auto lines = lines_of(got);
  ASSERT_EQ(lines.size(), 513u);
  for (int i = 0; i < 512; ++i) ASSERT_EQ(lines[i], "L" + std::to_string(i));
  EXPECT_EQ(lines[512], "after");
  EXPECT_TRUE(g_pending_out.empty());
}

TEST_F(Writer, ALineWrittenDuringTheFlushArrivesAfterAllQueuedLines) {
  // 1 MB of queued lines cannot fit a socket buffer, so the flush blocks until
  // the backend reads; "late" is written while it is blocked.
  const std::string body(2000, 'q');
  for (int i = 0; i < 512; ++i) sock_write_line(body);
  std::atomic<bool> flushing{false};
  std::string got;
  std::thread backend([&] {
    char buf[4096];
    pollfd p{fds[1], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    ssize_t r = read(fds[1], buf, sizeof buf);
    ASSERT_GT(r, 0);
    got.assign(buf, size_t(r));
    flushing.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    got += drain(512 * 2001 + 5 - got.size());
  });
  std::thread other([&] {
    while (!flushing.load()) std::this_thread::yield();
    sock_write_line("late");
  });
  sock_set_connected(fds[0]);
  other.join();
  backend.join();
  auto lines = lines_of(got);
  ASSERT_EQ(lines.size(), 513u);
  for (int i = 0; i < 512; ++i) ASSERT_EQ(lines[i], body);
  EXPECT_EQ(lines.back(), "late");
}

TEST_F(Writer, ManyThreadsNeverInterleaveBytesWithinALine) {
  sock_set_connected(fds[0]);
  constexpr int kThreads = 8, kLines = 2000;
  std::string got;
  std::vector<std::string> bodies;
  for (int t = 0; t < kThreads; ++t) bodies.push_back(std::string(100 + 997 * t, char('a' + t)));
  std::thread reader([&] { got = drain(SIZE_MAX); });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) sock_write_line(bodies[t] + " " + std::to_string(i));
    });
  for (auto& w : writers) w.join();
  ASSERT_TRUE(sock_flush(10000));
  shutdown(fds[0], SHUT_WR);
  reader.join();
  std::map<char, int> next;
  for (const std::string& line : lines_of(got)) {
    char c = line[0];
    int t = c - 'a';
    ASSERT_TRUE(t >= 0 && t < kThreads) << "garbled line";
    ASSERT_EQ(line.substr(0, bodies[t].size()), bodies[t]);
    ASSERT_EQ(line.substr(bodies[t].size()), " " + std::to_string(next[c]++)) << "lines of one thread reordered";
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[char('a' + t)], kLines);
}

// Runs fn on another thread; false when it has not returned within 20 s (it blocked).
template <class F>
bool returns_without_the_backend(F fn) {
  auto done = std::async(std::launch::async, fn);
  return done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
}

TEST_F(Writer, ABackendThatStopsReadingBlocksNoWriterAndLosesNothing) {
  sock_set_connected(fds[0]);
  const std::string body(10000, 'x');
  constexpr int kLines = 2000;  // 20 MB: far more than a socket buffer holds
  ASSERT_TRUE(returns_without_the_backend([&] {
    for (int i = 0; i < kLines; ++i) sock_write_line(std::to_string(i) + " " + body);
  })) << "a writer blocked on a backend that does not read";
  EXPECT_GT(sock_queued_bytes(), 0u);
  // A later writer does not overtake what waits.
  sock_write_line("last");
  std::string got = drain(size_t(kLines) * (body.size() + 7) + 5);
  auto lines = lines_of(got.substr(0, got.rfind('\n') + 1));
  ASSERT_EQ(lines.size(), size_t(kLines) + 1);
  for (int i = 0; i < kLines; ++i) ASSERT_EQ(lines[i], std::to_string(i) + " " + body);
  EXPECT_EQ(lines.back(), "last");
  EXPECT_TRUE(sock_flush(1000));
  EXPECT_EQ(sock_queued_bytes(), 0u);
}

TEST_F(Writer, TheConnectionFlushDoesNotWaitForTheBackendToRead) {
  const std::string body(4000, 'p');
  for (int i = 0; i < 512; ++i) sock_write_line(body);  // 2 MB wait for the connection
  ASSERT_TRUE(returns_without_the_backend([&] { sock_set_connected(fds[0]); }));
  sock_write_line("after");
  auto lines = lines_of(drain(512 * 4001 + 6));
  ASSERT_EQ(lines.size(), 513u);
  EXPECT_EQ(lines[511], body);
  EXPECT_EQ(lines[512], "after");
}

TEST_F(Writer, PastTheBoundLinesAreDroppedInOnePieceWithDiagnostics) {
  wire_set_queue_limit_for_tests(1 << 20);
  sock_set_connected(fds[0]);
  const std::string body(1000, 'b');
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3000; ++i) sock_write_line(std::to_string(i) + " " + body);  // 3 MB
  const std::string before = testing::internal::GetCapturedStderr();
  EXPECT_NE(before.find("quibex: the backend is not reading"), std::string::npos) << before;
  EXPECT_LE(sock_queued_bytes(), size_t(1 << 20));
  testing::internal::CaptureStderr();
  std::string got = drain(size_t(1) << 30);  // until 5 s of silence
  ASSERT_TRUE(sock_flush(5000));
  sock_write_line("resumed");
  got += drain(8);
  const std::string after = testing::internal::GetCapturedStderr();
  EXPECT_NE(after.find("quibex: the backend reads again;"), std::string::npos) << after;
  auto lines = lines_of(got);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "resumed");
  // What arrived is the written lines in order with one gap, and no line is cut.
  int expect = 0;
  int gaps = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const int n = std::stoi(lines[i]);
    ASSERT_EQ(lines[i], std::to_string(n) + " " + body);
    if (n != expect) ++gaps;
    ASSERT_GE(n, expect);
    expect = n + 1;
  }
  EXPECT_LE(gaps, 1);
  EXPECT_LT(lines.size(), 3001u);
}

TEST_F(Writer, AClosedBackendNeitherKillsTheHostNorBlocksLaterLines) {
  sock_set_connected(fds[0]);
  close(fds[1]);
  fds[1] = -1;
  for (int i = 0; i < 100; ++i) sock_write_line("into the void");  // SIGPIPE would end the test
  SUCCEED();
}

}  // namespace
