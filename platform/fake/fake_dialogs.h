#pragma once
// Dialogs in memory: each one the host opens is kept with what it was asked to
// show; a test answers it as a person would (or lets the auto-dialog do so), and
// it answers exactly once, as the desktop's dialogs do.

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::fake {

class FakeDialog : public ModalDialog {
 public:
  bool panel = false;
  FilePanelSpec panel_spec;
  AlertSpec alert;
  DialogPlace place;
  bool open = true;
  int answers = 0;  // how often it answered: never more than once
  // What a person has chosen or typed so far. A save panel starts with its
  // proposed name in `folder`; a text field with its text.
  std::vector<std::string> chosen;
  std::string field;
  std::string folder = "/home/user";

  bool is_file_panel() const override { return panel; }
  // First button: Return; the cancel button: Escape.
  std::vector<Button> buttons() const override;
  void click(size_t index) override { finish_alert(kAlertFirstButtonReturn + long(index)); }
  void cancel() override { finish_panel(false); }
  // Return chooses OK when OK can be chosen: a save panel with a name, a folder
  // panel, an open panel with something chosen.
  bool press_return() override;
  void accept() override { finish_panel(true); }
  // Escape, the close button, or its window going away.
  void dismiss();

  void set_done(FilePanelDone d) { panel_done_ = std::move(d); }
  void set_done(AlertDone d) { alert_done_ = std::move(d); }

 private:
  void finish_alert(long response);
  void finish_panel(bool accepted);
  FilePanelDone panel_done_;
  AlertDone alert_done_;
};

class FakeDialogs : public Dialogs {
 public:
  void run_file_panel(const FilePanelSpec& spec, const DialogPlace& place, FilePanelDone done) override;
  void run_alert(const AlertSpec& spec, const DialogPlace& place, AlertDone done) override;
  ModalDialog* modal_dialog() override;
  // The dialog opened last, open or not; null before the first.
  FakeDialog* last() { return shown.empty() ? nullptr : shown.back().get(); }
  size_t open_count() const;
  // The window or page goes away: the dialogs that close with it are dismissed.
  void window_closed(NativeWindow* window);
  void page_closed(WebView* page);

  std::vector<std::unique_ptr<FakeDialog>> shown;  // in the order they opened
};

}  // namespace platform::fake
