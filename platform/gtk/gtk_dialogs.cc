// Dialogs on GTK 3, and WebKit's page dialogs handed to the host.

#include "platform/gtk/gtk_dialogs.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

// Runs a callback of the host's logic from a GTK signal: nothing may unwind
// through GLib's frames.
template <class Fn>
void safely(Fn&& fn) noexcept {
  try {
    fn();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quibex: a dialog's answer failed: %s\n", e.what());
  } catch (...) {
    std::fputs("quibex: a dialog's answer failed\n", stderr);
  }
}

// A button label as written: GTK reads an underscore as a mnemonic.
std::string literal_label(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '_') out += '_';
    out += c;
  }
  return out;
}

// The window a dialog stays above: the one showing the page, else the window.
GtkWindow* parent_of(const DialogPlace& place) {
  GtkWidget* w = nullptr;
  if (place.page) w = gtk_widget_get_toplevel(GTK_WIDGET(place.page->native_handle()));
  if ((!w || !GTK_IS_WINDOW(w) || !gtk_widget_is_toplevel(w)) && place.window)
    w = GTK_WIDGET(place.window->native_handle());
  return w && GTK_IS_WINDOW(w) && gtk_widget_is_toplevel(w) ? GTK_WINDOW(w) : nullptr;
}

// GTK sizes a file chooser from its font and from the size a person last left one
// at, whatever the screen: on a 1280x800 screen its buttons fell below the edge.
// A panel opens at most 90% of the work area of its window's monitor, which leaves
// room for the window manager's frame: a size limit while GTK sizes and places it,
// lifted once it shows (at the size it has) so that a person may still enlarge it.
void lift_size_limit(GtkWidget* panel, gpointer) {
  int width = 0, height = 0;
  gtk_window_get_size(GTK_WINDOW(panel), &width, &height);
  gtk_window_resize(GTK_WINDOW(panel), width, height);
  gtk_window_set_geometry_hints(GTK_WINDOW(panel), nullptr, nullptr, GdkWindowHints(0));
}

void fit_to_work_area(GtkWidget* panel, GtkWindow* parent) {
  GdkDisplay* display = gtk_widget_get_display(panel);
  GdkWindow* where = parent ? gtk_widget_get_window(GTK_WIDGET(parent)) : nullptr;
  GdkMonitor* monitor = where ? gdk_display_get_monitor_at_window(display, where) : nullptr;
  if (!monitor) monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  GdkGeometry most{};
  most.max_width = area.width * 9 / 10;
  most.max_height = area.height * 9 / 10;
  gtk_window_set_geometry_hints(GTK_WINDOW(panel), nullptr, &most, GDK_HINT_MAX_SIZE);
  g_signal_connect_after(panel, "map", G_CALLBACK(lift_size_limit), nullptr);
}

class HostDialog;
std::vector<HostDialog*> g_open;  // in the order they opened

class HostDialog : public ModalDialog {
 public:
  HostDialog(GtkWidget* widget, bool panel, int cancel_button)
      : widget_(widget), panel_(panel), cancel_button_(cancel_button) {}

  bool is_file_panel() const override { return panel_; }

  std::vector<Button> buttons() const override {
    std::vector<Button> out;
    for (GtkWidget* b : button_widgets()) {
      const gint response = gtk_dialog_get_response_for_widget(GTK_DIALOG(widget_), b);
      const char* label = gtk_button_get_label(GTK_BUTTON(b));
      std::string title;
      for (const char* c = label ? label : ""; *c; ++c) {  // as shown: mnemonics aside
        if (*c == '_' && *++c == '\0') break;
        title += *c;
      }
      std::string key;
      if (gtk_widget_has_default(b))
        key = "\r";
      else if (cancel_button_ >= 0 && response == kAlertFirstButtonReturn + cancel_button_)
        key = "\x1b";
      out.push_back({title, key});
    }
    return out;
  }

  void click(size_t index) override {
    std::vector<GtkWidget*> all = button_widgets();
    if (index < all.size()) gtk_button_clicked(GTK_BUTTON(all[index]));
  }

  void cancel() override { gtk_dialog_response(GTK_DIALOG(widget_), GTK_RESPONSE_CANCEL); }

  bool press_return() override {
    // Return activates the default button, as a person's key press would; the
    // dialog may be gone afterwards. A save or folder panel that has not read
    // its folder yet has nothing to take Return with.
    if (panel_ && gtk_file_chooser_get_action(GTK_FILE_CHOOSER(widget_)) != GTK_FILE_CHOOSER_ACTION_OPEN &&
        !has_choice())
      return false;
    std::shared_ptr<bool> answered = answered_;
    gtk_window_activate_default(GTK_WINDOW(widget_));
    return *answered;
  }

