#pragma once
// JSON text written by hand, in a fixed member order, with the number formats the
// answers define. A number that is nan or infinite is no JSON: it is written null.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Truncated towards zero to a 32-bit integer ("%d" of the value), clamped to that range.
std::string json_int(double v);
// Rounded to the nearest integer, halves away from zero ("%ld" of lround).
std::string json_round(double v);
// Fixed-point with this many decimals ("%.2f" and the like).
std::string json_fixed(double v, int decimals);
// The shortest of "%g".
std::string json_g(double v);
inline const char* json_bool(bool v) { return v ? "true" : "false"; }
// The quoted JSON string literal of s, quotes included; the bytes are not checked
// (json_text is for text from outside the host).
std::string json_escape(std::string_view s);
// Appends the quoted literal to out (no temporary string).
void json_escape_into(std::string& out, std::string_view s);
// The length of json_escape(s), quotes included: for sizing a buffer once.
size_t json_escaped_size(std::string_view s);
// A string literal of text from outside the host; bytes that are not UTF-8 become U+FFFD.
std::string json_text(std::string_view s);
std::string json_text_or_null(const std::optional<std::string>& s);

// {"a":1,"b":true}: members in the order they are added.
class JsonObject {
 public:
  // value is JSON text already.
  JsonObject& raw(std::string_view key, std::string_view value);
  JsonObject& boolean(std::string_view key, bool v) { return raw(key, json_bool(v)); }
  JsonObject& integer(std::string_view key, double v) { return raw(key, json_int(v)); }
  JsonObject& text(std::string_view key, std::string_view v) { return raw(key, json_text(v)); }
  std::string str() const { return out_ + "}"; }

 private:
  std::string out_ = "{";
};
