#include "webui/webui_commands.h"

#include "webui/context_menu.h"
#include "webui/dialogs.h"
#include "webui/keys.h"
#include "webui/menu_bar.h"
#include "webui/menu_state.h"
#include "webui/navigation.h"
#include "webui/page_actions.h"
#include "webui/popups.h"
#include "webui/tray.h"

void fill_webui_commands(CommandTable& t) {
  t.dialog = command<do_dialog>;
  t.navr = command<do_navr>;
  t.popupr = command<do_popupr>;
  t.find = command<do_find>;
  t.stopfind = command<do_stopfind>;
  t.win_menu_reset = command<do_win_menu_reset>;
  t.menus = command<apply_menus>;
  t.win_menu_set = command<do_win_menu_set>;
  t.tray = command<apply_tray>;
  t.ctx = command<apply_ctx>;
  t.ctx_suppress = command<apply_ctx_suppress>;
  t.hotkey = command<do_hotkey>;
  t.menu_update = command<do_menu_update>;
  t.keystroke = command<do_keystroke>;
  t.pdf = command<do_pdf>;
  t.cookies = command<do_cookies>;
  t.print = command<do_print>;
  t.reload = command<do_reload>;
}