  void accept() override {
    // OK with what the panel holds, whatever the panel would still check (an
    // existing file is replaced: the answer was given in advance).
    if (*answered_) return;
    const GtkFileChooserAction action = gtk_file_chooser_get_action(GTK_FILE_CHOOSER(widget_));
    if (action == GTK_FILE_CHOOSER_ACTION_OPEN || has_choice()) {
      accept_now();
      return;
    }
    // A save or folder panel proposes its folder only once GTK has read it, a
    // few turns of the main loop after it opens: accepted earlier, it would
    // answer as if nothing were chosen. Wait for it, a while at most.
    struct Wait {
      HostDialog* self;
      std::shared_ptr<bool> answered;  // once set, self may be gone
      int left;
    };
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, 50,
        +[](gpointer p) -> gboolean {
          auto* wt = static_cast<Wait*>(p);
          if (*wt->answered) return G_SOURCE_REMOVE;
          if (--wt->left > 0 && !wt->self->has_choice()) return G_SOURCE_CONTINUE;
          wt->self->accept_now();
          return G_SOURCE_REMOVE;
        },
        new Wait{this, answered_, 60}, +[](gpointer p) { delete static_cast<Wait*>(p); });
  }

  // Opens it; the dialog answers once and then goes.
  void start(const DialogPlace& place) {
    g_open.push_back(this);
    if (place.close_with_window && place.page) {
      page_ = G_OBJECT(place.page->native_handle());
      g_object_weak_ref(page_, &HostDialog::on_page_gone, this);
    }
    g_signal_connect(widget_, "response", G_CALLBACK(&HostDialog::on_response), this);
    g_signal_connect(widget_, "destroy", G_CALLBACK(&HostDialog::on_destroy), this);
    gtk_window_present(GTK_WINDOW(widget_));
  }

  GtkWidget* widget_;
  GtkWidget* entry_ = nullptr;
  FilePanelDone panel_done_;
  AlertDone alert_done_;

 private:
  // The dialog's own buttons, depth first.
  std::vector<GtkWidget*> button_widgets() const {
    std::vector<GtkWidget*> out;
    collect(widget_, out);
    return out;
  }
  void collect(GtkWidget* w, std::vector<GtkWidget*>& out) const {
    if (GTK_IS_BUTTON(w) &&
        gtk_dialog_get_response_for_widget(GTK_DIALOG(widget_), w) != GTK_RESPONSE_NONE) {
      out.push_back(w);
      return;
    }
    if (!GTK_IS_CONTAINER(w)) return;
    struct Walk {
      const HostDialog* self;
      std::vector<GtkWidget*>* out;
    } walk{this, &out};
    gtk_container_forall(
        GTK_CONTAINER(w), +[](GtkWidget* child, gpointer p) {
          auto* wk = static_cast<Walk*>(p);
          wk->self->collect(child, *wk->out);
        },
        &walk);
  }

  bool has_choice() const { return GPtr<char>(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(widget_))) != nullptr; }
  void accept_now() {
    GtkWidget* w = widget_;
    finish_panel(true);
    close_soon(w);
  }
  void leave() {
    *answered_ = true;
    g_open.erase(std::remove(g_open.begin(), g_open.end(), this), g_open.end());
  }
  void finish_panel(bool accepted) {
    if (*answered_) return;
    std::vector<std::string> paths;
    if (accepted) {
      GSList* names = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(widget_));
      for (GSList* n = names; n; n = n->next) paths.push_back(take_string(static_cast<char*>(n->data)));
      g_slist_free(names);
    }
    leave();
    FilePanelDone done = std::move(panel_done_);
    if (done) safely([&] { done(accepted, paths); });
  }
  void finish_alert(long response) {
    if (*answered_) return;
    const std::string field = entry_ ? gtk_entry_get_text(GTK_ENTRY(entry_)) : "";
    leave();
    AlertDone done = std::move(alert_done_);
    if (done) safely([&] { done(response, field); });
  }
  // Escape, the window's close button, or the window it belongs to going away.
  long dismissed_response() const { return cancel_button_ >= 0 ? kAlertFirstButtonReturn + cancel_button_ : -1; }

  static void on_response(GtkDialog* d, gint response, HostDialog* self) {
    if (self->panel_)
      self->finish_panel(response == GTK_RESPONSE_ACCEPT);
    else
      self->finish_alert(response >= kAlertFirstButtonReturn ? response : self->dismissed_response());
    close_soon(GTK_WIDGET(d));
  }
  // The response may come from inside a key press that GTK is still handing to
  // the dialog's widgets: they go once it is through.
  static void close_soon(GtkWidget* w) {
    gtk_widget_hide(w);
    g_idle_add_full(
        G_PRIORITY_HIGH_IDLE,
        +[](gpointer p) -> gboolean {
          gtk_widget_destroy(GTK_WIDGET(p));
          g_object_unref(p);
          return G_SOURCE_REMOVE;
        },
        g_object_ref(w), nullptr);
  }
  static void on_destroy(GtkWidget*, HostDialog* self) {
    if (self->panel_)
      self->finish_panel(false);
    else
      self->finish_alert(self->dismissed_response());
    if (self->page_) g_object_weak_unref(self->page_, &HostDialog::on_page_gone, self);
    delete self;
  }
  static void on_page_gone(gpointer p, GObject*) {
    auto* self = static_cast<HostDialog*>(p);
    self->page_ = nullptr;
    gtk_widget_destroy(self->widget_);
  }

  bool panel_;
  int cancel_button_;
  GObject* page_ = nullptr;  // a page the dialog closes with (weak)
  std::shared_ptr<bool> answered_ = std::make_shared<bool>(false);
};

