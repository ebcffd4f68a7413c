// Handlers of web content, menus and dialogs whose behaviour is not built yet:
// each one deletes its record.

#include <string>
#include <vector>

#include "core/handlers.h"
#include "core/records.h"
#include "webui/menu_model.h"

#define QUIBEX_PENDING(fn, T) \
  void fn(void*, void* rec) { delete_record<T>(rec); }

