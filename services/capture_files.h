#pragma once
// Files the capture and image services leave in the temporary folder.

#include <string>

// The folder-relative name for a request's file is built from its id, so an id
// that could leave the folder (a "/") or cut the name short (a NUL) is refused.
bool request_id_fits_file_name(const std::string& id);

// temp_dir + prefix + pid + "-" + id + ".png"
std::string temp_png_path(const std::string& temp_dir, const std::string& prefix, const std::string& id);

// Writes data to a freshly, exclusively created file beside path and renames it
// into place: whatever was planted at path (a link, say) is replaced, never
// followed, and a reader never sees half a file. False on any failure, leaving
// nothing behind.
bool write_file_atomically(const std::string& path, const std::string& data);

// The error answer for a refused id.
inline const char* kBadRequestId = "request id must not contain \"/\"";
