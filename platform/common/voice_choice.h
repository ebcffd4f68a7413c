#pragma once
// How a SAY's voice and rate map onto a synthesizer's voices and pace.

#include <optional>
#include <string>
#include <vector>

#include "platform/speech.h"

namespace platform {

// The voice a SAY names: by id, else by language (the whole tag, then its primary
// subtag, case and '_' or '-' aside); none leaves the default voice.
std::optional<Voice> pick_voice(const std::vector<Voice>& voices, const std::string& wanted);

// Words per minute for a rate on the 0..1 scale, 0.5 being the normal pace:
// 0 -> 80, 0.5 -> 175, 1 (and above) -> 450, linear in between; the normal 175
// for 0 or less and for what is not a number.
int speech_rate_wpm(double rate);

}  // namespace platform
