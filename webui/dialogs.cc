#include "webui/dialogs.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "base/json_out.h"
#include "base/utf8.h"
#include "base/wire_text.h"
#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "platform/webview_lib.h"
#include "webui/auto_dialog.h"
#include "webui/context_menu.h"

namespace {

using platform::AlertSpec;
using platform::DialogPlace;
using platform::FilePanelKind;
using platform::FilePanelSpec;

platform::Dialogs& dialogs() { return platform::current().dialogs(); }

// The answer of a panel: the JSON string of the first path, or of every path in
// an array; null when cancelled or when nothing usable was chosen.
std::string panel_result(bool accepted, const std::vector<std::string>& chosen, bool several) {
  if (!accepted) return "null";
  const std::vector<std::string> paths = keep_utf8_paths(chosen);
  if (paths.empty()) return "null";
  if (!several) return json_escape(paths.front());
  std::string out = "[";
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i) out += ",";
    json_escape_into(out, paths[i]);
  }
  return out + "]";
}

// Answers go through the main window as it is when they come, not as it was when
// the dialog opened: it may have gone meanwhile.
void answer(const std::string& id, const std::string& json) { reply_to_call(g_w.load(), id, 0, json); }

// The desktop shows only UTF-8: each ill-formed sequence shows as U+FFFD.
std::string text(const std::string& s) { return utf8_sanitize(s); }

AlertSpec alert_spec(const std::string& message, const std::string& informative) {
  AlertSpec a;
  a.title = text(settings().app_name);
  a.message = text(message.empty() ? settings().app_name : message);
  a.informative = text(informative);
  // Page text in dialogs cannot be selected while the context menu is suppressed.
  a.selectable = !g_ctx_suppress;
  return a;
}

const std::string& or_default(const std::string& s, const std::string& fallback) { return s.empty() ? fallback : s; }

}  // namespace

void apply_type_filter(FilePanelSpec& panel, const std::string& text) {
  panel.extensions.clear();
  for (std::string_view piece : split_commas(text)) {
    // Taken as given, spaces and dots included; a "/" or NUL can end no file name.
    if (!piece.empty() && piece.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos)
      panel.extensions.emplace_back(piece);
  }
}

platform::DialogPlace dialog_place_for_call(void* w, const std::string& id) {
  DialogPlace place;
  const size_t colon = id.find(':');
  if (colon != std::string::npos) {
    if (platform::NativeWindow* win = window_for_id(w, id.substr(0, colon), Lookup::kProbe)) {
      place.window = win;
      place.close_with_window = true;
      return place;
    }
  }
  platform::NativeWindow* main = window_for_id(w, "main", Lookup::kProbe);
  if (main && main->is_key()) {
    place.window = main;
    return place;
  }
  for (auto& [wid, qw] : g_windows)
    if (qw.window && qw.window->is_key()) {
      place.window = qw.window.get();
      return place;
    }
  place.window = main;
  return place;
}

std::string quib_js_dialog_title(const std::string& origin_host) { return or_default(origin_host, settings().app_name); }

std::vector<std::string> keep_utf8_paths(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  for (const std::string& p : paths) {
    if (utf8_valid(p) && p.find('\0') == std::string::npos) {
      out.push_back(p);
    } else {
      std::fprintf(stderr, "quibex: a chosen file's path is not UTF-8 and cannot be passed on: %s\n",
                   utf8_sanitize(p).c_str());
    }
  }
  return out;
}

void run_save_panel(const std::string& extensions, const std::string& name, const DialogPlace& place,
                    std::function<void(const std::string* path)> done, const std::string& directory) {
  FilePanelSpec spec;
  spec.kind = FilePanelKind::kSave;
  apply_type_filter(spec, extensions);
  spec.name = text(name);
  spec.directory = directory;
  quib_test_autodlg_arm();
  dialogs().run_file_panel(spec, place, [done = std::move(done)](bool accepted, const std::vector<std::string>& chosen) {
    const std::vector<std::string> paths = accepted ? keep_utf8_paths(chosen) : std::vector<std::string>();
    done(paths.empty() ? nullptr : &paths.front());
  });
}

