// Handlers of web content, menus and dialogs whose behaviour is not built yet:
// each one deletes its record.

#include <string>
#include <vector>

#include "core/handlers.h"
#include "core/records.h"
#include "webui/menu_model.h"

#define QUIBEX_PENDING(fn, T) \
  void fn(void*, void* rec) { delete_record<T>(rec); }

QUIBEX_PENDING(do_dialog, DlgReq)
QUIBEX_PENDING(do_find, FindReq)
QUIBEX_PENDING(do_stopfind, std::string)
QUIBEX_PENDING(do_hotkey, HotkeyReq)
QUIBEX_PENDING(do_keystroke, KeystrokeReq)
QUIBEX_PENDING(do_pdf, PdfReq)
QUIBEX_PENDING(do_cookies, CookieReq)
QUIBEX_PENDING(do_print, std::string)  // PRINT hands over null, which delete ignores
