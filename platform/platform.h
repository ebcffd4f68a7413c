#pragma once
// The boundary between the host's logic and the desktop. core/, webui/, services/
// and ai/ reach the desktop only through these interfaces; platform/gtk implements
// them for the Linux desktop and platform/fake in memory for tests.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/cookies.h"
#include "platform/main_queue.h"
#include "platform/media.h"
#include "platform/screens.h"
#include "platform/timers.h"
#include "platform/webview.h"
#include "platform/window.h"

namespace platform {

// A property list's top-level dictionary: strings and booleans, as the host reads them.
struct PlistDict {
  std::map<std::string, std::string> strings;
  std::map<std::string, bool> bools;
  bool has(const std::string& key) const { return strings.count(key) || bools.count(key); }
  std::string string(const std::string& key) const {
    auto it = strings.find(key);
    return it == strings.end() ? std::string() : it->second;
  }
  // A string value counts as true the way a property list's boolValue reads it.
  bool boolean(const std::string& key) const;
};

// The About panel's content.
struct AboutPanel {
  std::string name;
  std::string version;       // "Version 1.2.3"
  std::string attribution;   // credits text; "" = a line of the desktop's choosing
  std::string credits_file;  // a credits document that takes the place of the text
};

// Who the application is on the desktop.
struct HostIdentity {
  std::string name;    // for people; with an application id also the windows' class
  std::string app_id;  // the application id the windows carry; "" = the desktop's default names
  std::string icon;    // an image file: the windows' and the About panel's icon; "" = the theme's generic one
};

// The application's item in the desktop's tray.
class StatusItem {
 public:
  virtual ~StatusItem() = default;
  // An image file, or a named icon; "" removes the image. Height is in points.
  virtual void set_image(const std::string& path, const std::string& icon_name, bool template_image) = 0;
  virtual bool has_image() const = 0;
  virtual void set_title(const std::string& title) = 0;
  virtual void set_tooltip(const std::string& tooltip) = 0;
  // The menu the desktop opens itself on a click (null = none): clicks then reach
  // the host only as choices of its items.
  virtual void set_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen) = 0;
  // Clicks the host hears while the item has no menu of its own: a primary
  // click (with the Control key held or not) and a secondary one.
  virtual void set_click_handler(std::function<void(bool secondary, bool control)> handler) = 0;
  // The menu a secondary click opens while the host hears clicks (null = none).
  // Desktops whose panels draw an item's menu themselves offer it there; where
  // the host hears the click instead, it opens the menu with popup_menu.
  virtual void set_secondary_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen) = 0;
  // Opens this menu now, as a reply to a click.
  virtual void popup_menu(std::shared_ptr<const MenuNode> menu, MenuChosen chosen) = 0;
  // Where the item is on screen, in the host's coordinates, where the desktop says.
  virtual std::optional<Rect> frame() const = 0;
};

// Modal dialogs the host shows for the backend and for pages. Each one answers
// exactly once, on the main thread, through its callback: when it is answered,
// or as dismissed when it closes with the window it belongs to. Showing one
// never waits for it; commands go on being carried out meanwhile.

enum class FilePanelKind { kOpen, kOpenMultiple, kDirectory, kSave };

struct FilePanelSpec {
  FilePanelKind kind = FilePanelKind::kOpen;
  // The file-name extensions the panel offers, compared without regard to case;
  // empty = every file.
  std::vector<std::string> extensions;
  std::string name;  // save: the proposed file name
  std::string directory;  // the folder it opens in; "" = the desktop's choice
};

// A dialog's first button answers this; the next ones count up from it.
inline constexpr long kAlertFirstButtonReturn = 1000;

struct AlertSpec {
  std::string title;  // of the dialog's window
  std::string message;
  std::string informative;           // "" = none
  std::vector<std::string> buttons;  // in order; the first is the default (Return)
  // The button that Escape and closing the dialog stand for; -1 = none.
  int cancel_button = -1;
  bool has_field = false;  // a one-line text field, with the keyboard focus
  std::string field_text;
  bool selectable = true;  // the message and informative text can be selected
};

// Where a dialog shows: above the window that shows `page`, else above `window`,
// else on its own. With close_with_window, it closes (answered as dismissed)
// when that window or page goes away; otherwise it outlives them.
struct DialogPlace {
  NativeWindow* window = nullptr;
  WebView* page = nullptr;
  bool close_with_window = false;
};

// accepted: OK was chosen; paths: what was chosen (may be empty even so).
using FilePanelDone = std::function<void(bool accepted, const std::vector<std::string>& paths)>;
// response: kAlertFirstButtonReturn + the chosen button's index; when dismissed,
// that of cancel_button, or -1 without one. field: the text field's text.
using AlertDone = std::function<void(long response, const std::string& field)>;

