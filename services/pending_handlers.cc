// System and media service handlers whose behaviour is not built yet: each one
// deletes its record.

#include <string>

#include "core/handlers.h"
#include "core/records.h"

#define QUIBEX_PENDING(fn, T) \
  void fn(void*, void* rec) { delete_record<T>(rec); }

QUIBEX_PENDING(do_perm, PermReq)
QUIBEX_PENDING(do_shell, ShellReq)
QUIBEX_PENDING(do_login, LoginReq)
QUIBEX_PENDING(do_power, PowerReq)
QUIBEX_PENDING(do_sound, SoundReq)
QUIBEX_PENDING(do_share, ShareReq)
QUIBEX_PENDING(do_nowplaying, NowPlayingReq)
QUIBEX_PENDING(do_say, SayReq)
QUIBEX_PENDING(do_record, RecordReq)
QUIBEX_PENDING(do_winctrl, WinCtrlReq)
QUIBEX_PENDING(do_saystop, std::string)  // hands over null
QUIBEX_PENDING(do_voices, VoicesReq)
QUIBEX_PENDING(do_pickcolor, std::string)
QUIBEX_PENDING(do_ocr, OcrReq)
QUIBEX_PENDING(do_thumb, ThumbReq)
QUIBEX_PENDING(do_secret, SecretReq)
QUIBEX_PENDING(do_auth, AuthReq)
QUIBEX_PENDING(do_osa, OsaReq)
QUIBEX_PENDING(do_quicklook, QLReq)
QUIBEX_PENDING(do_capture, CaptureReq)
QUIBEX_PENDING(do_badge, std::string)
QUIBEX_PENDING(do_attention, int)
QUIBEX_PENDING(do_progress, double)
QUIBEX_PENDING(do_appicon, std::string)
QUIBEX_PENDING(do_spotlight, SpotlightReq)
