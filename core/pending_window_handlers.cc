// Window command handlers whose behaviour is not built yet: each one deletes its record.

#include <string>

#include "core/handlers.h"
#include "core/records.h"

#define QUIBEX_PENDING(fn, T) \
  void fn(void*, void* rec) { delete_record<T>(rec); }

QUIBEX_PENDING(do_title_win, EvalReq)
QUIBEX_PENDING(do_title, std::string)
QUIBEX_PENDING(do_size, SizeReq)
QUIBEX_PENDING(do_winopen, WinOpenReq)
QUIBEX_PENDING(do_winclose, std::string)
QUIBEX_PENDING(do_dragwin, std::string)
QUIBEX_PENDING(do_resizewin, ResizeReq)
QUIBEX_PENDING(do_dragout, DragOutReq)
QUIBEX_PENDING(do_winop, WinopReq)
QUIBEX_PENDING(do_chrome, ChromeReq)
