// The quibex executable: the Linux desktop platform under the launcher core.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "core/launcher.h"
#include "core/reader.h"
#include "core/wire.h"
#include "platform/gtk/gtk_platform.h"

namespace {

int connect_socket(const char* path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) return -1;
  std::strcpy(addr.sun_path, path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int r;
  do {
    r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <html-file-or-url> <socket-path> [title] [WxH]\n", argv[0]);
    return 1;
  }
  if (!platform::gtk::GtkPlatform::init_display(&argc, &argv)) {
    std::fputs("quibex: no display server session\n", stderr);
    return 3;
  }
  platform::gtk::GtkPlatform desktop;
  platform::install(&desktop);
  int fd = connect_socket(argv[2]);
  if (fd < 0) {
    std::fprintf(stderr, "launcher: cannot connect to %s\n", argv[2]);
    return 1;
  }
  g_sock = fd;
  std::thread(sock_read_loop).detach();
  desktop.main_queue().run();
  return 0;
}
