#pragma once
// Case folding of the ASCII letters only, for the names that protocols define in
// ASCII (schemes, hosts, header names, key names): other bytes, UTF-8 included,
// pass through whatever the locale. Any thread.

#include <string>

// s with A-Z made a-z.
std::string ascii_lower(std::string s);
