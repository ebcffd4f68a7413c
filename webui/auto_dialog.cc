#include "webui/auto_dialog.h"

#include <cstdlib>

namespace {
constexpr double kPollMs = 200;
constexpr int kTries = 30;  // after the first look: 31 in all
}  // namespace

void quib_test_autodlg_arm() {
  const char* v = std::getenv("QUIBEX_TEST_AUTODLG");
  if (v && *v) quib_test_autodlg_poll(v, kTries);
}

void quib_test_autodlg_poll(const std::string& answer, int tries) {
  platform::current().timers().once(kPollMs, [answer, tries] {
    if (!quib_test_autodlg_check(answer) && tries > 0) quib_test_autodlg_poll(answer, tries - 1);
  });
}

std::optional<size_t> quib_autodlg_button(const std::vector<platform::ModalDialog::Button>& buttons, bool cancel) {
  const std::string wanted = cancel ? "\x1b" : "\r";
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].key == wanted) return i;
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].key == "\r") return i;
  if (!buttons.empty()) return 0;
  return std::nullopt;
}

bool quib_test_autodlg_check(const std::string& answer) {
  platform::ModalDialog* d = platform::current().dialogs().modal_dialog();
  if (!d) return false;
  const bool cancel = answer == "cancel";
  if (d->is_file_panel()) {
    if (cancel)
      d->cancel();
    else if (!d->press_return())
      d->accept();
  } else if (auto i = quib_autodlg_button(d->buttons(), cancel)) {
    d->click(*i);
  }
  return true;
}
