#pragma once
// Xvfb on a display number it picks itself, for the GTK tests; stopped when the
// tests end, and with the test process when that is killed. GTK reads settings
// and writes caches and recent files: the process gets a home of its own and no
// session bus (none started through the X server either), never the machine's.

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

class PrivateDisplay {
 public:
  bool start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return false;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    char home[] = "/tmp/qbx-gtk-home-XXXXXX";
    if (!mkdtemp(home)) return false;
    home_ = home;
    setenv("HOME", home, 1);
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
      setenv(v, home, 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", (home_ + "/no-bus").insert(0, "unix:path=").c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("GIO_USE_VFS", "local", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    return true;
  }
  ~PrivateDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!home_.empty()) std::filesystem::remove_all(home_, ignored);
  }

 private:
  pid_t pid_ = -1;
  std::string home_;
};
