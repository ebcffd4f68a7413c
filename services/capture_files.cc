#include "services/capture_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>

#include "core/launcher.h"

namespace {

std::mutex g_pending_mu;
std::set<std::string>& pending() {
  static auto* names = new std::set<std::string>;  // outlives static destruction
  return *names;
}

void track(const std::string& name) {
  static std::once_flag hooked;
  std::call_once(hooked, [] { launcher_at_finish(remove_pending_temp_files); });
  std::lock_guard<std::mutex> l(g_pending_mu);
  pending().insert(name);
}

void untrack(const std::string& name) {
  std::lock_guard<std::mutex> l(g_pending_mu);
  pending().erase(name);
}

// The process's umask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t current_umask() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Umask:", 0) == 0) return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}

}  // namespace

bool request_id_fits_file_name(const std::string& id) {
  return id.find('/') == std::string::npos && id.find('\0') == std::string::npos;
}

std::string temp_png_path(const std::string& temp_dir, const std::string& prefix, const std::string& id) {
  return temp_dir + prefix + std::to_string(getpid()) + "-" + id + ".png";
}

TempBeside::TempBeside(const std::string& path) : path_(path) {
  if (path.empty() || path.find('\0') != std::string::npos) return;
  std::string tmp = path + ".XXXXXX";
  fd_ = mkostemp(tmp.data(), O_CLOEXEC);  // O_CREAT | O_EXCL, mode 0600
  if (fd_ < 0) return;
  name_ = tmp;
  track(name_);
}

TempBeside::~TempBeside() {
  if (fd_ >= 0) ::close(fd_);
  if (created()) {
    unlink(name_.c_str());
    untrack(name_);
  }
}

void TempBeside::set_mode(unsigned mode) {
  if (fd_ >= 0) fchmod(fd_, mode_t(mode) & ~current_umask());
}

bool TempBeside::close() {
  if (fd_ >= 0 && ::close(fd_) != 0) close_failed_ = true;
  fd_ = -1;
  return !close_failed_;
}

bool TempBeside::put_in_place() {
  if (!created()) {
    errno = ENOENT;
    return false;
  }
  if (!close()) {
    errno = EIO;
    return false;
  }
  if (rename(name_.c_str(), path_.c_str()) != 0) return false;  // the destructor removes it
  untrack(name_);
  name_.clear();
  return true;
}

bool write_file_atomically(const std::string& path, const std::string& data) {
  TempBeside tmp(path);
  if (!tmp.created()) return false;
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(tmp.fd(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return tmp.put_in_place();
}

void remove_pending_temp_files() {
  std::lock_guard<std::mutex> l(g_pending_mu);
  for (const std::string& name : pending()) unlink(name.c_str());
  pending().clear();
}
