#pragma once
// Reading a small file whole. Any thread.

#include <string>

// The file's bytes, or "" when it cannot be read (missing, a folder, no access).
std::string read_file(const std::string& path);
