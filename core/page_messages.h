#pragma once
// The texts the page bridge and its shim (core/js/quib_shim.js) exchange: the
// calls a page posts in one message, and the answers the host hands back in one.
// Pure text work, any thread; nothing here knows windows or documents.
//
// Page to host: "<n>:<text>" is one call; "*" followed by "<n>:<length>:<text>"
// for each call is the calls of one turn of the page's event loop, in the order
// they were made; "*" alone carries no call and only gives the host a way back.
// Host to page: "+" or "-", then "<1|0><n>:<length>:<json>" for each answer, in
// the order the host took them; "+" asks the page for a way back because calls
// are still open and the host holds none for them. Lengths count UTF-16 code
// units, as the page's strings do; <n> is the page's own number of the call.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct PageCall {
  std::string_view seq;   // the page's number: 1 to 15 decimal digits
  std::string_view text;  // what the page passed for the call
};

// Reads a posted text into its calls, which point into body. False (out left
// empty) when the text is neither form, or when any call of a batch is malformed:
// a batch is taken whole or not at all. "*" alone gives true and no call.
bool read_page_calls(std::string_view body, std::vector<PageCall>& out);

// The UTF-16 length of well-formed UTF-8 text.
std::size_t utf16_units(std::string_view utf8);

// Appends one answer to an answer text; json must be well-formed UTF-8.
void append_page_answer(std::string& out, std::uint64_t seq, bool ok, std::string_view json);
