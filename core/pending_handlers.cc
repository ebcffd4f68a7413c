// Handlers of the launcher core whose behaviour is not built yet: each one takes
// its record and deletes it, so every command is recognised without leaking.

#include <string>

#include "core/handlers.h"
#include "core/records.h"
#include "platform/platform.h"

#define QUIBEX_PENDING(fn, T) \
  void fn(void*, void* rec) { delete_record<T>(rec); }

QUIBEX_PENDING(do_reply, ReplyReq)
QUIBEX_PENDING(do_eval_win, EvalReq)

void do_terminate(void*, void*) { platform::current().main_queue().quit(); }
