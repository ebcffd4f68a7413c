#pragma once
// How a desktop's main queue runs one item it was handed.

#include "platform/main_queue.h"

namespace platform {

// Runs one queued item. An exception must never unwind through the desktop's
// event loop (C frames): one that leaves a handler is reported on stderr and the
// loop goes on with the next item. Main thread.
void run_handler(HandlerFn handler, void* w, void* record) noexcept;

}  // namespace platform