// Every descendant label of a dialog, as laid out.
void set_labels_selectable(GtkWidget* w, bool selectable) {
  if (GTK_IS_LABEL(w)) gtk_label_set_selectable(GTK_LABEL(w), selectable);
  if (GTK_IS_CONTAINER(w))
    gtk_container_forall(
        GTK_CONTAINER(w), +[](GtkWidget* c, gpointer p) { set_labels_selectable(c, *static_cast<bool*>(p)); },
        &selectable);
}

class GtkDialogs : public Dialogs {
 public:
  void run_file_panel(const FilePanelSpec& spec, const DialogPlace& place, FilePanelDone done) override {
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
    const char* title = "Open";
    const char* ok = "_Open";
    if (spec.kind == FilePanelKind::kSave) {
      action = GTK_FILE_CHOOSER_ACTION_SAVE;
      title = "Save";
      ok = "_Save";
    } else if (spec.kind == FilePanelKind::kDirectory) {
      action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
      title = "Choose a Folder";
      ok = "_Choose";
    }
    GtkWindow* parent = parent_of(place);
    GtkWidget* d = gtk_file_chooser_dialog_new(title, parent, action, "_Cancel", GTK_RESPONSE_CANCEL, ok,
                                               GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* fc = GTK_FILE_CHOOSER(d);
    gtk_window_set_modal(GTK_WINDOW(d), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(d), place.close_with_window);
    gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(fc, TRUE);
    gtk_file_chooser_set_select_multiple(fc, spec.kind == FilePanelKind::kOpenMultiple);
    if (spec.kind == FilePanelKind::kSave) {
      gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
      // A save panel always proposes a name, as the desktops the host came from do.
      gtk_file_chooser_set_current_name(fc, spec.name.empty() ? "Untitled" : spec.name.c_str());
    }
    if (!spec.directory.empty()) gtk_file_chooser_set_current_folder(fc, spec.directory.c_str());
    if (!spec.extensions.empty() && spec.kind != FilePanelKind::kDirectory) {
      GtkFileFilter* filter = gtk_file_filter_new();
      std::string name;
      for (const std::string& ext : spec.extensions) {
        gtk_file_filter_add_pattern(filter, extension_pattern(ext).c_str());
        name += (name.empty() ? "*." : ", *.") + ext;
      }
      gtk_file_filter_set_name(filter, take_string(g_utf8_make_valid(name.c_str(), gssize(name.size()))).c_str());
      gtk_file_chooser_add_filter(fc, filter);  // the only one: it is in force
    }
    fit_to_work_area(d, parent);
    auto* h = new HostDialog(d, true, -1);
    h->panel_done_ = std::move(done);
    h->start(place);
  }

  void run_alert(const AlertSpec& spec, const DialogPlace& place, AlertDone done) override {
    GtkWindow* parent = parent_of(place);
    GtkWidget* d = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s",
                                          spec.message.c_str());
    gtk_window_set_title(GTK_WINDOW(d), spec.title.c_str());
    gtk_window_set_destroy_with_parent(GTK_WINDOW(d), place.close_with_window);
    if (!spec.informative.empty())
      gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", spec.informative.c_str());
    // The first button on the right, where the affirmative answer goes.
    for (size_t i = spec.buttons.size(); i-- > 0;)
      gtk_dialog_add_button(GTK_DIALOG(d), literal_label(spec.buttons[i]).c_str(),
                            gint(kAlertFirstButtonReturn + long(i)));
    if (!spec.buttons.empty()) gtk_dialog_set_default_response(GTK_DIALOG(d), gint(kAlertFirstButtonReturn));
    set_labels_selectable(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(d)), spec.selectable);
    auto* h = new HostDialog(d, false, spec.cancel_button);
    if (spec.has_field) {
      GtkWidget* entry = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(entry), spec.field_text.c_str());
      gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
      gtk_widget_set_size_request(entry, 260, -1);
      gtk_box_pack_end(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(d))), entry, FALSE, FALSE,
                       0);
      gtk_widget_show(entry);
      h->entry_ = entry;
    }
    h->alert_done_ = std::move(done);
    h->start(place);
    // The keyboard goes to the field, else to the default button, never to a label.
    if (h->entry_)
      gtk_widget_grab_focus(h->entry_);
    else if (GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(d), gint(kAlertFirstButtonReturn)))
      gtk_widget_grab_focus(b);
  }

  ModalDialog* modal_dialog() override { return g_open.empty() ? nullptr : g_open.back(); }
};

