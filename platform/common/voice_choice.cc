#include "platform/common/voice_choice.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace platform {

namespace {

std::string tag_key(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string primary(const std::string& tag) { return tag.substr(0, tag.find('-')); }

}  // namespace

std::optional<Voice> pick_voice(const std::vector<Voice>& voices, const std::string& wanted) {
  if (wanted.empty()) return std::nullopt;
  for (const Voice& v : voices)
    if (v.id == wanted) return v;
  const std::string key = tag_key(wanted);
  for (const Voice& v : voices)
    if (tag_key(v.lang) == key) return v;
  // "en" finds an English voice; "en-XX" one of English when no voice has the region.
  for (const Voice& v : voices)
    if (primary(tag_key(v.lang)) == primary(key)) return v;
  return std::nullopt;
}

int speech_rate_wpm(double rate) {
  if (!(rate > 0)) return 175;
  if (rate <= 0.5) return int(std::lround(80 + rate / 0.5 * 95));
  return int(std::lround(175 + (std::min(rate, 1.0) - 0.5) / 0.5 * 275));
}

}  // namespace platform
