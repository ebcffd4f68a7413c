#pragma once
// The clipboard: CLIPWRITE, CLIPWATCH and the GET keys "clipboard" and
// "clipboard:count".

#include <functional>
#include <memory>
#include <string>

#include "core/records.h"

// The answer of "clipboard" (count_only false) or "clipboard:count". Reading
// another application's clipboard takes round trips through the display server:
// the answer comes through done, exactly once, on the main thread, and the
// commands queued behind the question wait until it is answered.
void clipboard_json(bool count_only, std::function<void(const std::string&)> done);

// Records once which application made the change with this count.
void clip_note_source(long count);

// The clipboard state, for tests: forgets every count seen and the watch timer.
void clip_reset_for_tests();

// CLIPWRITE; CLIPWATCH (the interval in ms; 0 or less stops watching).
void do_clip_write(void* w, std::unique_ptr<ClipWriteReq> r);
void do_clip_watch(void* w, std::unique_ptr<int> ms);
