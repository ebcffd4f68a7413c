#pragma once
// SECRET, AUTH, OSA and WINCTRL (their handlers are in core/handlers.h): the bound
// that AUTH keeps on the desktop's answer.

// How long AUTH waits for the desktop's answer: long enough for a person at the
// prompt, short of never. Then the answer is "authentication timed out" and the
// prompt is withdrawn.
inline constexpr double kAuthWaitMs = 5 * 60 * 1000;
