#pragma once
// Files the capture and image services leave in the temporary folder, and the
// one way the host writes a file that replaces another: into an exclusively
// created temporary file beside it, renamed into place only when whole.

#include <string>

// The folder-relative name for a request's file is built from its id, so an id
// that could leave the folder (a "/") or cut the name short (a NUL) is refused.
bool request_id_fits_file_name(const std::string& id);

// temp_dir + prefix + pid + "-" + id + ".png"
std::string temp_png_path(const std::string& temp_dir, const std::string& prefix, const std::string& id);

// A file created with O_CREAT | O_EXCL (mode 0600) under a fresh name beside
// path. Until it is put into place it is removed when this object goes, and
// when the host ends, so no failure path leaves it behind; whatever was at path
// stays untouched until then. Any thread; one object is used by one thread.
class TempBeside {
 public:
  explicit TempBeside(const std::string& path);
  ~TempBeside();
  TempBeside(const TempBeside&) = delete;
  TempBeside& operator=(const TempBeside&) = delete;

  bool created() const { return !name_.empty(); }
  const std::string& name() const { return name_; }
  // -1 when not created or already closed.
  int fd() const { return fd_; }
  // Gives the file the permissions of a file newly made with this mode (the
  // umask applied) instead of 0600.
  void set_mode(unsigned mode);
  // False when the data written may be incomplete.
  bool close();
  // Closes and renames over the path; false, with errno set and the file
  // removed, on failure.
  bool put_in_place();

 private:
  std::string path_, name_;
  int fd_ = -1;
  bool close_failed_ = false;
};

// Writes data to a TempBeside and puts it into place: whatever was planted at
// path (a link, say) is replaced, never followed, and a reader never sees half
// a file. False on any failure, leaving nothing behind.
bool write_file_atomically(const std::string& path, const std::string& data);

// Removes every TempBeside file not yet put into place; the host's way out
// calls it. Any thread.
void remove_pending_temp_files();

// The error answer for a refused id.
inline const char* kBadRequestId = "request id must not contain \"/\"";
