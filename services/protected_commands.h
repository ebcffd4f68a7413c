#pragma once
// SECRET, AUTH, OSA and WINCTRL (their handlers are in core/handlers.h): the bound
// that SECRET and AUTH keep on the desktop's answer. Main thread; each request is
// answered exactly once, by the desktop or by the bound.

// How long SECRET and AUTH wait for the desktop's answer: long enough for a person
// at a prompt (an unlock, an authentication), short of never. Then the answer is
// "keychain timed out" or "authentication timed out" and the request is withdrawn.
inline constexpr double kPromptWaitMs = 5 * 60 * 1000;
