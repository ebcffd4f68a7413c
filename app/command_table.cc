#include "app/command_table.h"

#include "ai/ai_requests.h"
#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/window_chrome.h"
#include "core/window_commands.h"
#include "core/window_ops.h"
#include "services/audio_eq.h"
#include "services/audio_tap.h"
#include "services/clipboard.h"
#include "services/desktop_commands.h"
#include "services/dock_media.h"
#include "services/get_queries.h"
#include "services/image_services.h"
#include "services/notifications.h"
#include "services/permissions.h"
#include "services/protected_commands.h"
#include "services/screen_capture.h"
#include "services/speech_commands.h"
#include "webui/context_menu.h"
#include "webui/dialogs.h"
#include "webui/keys.h"
#include "webui/menu_bar.h"
#include "webui/menu_state.h"
#include "webui/navigation.h"
#include "webui/page_actions.h"
#include "webui/popups.h"
#include "webui/tray.h"

CommandTable app_command_table() {
  CommandTable t;
  t.reply = command<do_reply>;
  t.eval = command<do_eval_win>;
  t.title_win = command<do_title_win>;
  t.title = command<do_title>;
  t.size = command<do_size>;
  t.winopen = command<do_winopen>;
  t.winclose = command<do_winclose>;
  t.dialog = command<do_dialog>;
  t.navr = command<do_navr>;
  t.popupr = command<do_popupr>;
  t.find = command<do_find>;
  t.stopfind = command<do_stopfind>;
  t.win_menu_reset = command<do_win_menu_reset>;
  t.menus = command<apply_menus>;
  t.win_menu_set = command<do_win_menu_set>;
  t.tray = command<apply_tray>;
  t.winop = command<do_winop>;
  t.ctx = command<apply_ctx>;
  t.ctx_suppress = command<apply_ctx_suppress>;
  t.hotkey = command<do_hotkey>;
  t.audiotap = command<do_audiotap>;
  t.audiofilterset = command<do_audiofilterset>;
  t.audiofilters = command<do_audiofilters>;
  t.audiobalance = command<do_audiobalance>;
  t.menu_update = command<do_menu_update>;
  t.get = command<do_get>;
  t.notify = command<do_notify>;
  t.chrome = command<do_chrome>;
  t.dragwin = command<do_dragwin>;
  t.resizewin = command<do_resizewin>;
  t.clip_write = command<do_clip_write>;
  t.clip_watch = command<do_clip_watch>;
  t.dragout = command<do_dragout>;
  t.keystroke = command<do_keystroke>;
  t.perm = command<do_perm>;
  t.shell = command<do_shell>;
  t.login = command<do_login>;
  t.power = command<do_power>;
  t.sound = command<do_sound>;
  t.share = command<do_share>;
  t.nowplaying = command<do_nowplaying>;
  t.say = command<do_say>;
  t.record = command<do_record>;
  t.winctrl = command<do_winctrl>;
  t.saystop = command<do_saystop>;
  t.voices = command<do_voices>;
  t.pickcolor = command<do_pickcolor>;
  t.ocr = command<do_ocr>;
  t.thumb = command<do_thumb>;
  t.secret = command<do_secret>;
  t.auth = command<do_auth>;
  t.osa = command<do_osa>;
  t.quicklook = command<do_quicklook>;
  t.capture = command<do_capture>;
  t.badge = command<do_badge>;
  t.attention = command<do_attention>;
  t.progress = command<do_progress>;
  t.pdf = command<do_pdf>;
  t.appicon = command<do_appicon>;
  t.cookies = command<do_cookies>;
  t.spotlight = command<do_spotlight>;
  t.ai = command<do_ai>;
  t.ai_tool_result = ai_tool_result;
  t.print = command<do_print>;
  t.reload = command<do_reload>;
  t.quit = command<do_terminate>;
  return t;
}
