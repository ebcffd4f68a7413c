#pragma once
// Native dialogs: the open, save and folder panels and the alerts that DLG asks
// for, and the alert, confirm, prompt and file-input dialogs of pages. Main thread.

#include <memory>
#include <string>
#include <vector>

#include "core/records.h"
#include "platform/platform.h"

// Splits a comma-separated list of file-name extensions into the panel's
// offer; empty pieces, and pieces that no file name can end in, are skipped.
// Nothing is offered (so every file may be chosen) when none is left.
void apply_type_filter(platform::FilePanelSpec& panel, const std::string& extensions);

// Where the dialog for a call id shows: a page call's dialog above its window,
// closing with it (its answer could go nowhere after that); any other above the
// key window, else the main window, and it outlives that window.
platform::DialogPlace dialog_place_for_call(void* w, const std::string& id);

// The title of a page's dialog: its origin's host, else the application's name.
std::string quib_js_dialog_title(const std::string& origin_host);

// Paths as JSON can carry them: a path that is not UTF-8 cannot be named to the
// backend or a page without becoming another path, so it is left out, with a
// line on stderr.
std::vector<std::string> keep_utf8_paths(const std::vector<std::string>& paths);

// A save panel: the chosen path, or nothing when cancelled. Armed for the test
// auto-dialog. For every part of the host that asks where to save; directory ""
// leaves the folder to the desktop.
void run_save_panel(const std::string& extensions, const std::string& name, const platform::DialogPlace& place,
                    std::function<void(const std::string* path)> done, const std::string& directory = "");

// Gives a web view the host's page dialogs and file chooser.
void apply_page_dialog_hooks(platform::WebView* view);

// DLG: the panel or alert it asks for, answered when it closes.
void do_dialog(void* w, std::unique_ptr<DlgReq> r);
