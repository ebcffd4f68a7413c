#pragma once
// The host's dialogs on GTK: GtkFileChooserDialog for the panels (not the
// portal-backed native chooser, which runs in another process where the test
// auto-dialog cannot reach it) and GtkMessageDialog for the alerts. Each is
// modal and answers from its response signal, so no nested main loop runs.
// Pages' script dialogs and file choosers come from WebKit's signals.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

#include "platform/platform.h"

namespace platform::gtk {

// The GTK dialogs the host has open, in the order they opened.
Dialogs& gtk_dialogs();

// A GtkFileFilter pattern that matches file names ending in "." + extension,
// whatever the case of its letters; glob characters in it match themselves.
std::string extension_pattern(const std::string& extension);

// WebKit's script-dialog and run-file-chooser signals of a view go to these
// handlers (null ones leave the engine's own); disconnect before the host's
// side of the view goes away.
void connect_page_dialogs(WebKitWebView* view, PageDialogHandler dialogs, FileChooserHandler files);
void disconnect_page_dialogs(WebKitWebView* view);

}  // namespace platform::gtk
