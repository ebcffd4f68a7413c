#pragma once
// The text forms the clipboard and notification services read and write:
// Base64 and data URLs, hexadecimal colours, file URIs, markup.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Base64 with the characters outside its alphabet ignored; none when what is
// left is no Base64 text.
std::optional<std::string> base64_decode(std::string_view text);

// The bytes an image field names: a file path (first character "/" or "~"; a
// leading "~/" stands for the home directory), a data URL or bare Base64.
// None when the file is unreadable, is no regular file or is over 256 MB, or when
// the text does not decode.
std::optional<std::string> decode_image_field(const std::string& field);

// "#rrggbb" or "#rrggbbaa" (the "#" optional) into components from 0 to 1.
bool parse_hex_color(const std::string& text, double rgba[4]);

// "#rrggbb", or "#rrggbbaa" when not opaque, from components from 0 to 1.
std::string hex_color_text(double r, double g, double b, double a);

// A file path as a file:// URI; a relative path is taken from the working directory.
std::string file_uri(const std::string& path);
// The path of a file:// URI (local host only); none for anything else.
std::optional<std::string> file_uri_path(std::string_view uri);
// The URIs of a text/uri-list (comments and blank lines left out).
std::vector<std::string> parse_uri_list(std::string_view text);

// Text shown literally by a server that reads notification bodies as markup.
std::string markup_escape(std::string_view text);

// A fresh random identifier in the usual 8-4-4-4-12 upper-case form.
std::string new_uuid();
