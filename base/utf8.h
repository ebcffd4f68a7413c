#pragma once
// Checking and repairing UTF-8 text that comes from outside the host (the
// backend, pages, the desktop) before it goes where only UTF-8 may go. Pure
// functions, any thread.

#include <cstddef>
#include <string>
#include <string_view>

// Whether s is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool utf8_valid(std::string_view s);
// s with every ill-formed sequence replaced by U+FFFD, one per maximal ill-formed
// subpart; well-formed text comes back unchanged.
std::string utf8_sanitize(std::string_view s);
// utf8_sanitize in place: well-formed text is left as it is, without a copy.
void utf8_sanitize_in_place(std::string& s);
// The largest length up to max (and up to s.size()) that does not end inside a
// character: continuation bytes are never split from the byte they follow.
size_t utf8_cut(std::string_view s, size_t max);
