#pragma once
// The test auto-dialog: with QUIBEX_TEST_AUTODLG set, the host answers its own
// dialogs a moment after they open, so that automated runs never wait for a
// person. "cancel" dismisses a dialog; any other value accepts it (the default
// button, or OK of a panel; a save panel saves under its proposed name).
// Main thread.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

// Called right before a dialog opens: when QUIBEX_TEST_AUTODLG is set and not
// empty, looks for a dialog to answer 200 ms later, up to 31 times.
void quib_test_autodlg_arm();
// Looks for the dialog in front 200 ms from now; again (tries more times) while
// there is none.
void quib_test_autodlg_poll(const std::string& answer, int tries);
// Answers the dialog in front, when there is one; false when there is none.
bool quib_test_autodlg_check(const std::string& answer);
// The button the auto-dialog clicks in an alert: the first whose key equivalent
// is Escape (to cancel) or Return (to accept); failing that the first with
// Return; failing that the first; none without buttons.
std::optional<size_t> quib_autodlg_button(const std::vector<platform::ModalDialog::Button>& buttons, bool cancel);
