// The reader over a real socket: line cutting across reads, end of stream and
// signals that interrupt a blocking read or accept.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "core/launcher.h"
#include "core/records.h"
#include "core/window_commands.h"
#include "core/wire.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;

void write_all(int fd, const std::string& s) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t r = write(fd, s.data() + off, s.size() - off);
    ASSERT_GT(r, 0);
    off += static_cast<size_t>(r);
  }
}

class ReaderStream : public FakeDesktopTest {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  }
  void TearDown() override {
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
    FakeDesktopTest::TearDown();
  }
  // Handler names of what was handed over, in order; titles show their text.
  std::vector<std::string> handed() {
    std::vector<std::string> out;
    for (const Handed& h : take_handed(desktop)) {
      if (h.handler == typed<do_title>)
        out.push_back("title:" + h.as<std::string>());
      else if (h.handler == typed<do_terminate>)
        out.push_back("terminate");
      else
        out.push_back("other");
      h.release();
    }
    return out;
  }
  int fds[2] = {-1, -1};  // [0] read by the reader, [1] the backend
};

TEST_F(ReaderStream, TwoCommandsInOneReadAndOneSplitOverSeveral) {
  std::thread t(reader_run, fds[0]);
  write_all(fds[1], "TITLE a\nTITLE b\nTIT");
  std::this_thread::sleep_for(20ms);
  write_all(fds[1], "LE c");
  std::this_thread::sleep_for(20ms);
  write_all(fds[1], "d\n\nTITLE e");  // the last line never gets its LF
  close(fds[1]);
  fds[1] = -1;
  t.join();
  EXPECT_EQ(handed(), (std::vector<std::string>{"title:a", "title:b", "title:cd", "terminate"}));
}

platform::fake::FakePlatform* g_desktop;
size_t g_queued_at_result;

// A tool result is delivered on the reader thread itself: the commands read
// before it in the same read are on the main queue by then.
TEST_F(ReaderStream, CommandsBeforeAToolResultAreQueuedWhenItIsDelivered) {
  CommandTable t = reachable_commands();
  g_desktop = &desktop;
  g_queued_at_result = 0;
  t.ai_tool_result = [](long, const std::string&) { g_queued_at_result = g_desktop->queue.size(); };
  install_command_table(t);
  CommandReader reader;
  const std::string read = "TITLE a\nTITLE b\nAITOOLRESULT 1 x\nTITLE c\n";
  reader.feed(read.data(), read.size());
  EXPECT_EQ(g_queued_at_result, 2u);
  EXPECT_EQ(handed(), (std::vector<std::string>{"title:a", "title:b", "title:c"}));
}

TEST_F(ReaderStream, EndOfStreamTerminatesExactlyOnce) {
  std::thread t(reader_run, fds[0]);
  write_all(fds[1], "QUIT\n");
  shutdown(fds[1], SHUT_WR);
  t.join();
  // QUIT itself, then the end of the stream.
  EXPECT_EQ(handed(), (std::vector<std::string>{"terminate", "terminate"}));
}

TEST_F(ReaderStream, FeedHandlesLinesSplitAtEveryByte) {
  const std::string stream = "TITLE one\nRET 1:1 0 {}\nTITLE two\r\nTITLE three\n";
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    CommandReader r;
    r.feed(stream.data(), cut);
    r.feed(stream.data() + cut, stream.size() - cut);
    EXPECT_EQ(r.buffered(), 0u);
    std::vector<std::string> titles;
    for (const Handed& h : take_handed(desktop)) {
      if (h.handler == typed<do_title>) titles.push_back(h.as<std::string>());
      h.release();
    }
    ASSERT_EQ(titles, (std::vector<std::string>{"one", "two", "three"})) << "cut at " << cut;
  }
}

TEST_F(ReaderStream, LinesEndedWithCrLfMeanTheSameLines) {
  const std::string stream = "RET q7 0 {\"a\":1}\r\nQUIT\r\nTITLE t\r\r\nTITLE u\n";
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    CommandReader r;
    r.feed(stream.data(), cut);
    r.feed(stream.data() + cut, stream.size() - cut);
    std::vector<Handed> got = take_handed(desktop);
    ASSERT_EQ(got.size(), 4u) << "cut at " << cut;
    EXPECT_EQ(got[0].as<ReplyReq>().payload, "{\"a\":1}");
    EXPECT_EQ(got[1].handler, typed<do_terminate>);
    EXPECT_EQ(got[2].as<std::string>(), "t\r") << "only one CR is taken off";
    EXPECT_EQ(got[3].as<std::string>(), "u");
    for (const Handed& h : got)
      if (h.handler != typed<do_terminate>) h.release();
  }
}

TEST_F(ReaderStream, AnEmptyStatusNeverReadsIntoTheNextLine) {
  // The status of the first line is empty; the next line starts with digits.
  for (const std::string stream : {"RET q1  \n42\n", "RET q1  \n", "RET q1  \r\n7 x\n"}) {
    CommandReader r;
    r.feed(stream.data(), stream.size());
    std::vector<Handed> got = take_handed(desktop);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].as<ReplyReq>().status, 0) << stream;
    EXPECT_EQ(got[0].as<ReplyReq>().payload, "");
    got[0].release();
  }
}

void on_signal(int) {}

// Installs a handler without SA_RESTART, so blocking calls really see EINTR.
struct InterruptingSignal {
  InterruptingSignal() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGUSR1, &sa, &old);
  }
  ~InterruptingSignal() { sigaction(SIGUSR1, &old, nullptr); }
  struct sigaction old {};
};

void pester(std::thread& t) {
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(10ms);
    pthread_kill(t.native_handle(), SIGUSR1);
  }
}

TEST_F(ReaderStream, ASignalDuringABlockingReadDoesNotEndTheStream) {
  InterruptingSignal sig;
  std::thread t(reader_run, fds[0]);
  pester(t);
  write_all(fds[1], "TITLE still here\n");
  pester(t);
  close(fds[1]);
  fds[1] = -1;
  t.join();
  EXPECT_EQ(handed(), (std::vector<std::string>{"title:still here", "terminate"}));
}

TEST_F(ReaderStream, ASignalDuringAcceptDoesNotEndTheHost) {
  InterruptingSignal sig;
  wire_reset_for_tests();
  char dir[] = "/tmp/quibex-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/app.sock";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  int lfd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(lfd, 1), 0);
  g_listen_fd = lfd;
  sock_write_line("WAITING 1");  // queued until the backend connects

  std::thread t(sock_read_loop);
  pester(t);
  int c = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  char buf[64];
  ssize_t n = read(c, buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0), "WAITING 1\n");
  write_all(c, "TITLE accepted\n");
  close(c);
  t.join();
  EXPECT_EQ(handed(), (std::vector<std::string>{"title:accepted", "terminate"}));

  g_listen_fd = -1;
  close(g_sock);
  wire_reset_for_tests();
  close(lfd);
  unlink(path.c_str());
  rmdir(dir);
}

}  // namespace
