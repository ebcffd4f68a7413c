#include "services/capture_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool request_id_fits_file_name(const std::string& id) {
  return id.find('/') == std::string::npos && id.find('\0') == std::string::npos;
}

std::string temp_png_path(const std::string& temp_dir, const std::string& prefix, const std::string& id) {
  return temp_dir + prefix + std::to_string(getpid()) + "-" + id + ".png";
}

bool write_file_atomically(const std::string& path, const std::string& data) {
  std::string tmp = path + ".XXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);  // O_CREAT | O_EXCL, mode 0600
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += size_t(n);
  }
  if (close(fd) != 0) ok = false;
  if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(tmp.c_str());
  return ok;
}
