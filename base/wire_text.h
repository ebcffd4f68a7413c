#pragma once
// The text of wire lines: escaping a field so that it holds no raw TAB, CR or LF,
// and the fields a line splits into (TAB between fields, commas inside a field
// that lists several values). Pure functions, any thread.

#include <string>
#include <string_view>
#include <vector>

// Backslash, LF, TAB and CR become \\, \n, \t and \r.
std::string wire_escape(std::string_view s);
// The reverse of wire_escape; an unknown escape gives its letter, and a trailing
// backslash stays.
std::string wire_unescape(std::string_view s);
// The fields between TABs: n TABs give n + 1 fields, empty ones included.
std::vector<std::string> split_tabs(std::string_view s);
// The pieces between commas, empty ones included; they point into s, which must
// outlive them.
std::vector<std::string_view> split_commas(std::string_view s);
// The fields split_tabs gives, as views into s (which must outlive them), put in
// out after clearing it: a caller that keeps out from line to line allocates
// nothing once it has room.
void split_tabs_into(std::string_view s, std::vector<std::string_view>& out);