// ---------------------------------------------------------------- pages

// A page's script dialog as the host holds it. While WebKit is still emitting
// the signal, the dialog must not be closed: WebKit drops its own reference to
// it right after the emission, and a dialog closed before that is gone by then.
// An answer given during the emission only sets the result; WebKit closes the
// dialog with it when it lets go.
struct ScriptDialogState {
  WebKitScriptDialog* dialog = nullptr;  // the host's reference; null once let go
  bool in_signal = true;
  bool answered = false;
};

class GtkPageDialogReply : public PageDialogReply {
 public:
  explicit GtkPageDialogReply(std::shared_ptr<ScriptDialogState> s) : s_(std::move(s)) {}
  ~GtkPageDialogReply() override {
    if (!s_->dialog) return;
    if (!s_->in_signal) webkit_script_dialog_close(s_->dialog);  // nothing when answered already
    webkit_script_dialog_unref(s_->dialog);
    s_->dialog = nullptr;
  }
  void answer(bool ok, const std::string& text) override {
    if (s_->answered || !s_->dialog) return;
    s_->answered = true;
    WebKitScriptDialog* d = s_->dialog;
    switch (webkit_script_dialog_get_dialog_type(d)) {
      case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(d, ok);
        break;
      case WEBKIT_SCRIPT_DIALOG_PROMPT:
        if (ok) webkit_script_dialog_prompt_set_text(d, text.c_str());
        break;
      default:
        break;
    }
    if (!s_->in_signal) webkit_script_dialog_close(d);
  }

 private:
  std::shared_ptr<ScriptDialogState> s_;
};

class GtkFileChooserReply : public FileChooserReply {
 public:
  explicit GtkFileChooserReply(WebKitFileChooserRequest* r) : r_(add_ref(r)) {}
  ~GtkFileChooserReply() override {
    if (!done_) webkit_file_chooser_request_cancel(r_.get());
  }
  void choose(const std::vector<std::string>& paths) override {
    if (done_) return;
    done_ = true;
    if (paths.empty()) {
      webkit_file_chooser_request_cancel(r_.get());
      return;
    }
    // WebKit decodes %XX sequences in the paths it is given, so a "%" that is
    // part of a file's name travels as %25.
    std::vector<std::string> escaped;
    for (const std::string& p : paths) {
      std::string e;
      for (char c : p) {
        if (c == '%')
          e += "%25";
        else
          e += c;
      }
      escaped.push_back(std::move(e));
    }
    std::vector<const char*> argv;
    for (const std::string& e : escaped) argv.push_back(e.c_str());
    argv.push_back(nullptr);
    webkit_file_chooser_request_select_files(r_.get(), argv.data());
  }

 private:
  GObjectPtr<WebKitFileChooserRequest> r_;
  bool done_ = false;
};

constexpr const char* kPageHooks = "quibex-page-dialogs";

struct PageHooks {
  PageDialogHandler dialogs;
  FileChooserHandler files;
  bool committed = false;
  std::string host;  // of the document committed last
  SignalConnection signals[3];
};

// The host of a URI's security origin; "" when it has none.
std::string origin_host(const char* uri) {
  if (!uri) return "";
  WebKitSecurityOrigin* o = webkit_security_origin_new_for_uri(uri);
  if (!o) return "";
  const char* host = webkit_security_origin_get_host(o);
  std::string out = host ? host : "";
  webkit_security_origin_unref(o);
  return out;
}

