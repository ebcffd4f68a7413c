#pragma once
// SECRET, AUTH, OSA and WINCTRL, and the bound that SECRET and AUTH keep on the
// desktop's answer. Main thread; each request is answered exactly once, by the
// desktop or by the bound.

#include <memory>

#include "core/records.h"

// How long SECRET and AUTH wait for the desktop's answer: long enough for a person
// at a prompt (an unlock, an authentication), short of never. Then the answer is
// "keychain timed out" or "authentication timed out" and the request is withdrawn.
inline constexpr double kPromptWaitMs = 5 * 60 * 1000;

// SECRET, AUTH, OSA and WINCTRL.
void do_secret(void* w, std::unique_ptr<SecretReq> req);
void do_auth(void* w, std::unique_ptr<AuthReq> req);
void do_osa(void* w, std::unique_ptr<OsaReq> req);
void do_winctrl(void* w, std::unique_ptr<WinCtrlReq> req);
