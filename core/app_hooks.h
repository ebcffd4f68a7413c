#pragma once
// The application's own hooks: what later starts of the application ask of the
// running one (open requests, reopen), accessory mode, and the gate that holds
// every window back while start-up runs.

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

// The id under which a bundle's application is unique on the desktop: its
// bundle identifier when it has one, else one made from the bundle's name and
// where the bundle lies (two bundles of the same name elsewhere are two
// applications). Made valid as an application id and a D-Bus name: elements of
// letters, digits, "_" and "-" that do not start with a digit, at least two of
// them, at most 255 characters.
std::string application_id_for(const std::string& bundle_identifier, const std::string& bundle_name,
                               const std::string& bundle_path);

// How a start's arguments divide between open requests and the host's own. In a
// bundle, a first argument "--open" selects bundle mode and makes every argument
// after it an open request (the desktop entry's form). The one argument of a
// bundle start (fewer than two select bundle mode) is an open request too when it
// is a link (a URI scheme and a colon) or names a file that exists, as a desktop
// entry's %U passes it; anything else there (an option, a missing file) is
// ignored, and `ignored` holds it so that the start can say so. Every other
// argument is the host's own. Relative paths are taken against the working
// directory.
struct StartArgs {
  bool open_start = false;
  std::vector<std::string> open;
  std::vector<std::string> own;
  std::optional<std::string> ignored;
};
StartArgs split_start_args(const std::vector<std::string>& args, bool in_bundle);

// Writes what one open request asks: an OPENURL line for each URL, in order,
// then one OPENFILES line with a JSON array of the file paths. Paths that are
// among the host's own arguments are left out; nothing left writes nothing.
void send_open_items(const std::vector<platform::OpenItem>& items);

// Whether any of the host's windows is on screen.
bool any_window_visible();
// The reopen decision for a later start with nothing to open: with no window on
// screen, hide-on-close on and a main window, shows the main window as
// "WINOP show" does and answers false; otherwise answers true (the desktop's
// default: bring the application forward).
bool quib_reopen(bool has_visible_windows);
// A later start with nothing to open: quib_reopen, else the default.
void app_reopen();

// Later starts of the application reach the host from here on.
void install_open_handlers();
// No task-bar or pager entries until "WINOP presence 1"; a request for the
// regular policy meanwhile still gets the accessory one. Also holds windows back.
void install_accessory_mode();
// Holds every window back (no show, no activation) while settings().suppress_order_front is set.
void install_order_front_suppression();

// Takes the gates away again; for tests that reuse the process.
void app_hooks_reset_for_tests();
