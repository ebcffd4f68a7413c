#include "platform/fake/fake_dialogs.h"

namespace platform::fake {

std::vector<ModalDialog::Button> FakeDialog::buttons() const {
  std::vector<Button> out;
  if (panel) return out;
  for (size_t i = 0; i < alert.buttons.size(); ++i)
    out.push_back({alert.buttons[i], i == 0 ? "\r" : int(i) == alert.cancel_button ? "\x1b" : ""});
  return out;
}

bool FakeDialog::press_return() {
  const bool ok = panel_spec.kind == FilePanelKind::kDirectory || !chosen.empty();
  if (ok) finish_panel(true);
  return ok;
}

void FakeDialog::dismiss() {
  if (panel)
    finish_panel(false);
  else
    finish_alert(alert.cancel_button >= 0 ? kAlertFirstButtonReturn + alert.cancel_button : -1);
}

void FakeDialog::finish_alert(long response) {
  if (!open) return;
  open = false;
  ++answers;
  if (alert_done_) alert_done_(response, field);
}

void FakeDialog::finish_panel(bool accepted) {
  if (!open) return;
  open = false;
  ++answers;
  if (panel_done_) panel_done_(accepted, accepted ? chosen : std::vector<std::string>());
}

void FakeDialogs::run_file_panel(const FilePanelSpec& spec, const DialogPlace& place, FilePanelDone done) {
  auto d = std::make_unique<FakeDialog>();
  d->panel = true;
  d->panel_spec = spec;
  d->place = place;
  if (spec.kind == FilePanelKind::kSave) d->chosen = {d->folder + "/" + (spec.name.empty() ? "Untitled" : spec.name)};
  if (spec.kind == FilePanelKind::kDirectory) d->chosen = {d->folder};
  d->set_done(std::move(done));
  shown.push_back(std::move(d));
}

void FakeDialogs::run_alert(const AlertSpec& spec, const DialogPlace& place, AlertDone done) {
  auto d = std::make_unique<FakeDialog>();
  d->alert = spec;
  d->place = place;
  d->field = spec.field_text;
  d->set_done(std::move(done));
  shown.push_back(std::move(d));
}

ModalDialog* FakeDialogs::modal_dialog() {
  for (auto it = shown.rbegin(); it != shown.rend(); ++it)
    if ((*it)->open) return it->get();
  return nullptr;
}

size_t FakeDialogs::open_count() const {
  size_t n = 0;
  for (auto& d : shown) n += d->open;
  return n;
}

void FakeDialogs::window_closed(NativeWindow* window) {
  for (size_t i = 0; i < shown.size(); ++i)
    if (shown[i]->open && shown[i]->place.close_with_window && shown[i]->place.window == window) shown[i]->dismiss();
}

void FakeDialogs::page_closed(WebView* page) {
  for (size_t i = 0; i < shown.size(); ++i)
    if (shown[i]->open && shown[i]->place.close_with_window && shown[i]->place.page == page) shown[i]->dismiss();
}

}  // namespace platform::fake
