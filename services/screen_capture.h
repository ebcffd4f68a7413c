#pragma once
// Screenshots and the one screen recording (RECORD, CAPTURE).

#include <memory>
#include <string>

#include "core/records.h"

namespace platform {
class SerialQueue;
}

// Answers GOT <id> {"ok":false,"error":<message>}; callable from any thread.
void capture_fail(const std::string& id, const std::string& message);

// Tests: the recorder's queue (null before the first RECORD), and a fresh recorder.
platform::SerialQueue* recorder_queue_for_tests();
void recorder_reset_for_tests();

// RECORD (start or stop) and CAPTURE.
void do_record(void* w, std::unique_ptr<RecordReq> q);
void do_capture(void* w, std::unique_ptr<CaptureReq> q);
