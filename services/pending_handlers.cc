// System and media service handlers whose behaviour is not built yet: each one
// deletes its record.

#include <string>

#include "core/handlers.h"
#include "core/records.h"

#define QUIBEX_PENDING(fn, T) \
  void fn(void*, void* rec) { delete_record<T>(rec); }

QUIBEX_PENDING(do_audiotap, AudioTapReq)
QUIBEX_PENDING(do_audiofilterset, std::string)
QUIBEX_PENDING(do_audiofilters, std::string)
QUIBEX_PENDING(do_audiobalance, std::string)
