// The socket's share of a page call: one CALL line at a time through a Unix
// socket to the scripted backend and its RET line back, as the host sends and
// reads them, with nothing of the host or WebKit in between.
//
//   socket_echo <socket-path> [calls] [warm-up calls]
//
// Prints one JSON line: {"n", "totalMs", "medianMs", "p90Ms"}, the median and
// 90th percentile taken over the mean round trips of batches of 100 calls, as
// the page does.

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

bool send_all(int fd, const std::string& s) {
  for (size_t off = 0; off < s.size();) {
    ssize_t r = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    off += size_t(r);
  }
  return true;
}

// Reads up to and including the next LF; what follows stays in `buf`.
bool read_line(int fd, std::string& buf) {
  for (;;) {
    size_t lf = buf.find('\n');
    if (lf != std::string::npos) {
      buf.erase(0, lf + 1);
      return true;
    }
    char tmp[4096];
    ssize_t r = read(fd, tmp, sizeof tmp);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    buf.append(tmp, size_t(r));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <socket-path> [calls] [warm-up calls]\n", argv[0]);
    return 2;
  }
  const long n = argc > 2 ? std::atol(argv[2]) : 10000;
  const long warm = argc > 3 ? std::atol(argv[3]) : 500;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, argv[1], sizeof addr.sun_path - 1);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::perror("socket_echo: connect");
    return 1;
  }
  std::string buf;
  long seq = 0;
  auto call = [&] {
    ++seq;
    return send_all(fd, "CALL main:" + std::to_string(seq) + " [\"{\\\"method\\\":\\\"ping\\\"}\",\"file://\"]\n") &&
           read_line(fd, buf);
  };
  for (long i = 0; i < warm; ++i)
    if (!call()) return 1;
  constexpr long kBatch = 100;
  const long batches = std::max(1L, n / kBatch);
  std::vector<double> means(size_t(batches), 0.0);
  const double t0 = now_ms();
  for (long b = 0; b < batches; ++b) {
    const double a = now_ms();
    for (long i = 0; i < kBatch; ++i)
      if (!call()) return 1;
    means[size_t(b)] = (now_ms() - a) / kBatch;
  }
  const double total = now_ms() - t0;
  std::sort(means.begin(), means.end());
  std::printf("{\"n\":%ld,\"totalMs\":%.3f,\"medianMs\":%.4f,\"p90Ms\":%.4f}\n", batches * kBatch, total,
              means[size_t(batches / 2)], means[size_t(batches * 9 / 10)]);
  return 0;
}
