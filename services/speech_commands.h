#pragma once
// SAY, SAYSTOP and VOICES: speech through the desktop's speech queue. Main
// thread; every SAY is answered exactly once, when it ends or by SAYSTOP.

#include <memory>

#include "core/records.h"

void do_say(void* w, std::unique_ptr<SayReq> req);
// Answers every SAY still waiting with {"ok":false} and stops speaking.
void do_saystop(void* w);
void do_voices(void* w, std::unique_ptr<VoicesReq> req);
