#pragma once
// The answers to the backend's requests: the one line GOT <id> <json> that ends a
// request, and the JSON objects many answers share. Each request is answered
// once; keeping it so is the caller's part (see GetReply for answers that come
// later). Any thread: the line goes out through sock_write_line.

#include <string>
#include <string_view>

// Writes GOT <id> <json>; json is JSON text already, on one line.
void send_got(std::string_view id, std::string_view json);

// {"ok":true}, or {"ok":false}.
std::string ok_json(bool ok = true);
// {"ok":false,"error":<text>}; bytes of text that are not UTF-8 become U+FFFD.
std::string error_json(std::string_view text);
// {"ok":<ok>,"error":<error>}, the error null when it is empty.
std::string ok_error_json(bool ok, std::string_view error);