gboolean on_script_dialog(WebKitWebView* view, WebKitScriptDialog* d, PageHooks* hooks) {
  PageDialog pd;
  switch (webkit_script_dialog_get_dialog_type(d)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT: pd.kind = PageDialogKind::kAlert; break;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM: pd.kind = PageDialogKind::kConfirm; break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      pd.kind = PageDialogKind::kPrompt;
      if (const char* t = webkit_script_dialog_prompt_get_default_text(d)) pd.default_text = t;
      break;
    default:
      return FALSE;  // leaving the page: the engine's own
  }
  if (!hooks->dialogs) return FALSE;
  if (const char* m = webkit_script_dialog_get_message(d)) pd.message = m;
  // WebKit does not say which frame asks: the document the view shows speaks for
  // it (the one committed, not one still loading).
  pd.origin_host = hooks->committed ? hooks->host : origin_host(webkit_web_view_get_uri(view));
  auto state = std::make_shared<ScriptDialogState>();
  state->dialog = webkit_script_dialog_ref(d);
  auto reply = std::make_unique<GtkPageDialogReply>(state);
  safely([&] { hooks->dialogs(pd, std::move(reply)); });
  state->in_signal = false;
  // Answered already: let go, and WebKit closes it with the answer as it returns.
  if (state->answered && state->dialog) {
    webkit_script_dialog_unref(state->dialog);
    state->dialog = nullptr;
  }
  return TRUE;
}

gboolean on_run_file_chooser(WebKitWebView*, WebKitFileChooserRequest* r, PageHooks* hooks) {
  if (!hooks->files) return FALSE;
  FileChooserRequest req;
  req.multiple = webkit_file_chooser_request_get_select_multiple(r);
  auto reply = std::make_unique<GtkFileChooserReply>(r);
  safely([&] { hooks->files(req, std::move(reply)); });
  return TRUE;
}

void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, PageHooks* hooks) {
  if (event != WEBKIT_LOAD_COMMITTED) return;
  hooks->committed = true;
  hooks->host = origin_host(webkit_web_view_get_uri(view));
}

}  // namespace

Dialogs& gtk_dialogs() {
  static GtkDialogs dialogs;
  return dialogs;
}

Dialogs& GtkPlatform::dialogs() { return gtk_dialogs(); }

std::string extension_pattern(const std::string& extension) {
  std::string out = "*.";
  const char* p = extension.c_str();
  const char* end = p + extension.size();
  if (!g_utf8_validate(p, gssize(extension.size()), nullptr)) {
    // Bytes that are no text are matched as they are.
    for (char c : extension) {
      if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') out += '\\';
      out += c;
    }
    return out;
  }
  for (; p < end; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    const gunichar lo = g_unichar_tolower(c), up = g_unichar_toupper(c);
    char buf[2][8] = {};
    if (lo != up) {
      g_unichar_to_utf8(lo, buf[0]);
      g_unichar_to_utf8(up, buf[1]);
      out += std::string("[") + buf[0] + buf[1];
      if (c != lo && c != up) {  // title case: itself too
        char own[8] = {};
        g_unichar_to_utf8(c, own);
        out += own;
      }
      out += "]";
    } else {
      if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') out += '\\';
      out.append(p, size_t(g_utf8_next_char(p) - p));
    }
  }
  return out;
}

void connect_page_dialogs(WebKitWebView* view, PageDialogHandler dialogs, FileChooserHandler files) {
  auto* hooks = static_cast<PageHooks*>(g_object_get_data(G_OBJECT(view), kPageHooks));
  if (!hooks) {
    hooks = new PageHooks;
    hooks->signals[0] = SignalConnection(view, "script-dialog", G_CALLBACK(on_script_dialog), hooks);
    hooks->signals[1] = SignalConnection(view, "run-file-chooser", G_CALLBACK(on_run_file_chooser), hooks);
    hooks->signals[2] = SignalConnection(view, "load-changed", G_CALLBACK(on_load_changed), hooks);
    g_object_set_data_full(G_OBJECT(view), kPageHooks, hooks, +[](gpointer p) { delete static_cast<PageHooks*>(p); });
  }
  hooks->dialogs = std::move(dialogs);
  hooks->files = std::move(files);
}

void disconnect_page_dialogs(WebKitWebView* view) {
  g_object_set_data(G_OBJECT(view), kPageHooks, nullptr);  // frees the hooks, which disconnect
}

}  // namespace platform::gtk