// The host's dialog in front, as the test auto-dialog sees and answers it.
class ModalDialog {
 public:
  struct Button {
    std::string title;
    std::string key;  // its key equivalent: "\r" (Return), "\x1b" (Escape) or ""
    bool operator==(const Button&) const = default;
  };
  virtual ~ModalDialog() = default;
  virtual bool is_file_panel() const = 0;
  // An alert's buttons, depth first as they are laid out.
  virtual std::vector<Button> buttons() const = 0;
  virtual void click(size_t index) = 0;
  // A file panel: cancel it; offer it the Return key (false when the panel does
  // not take it); accept it with what it has chosen.
  virtual void cancel() = 0;
  virtual bool press_return() = 0;
  virtual void accept() = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void run_file_panel(const FilePanelSpec& spec, const DialogPlace& place, FilePanelDone done) = 0;
  virtual void run_alert(const AlertSpec& spec, const DialogPlace& place, AlertDone done) = 0;
  // The most recently shown of the host's dialogs that is still open; null when none.
  virtual ModalDialog* modal_dialog() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // Connects to the display server; false when there is none to reach.
  virtual bool init_display() = 0;
  // The absolute path of the running executable.
  virtual std::string executable_path() = 0;
  // The temporary directory, ending in "/".
  virtual std::string temp_dir() = 0;
  // Reads a property-list file; false when it is missing or unreadable.
  virtual bool read_plist(const std::string& path, PlistDict& out) = 0;
  // Calls fn on the main thread when the process is asked to end (SIGTERM, SIGINT,
  // SIGHUP), instead of ending at once.
  virtual void on_termination_signal(std::function<void()> fn) = 0;
  // A modal alert with one OK button; critical selects the error style.
  virtual void show_alert(bool critical, const std::string& message, const std::string& informative) = 0;
  virtual MainQueue& main_queue() = 0;
  virtual Timers& timers() = 0;
  virtual Screens& screens() = 0;
  virtual std::unique_ptr<SerialQueue> make_serial_queue(const std::string& name) = 0;
  virtual std::unique_ptr<NativeWindow> make_window(const WindowParams& params) = 0;
  virtual std::unique_ptr<WebView> make_webview() = 0;
  // Serves the "quib-media" scheme for every web view, and camera and microphone
  // requests, as the host decides them.
  virtual void install_media_scheme(MediaScheme scheme) = 0;
  // The tray item; null when the desktop cannot show one at all.
  virtual std::unique_ptr<StatusItem> make_status_item() = 0;
  virtual void show_about_panel(const AboutPanel& about) = 0;
  // Names the application's windows and gives them their icon; before the
  // first window, so that every window of the process carries it.
  virtual void set_identity(const HostIdentity& identity) = 0;
  // Opens the named help book of the application.
  virtual void show_help(const std::string& book) = 0;
  // The web views' shared cookie store.
  virtual CookieStore& cookie_store() = 0;
  // Dialogs: the open, save and folder panels and the alerts.
  virtual Dialogs& dialogs() = 0;
  // The user's downloads folder (absolute, without a trailing "/"); "" when the
  // desktop names none.
  virtual std::string downloads_dir() = 0;
  // The file-name extension (without the dot) that the desktop prefers for a
  // MIME type; "" when it knows none.
  virtual std::string preferred_extension(const std::string& mime_type) = 0;
  // The longest file name, in bytes, that a download into dir may have: the file
  // system's limit, less what the engine adds to the name while it writes.
  virtual size_t download_name_max(const std::string& dir) = 0;
  // Hands a URL to the desktop's handler for its scheme (the default browser for
  // web addresses, the mail program for mailto:, ...), without waiting for it.
  virtual void open_external(const std::string& url) = 0;
};


// What a start of the application asks the running instance to open.
struct OpenItem {
  bool file = false;  // a local file, named by its absolute path
  std::string text;   // the path, or else the URL as it was given
  bool operator==(const OpenItem&) const = default;
};

// The application's one instance on the desktop: a later start of the same
// application hands what it was started to open (or, with nothing to open, a
// plain activation) to the running instance and ends.
class AppInstance {
 public:
  enum class Role {
    kAlone,      // nothing to be unique on (no session bus): this process runs on its own
    kPrimary,    // this process is the application; later starts reach it
    kForwarded,  // another process is the application and took the request: this one ends
    kFailed,     // another process is the application, but the request did not reach it
  };
  virtual ~AppInstance() = default;
  // Claims app_id for this process. args are what it was started to open:
  // URLs, or file paths relative to the working directory. As kAlone or
  // kPrimary, args become this process's own first open request. kFailed fills
  // error with the reason.
  virtual Role claim(const std::string& app_id, const std::vector<std::string>& args, std::string& error) = 0;
  // Where requests go, on the main thread, one at a time in the order they came:
  // open with the items of one start, reopen for a start with nothing to open.
  // Requests that came before the handlers are delivered once they are set.
  virtual void set_handlers(std::function<void(const std::vector<OpenItem>&)> open,
                            std::function<void()> reopen) = 0;
};

// The desktop's application instance; null until a desktop installs one.
AppInstance* app_instance();
void install_app_instance(AppInstance* instance);


// The platform in use; set once by main() or by a test before anything runs.
Platform& current();
void install(Platform* p);

}  // namespace platform
