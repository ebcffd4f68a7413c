#pragma once
// The audio tap: what the machine or the application plays, sent to the backend
// as AUDIOTAP event lines of int16 samples, one per interval.

#include <cstddef>
#include <memory>

#include "core/records.h"

struct AudioBuf;

// The tap's capture path (audio thread): appends one call's buffers.
void quib_audiotap_capture(const AudioBuf* bufs, size_t n);
// Whether a tap runs (also while it waits to be rebuilt).
bool audiotap_active_for_tests();
// Stops everything (the host ends, or a test is done).
void audiotap_reset();

// AUDIOTAP and AUDIOTAP STOP.
void do_audiotap(void* w, std::unique_ptr<AudioTapReq> r);
