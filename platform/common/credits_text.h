#pragma once
// The text of an application's credits document, for desktops whose About panel
// shows credits as plain text.

#include <string>
#include <string_view>

namespace platform {

// The document's text: HTML without its markup, RTF without its control words,
// an RTFD package through the TXT.rtf inside it. "" when it cannot be read.
std::string credits_document_text(const std::string& path);

// HTML as it reads: markup, scripts, styles and comments dropped, entities
// decoded, white space collapsed, a line break for each block and <br>.
std::string html_text(std::string_view html);
// RTF as it reads: groups that hold no text (font and colour tables, pictures,
// "\*" destinations) dropped, paragraphs as line breaks, hex and Unicode escapes
// (read as Windows-1252 and UTF-16) decoded to UTF-8.
std::string rtf_text(std::string_view rtf);

}  // namespace platform
