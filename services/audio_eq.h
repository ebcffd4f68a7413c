#pragma once
// The equalizer: the application's own sound through a chain of biquad filters
// and a stereo balance, on its way to the output.

#include <memory>
#include <string>

// The GET "audiofilters" answer.
std::string eq_state_json();
// Stops everything (the host ends, or a test is done); the balance goes back to 0.
void eq_reset();

// AUDIOFILTERS (the filters), AUDIOFILTERSET (its tab-separated fields) and
// AUDIOBALANCE (the balance).
void do_audiofilters(void* w, std::unique_ptr<std::string> text);
void do_audiofilterset(void* w, std::unique_ptr<std::string> text);
void do_audiobalance(void* w, std::unique_ptr<std::string> text);
