#include "core/core_commands.h"

#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/window_chrome.h"
#include "core/window_commands.h"
#include "core/window_ops.h"

void fill_core_commands(CommandTable& t) {
  t.reply = command<do_reply>;
  t.eval = command<do_eval_win>;
  t.title_win = command<do_title_win>;
  t.title = command<do_title>;
  t.size = command<do_size>;
  t.winopen = command<do_winopen>;
  t.winclose = command<do_winclose>;
  t.winop = command<do_winop>;
  t.chrome = command<do_chrome>;
  t.dragwin = command<do_dragwin>;
  t.resizewin = command<do_resizewin>;
  t.dragout = command<do_dragout>;
  t.quit = command<do_terminate>;
}