void do_dialog(void* w, std::unique_ptr<DlgReq> r) {
  auto arg = [&](size_t i) -> const std::string& {
    static const std::string kNone;
    return i < r->args.size() ? r->args[i] : kNone;
  };
  const std::string id = r->id;
  const std::string& kind = r->kind;
  const DialogPlace place = dialog_place_for_call(w, id);

  if (kind == "save") {
    run_save_panel(arg(0), arg(1), place, [id](const std::string* path) {
      answer(id, path ? json_escape(*path) : "null");
    });
  } else if (kind == "alert" || kind == "confirm") {
    AlertSpec a = alert_spec(arg(0), arg(1));
    a.buttons.push_back(text(or_default(arg(2), "OK")));
    const bool confirm = kind == "confirm";
    if (confirm) {
      a.buttons.push_back(text(or_default(arg(3), "Cancel")));
      a.cancel_button = 1;
    }
    dialogs().run_alert(a, place, [id, confirm](long response, const std::string&) {
      answer(id, !confirm || response == platform::kAlertFirstButtonReturn ? "true" : "false");
    });
  } else if (kind == "prompt") {
    AlertSpec a = alert_spec(arg(0), "");
    a.has_field = true;
    a.field_text = text(arg(1));
    a.buttons = {text(or_default(arg(2), "OK")), text(or_default(arg(3), "Cancel"))};
    a.cancel_button = 1;
    dialogs().run_alert(a, place, [id](long response, const std::string& field) {
      answer(id, response == platform::kAlertFirstButtonReturn ? json_escape(field) : "null");
    });
  } else {
    // "open", "openmulti", "dir", and anything else as "open".
    FilePanelSpec spec;
    spec.kind = kind == "dir" ? FilePanelKind::kDirectory
                : kind == "openmulti" ? FilePanelKind::kOpenMultiple
                                      : FilePanelKind::kOpen;
    if (kind != "dir") apply_type_filter(spec, arg(0));
    const bool several = kind == "openmulti";
    dialogs().run_file_panel(spec, place, [id, several](bool accepted, const std::vector<std::string>& paths) {
      answer(id, panel_result(accepted, paths, several));
    });
  }
}

// ---------------------------------------------------------------- page dialogs

namespace {

// A page's reply, held by the dialog's callback until it answers (callbacks are copied).
template <class Reply>
std::shared_ptr<Reply> share(std::unique_ptr<Reply> r) {
  return std::shared_ptr<Reply>(std::move(r));
}

void quib_js_dialog(platform::WebView* view, const platform::PageDialog& d,
                    std::unique_ptr<platform::PageDialogReply> reply) {
  AlertSpec a = alert_spec(quib_js_dialog_title(d.origin_host), d.message);
  // The title bar names who asks too, as browsers do: a page cannot pass its
  // dialog off as the application's own.
  a.title = a.message;
  a.buttons.push_back("OK");
  if (d.kind != platform::PageDialogKind::kAlert) {
    a.buttons.push_back("Cancel");
    a.cancel_button = 1;
  }
  if (d.kind == platform::PageDialogKind::kPrompt) {
    a.has_field = true;
    a.field_text = d.default_text;
  }
  DialogPlace place;
  place.page = view;
  place.close_with_window = true;
  quib_test_autodlg_arm();
  dialogs().run_alert(a, place, [r = share(std::move(reply))](long response, const std::string& field) {
    r->answer(response == platform::kAlertFirstButtonReturn, field);
  });
}

void quib_file_input(platform::WebView* view, const platform::FileChooserRequest& req,
                     std::unique_ptr<platform::FileChooserReply> reply) {
  FilePanelSpec spec;
  spec.kind = req.multiple ? FilePanelKind::kOpenMultiple : FilePanelKind::kOpen;
  DialogPlace place;
  place.page = view;
  place.close_with_window = true;
  dialogs().run_file_panel(spec, place,
                           [r = share(std::move(reply))](bool accepted, const std::vector<std::string>& paths) {
                             r->choose(accepted ? keep_utf8_paths(paths) : std::vector<std::string>());
                           });
}

}  // namespace

void apply_page_dialog_hooks(platform::WebView* view) {
  if (!view) return;
  view->set_page_dialog_handlers(
      [view](const platform::PageDialog& d, std::unique_ptr<platform::PageDialogReply> reply) {
        quib_js_dialog(view, d, std::move(reply));
      },
      [view](const platform::FileChooserRequest& req, std::unique_ptr<platform::FileChooserReply> reply) {
        quib_file_input(view, req, std::move(reply));
      });
}
