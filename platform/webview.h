#pragma once
// An embedded web view with the page bridge's hooks.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/menu.h"

namespace platform {

struct ScriptMessage {
  std::string body;      // the posted text
  std::string origin;    // the sending document's security origin, "null" when opaque
  bool main_frame = true;
  std::string document;  // names the sending document; a new document gets a new name
};

// The way back into the one document that posted a message. It answers once,
// through one of the two calls; a reply dropped unanswered settles nothing.
class MessageReply {
 public:
  virtual ~MessageReply() = default;
  // Calls the page's window.__quibResolve(n, ok, json) in the document that
  // posted the message, n being the number before the first colon of its text;
  // nowhere else, and nothing once that document is gone. json must be UTF-8.
  virtual void answer(bool ok, const std::string& json) = 0;
  // Calls the page's window.__quibAnswers(text) in the document that posted the
  // message, under the same rules: the bridge's answers to several calls at once.
  virtual void answer_batch(const std::string& text) = 0;
};

// alert(), confirm() and prompt() of a page, and its file inputs. The page waits
// until its reply answers; a reply dropped unanswered answers as dismissed
// (confirm false, prompt null, no files).

enum class PageDialogKind { kAlert, kConfirm, kPrompt };

struct PageDialog {
  PageDialogKind kind = PageDialogKind::kAlert;
  std::string message;
  std::string default_text;  // prompt
  std::string origin_host;   // the host of the page's security origin; "" when it has none
};

class PageDialogReply {
 public:
  virtual ~PageDialogReply() = default;
  // confirm: ok; prompt: text when ok, else null; alert: just done. Once only.
  virtual void answer(bool ok, const std::string& text) = 0;
};

struct FileChooserRequest {
  bool multiple = false;  // the input takes several files
};

class FileChooserReply {
 public:
  virtual ~FileChooserReply() = default;
  // The chosen files' paths (UTF-8); none = cancelled. Once only.
  virtual void choose(const std::vector<std::string>& paths) = 0;
};

using PageDialogHandler = std::function<void(const PageDialog&, std::unique_ptr<PageDialogReply>)>;
using FileChooserHandler = std::function<void(const FileChooserRequest&, std::unique_ptr<FileChooserReply>)>;

// One download the engine runs for a page, from its destination question until it
// ends. The same object is handed to every event of one download.
class Download {
 public:
  virtual ~Download() = default;
  // Answers the destination question, at once or later: the file's path, or ""
  // to cancel the download. Without allow_overwrite an existing file there is
  // never replaced (the download fails instead). Only the first answer counts.
  // False when the download ended before this answer (it goes nowhere then).
  virtual bool set_destination(const std::string& path, bool allow_overwrite) = 0;
};

struct DownloadResponse {
  std::string url;             // the response's URL, "" when it has none
  std::string mime_type;       // "" when unknown
  std::string suggested_name;  // as the engine suggests it; not to be trusted as a path
};

// Each download asks destination exactly once, then reports progress any number
// of times and ends with exactly one of finished (no failure was seen) or failed.
// A cancelled download ends as failed.
struct DownloadEvents {
  std::function<void(Download*, const DownloadResponse&)> destination;
  // Bytes received so far; total is 0 or less when the size was not announced.
  std::function<void(Download*, std::int64_t received, std::int64_t total)> progress;
  std::function<void(Download*)> finished;
  std::function<void(Download*, const std::string& error)> failed;
};

// Files dropped onto the view, as absolute paths in the order of the drag; called
// before the page hears of the drop, and only when the drag carries files.
using DropHandler = std::function<void(const std::vector<std::string>& paths)>;

using MessageHandler = std::function<void(const ScriptMessage&, std::unique_ptr<MessageReply>)>;

// A message the page wrote to its console (console.log and the like, the engine's
// own warnings), or an error the page's scripts did not catch.
struct ConsoleMessage {
  enum class Level { kLog, kInfo, kWarning, kError, kDebug };
  Level level = Level::kLog;
  bool uncaught = false;  // an error no script caught (an exception or a rejected promise)
  std::string text;       // as the engine gives it; may hold line breaks
  std::string source;     // the script's or document's URL; "" when the engine names none
  unsigned line = 0;      // 0 when unknown
};
using ConsoleHandler = std::function<void(const ConsoleMessage&)>;

class WebView;

// ---- Navigation: what a page asks to load, and how its loads go ----

// A navigation the page (or the host) asks for, before anything is requested.
struct NavigationAction {
  std::string url;  // the target's absolute URL, as the engine has it
  // Whether the action targets the main frame. Where the engine cannot tell before
  // the load (WebKitGTK 2.50), the desktop layer reports the main frame only where
  // it knows (a load the host asked for, a page without sub-frames, a navigation
  // the main document itself announced) and a sub-frame otherwise; a main-frame
  // load reported so is recognised for certain when its response arrives
  // (NavigationResponse::main_frame_main_resource).
  bool main_frame = true;
  bool new_window = false;       // names no frame: the page asks to show the target in a new window
  bool should_download = false;  // the engine would download the target rather than show it
};

// The response to a navigation, before it is shown.
struct NavigationResponse {
  std::string url;
  bool can_show = true;                  // the engine can show the response's MIME type
  bool main_frame_main_resource = true;  // the main frame's document: always known for certain
};

enum class Policy { kAllow, kCancel, kDownload };

// The engine waits for one answer; the first one counts. One destroyed unanswered
// cancels.
class PolicyDecision {
 public:
  virtual ~PolicyDecision() = default;
  virtual void decide(Policy policy) = 0;
};

struct LoadError {
  enum class Kind {
    kFailed,       // the load failed
    kCancelled,    // cancelled: stopped, or replaced by another load
    kInterrupted,  // interrupted by a policy change (cancelled at its response, or turned into a download)
  };
  Kind kind = Kind::kFailed;
  std::string description;  // the engine's words for it, UTF-8
  std::string failing_url;  // the URL that failed; "" when the error names none
};

// The size and place a page asked for with window.open; 0 where it gave none (the
// engine reports an absent value as 0). In points, x from the left and y downward
// from the top of the first screen; width and height are the page's size.
struct WindowFeatures {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const WindowFeatures&) const = default;
};

// What a web view reports about navigation; every callback runs on the main thread.
struct NavigationEvents {
  // Whether the host needs the target frame of an action for this URL; where it
  // does not, NavigationAction::main_frame is a guess that costs nothing.
  std::function<bool(const std::string& url)> frame_matters;
  std::function<void(const NavigationAction&, std::unique_ptr<PolicyDecision>)> decide_action;
  std::function<void(const NavigationResponse&, std::unique_ptr<PolicyDecision>)> decide_response;
  // The main frame's loads. A load that fails reports did_fail and never did_finish.
  // did_start names the URL the load is for (the view's URL changes only at the commit).
  std::function<void(const std::string& url)> did_start;
  std::function<void()> did_commit;
  std::function<void()> did_finish;
  std::function<void(const LoadError&)> did_fail;
  // The page's web process ended (crashed, killed, or ended by the system).
  std::function<void()> process_terminated;
  // The page's title changed. WebKitGTK may report a document's title only after
  // the finish of its load.
  std::function<void()> title_changed;
  // A page script asks for a new window (window.open): answer a view made with
  // make_related_view of this one, which the engine then loads the request into, or
  // null to refuse.
  std::function<WebView*(const NavigationAction&)> create_view;
  // A view made for create_view is ready to be shown, with the page's window features.
  std::function<void(const WindowFeatures&)> ready_to_show;
  // The page asks to close its window: its own window.close(), or its opener's
  // close() of it (the engine asks only for windows a script may close).
  std::function<void()> close_requested;
};

class WebView {
 public:
  virtual ~WebView() = default;
  virtual void navigate(const std::string& url) = 0;
  virtual void load_html(const std::string& html, const std::string& base_url) = 0;
  // Loads a page file; the page may read files under read_access_dir (and, where
  // the engine cannot scope it, other local files too).
  virtual void load_file(const std::string& path, const std::string& read_access_dir) = 0;
  virtual void eval(const std::string& script) = 0;
  // Adds a script that runs at document start in the main frame of every page.
  virtual void add_user_script(const std::string& source) = 0;
  // Texts the main frame posts to window.webkit.messageHandlers.<name>, each with
  // its way back; anything else posted is ignored. Sub-frames cannot post as the
  // main frame.
  virtual void set_message_handler(const std::string& name, MessageHandler handler) = 0;
  virtual void set_user_agent(const std::string& ua) = 0;
  virtual void set_developer_extras(bool on) = 0;
  // Who hears the page's console messages and uncaught errors, on the main thread,
  // from every frame; null: nobody. Set before the view's first load: the engine
  // may not report the messages of a page that started before it.
  virtual void set_console_handler(ConsoleHandler handler) = 0;
  // Pages loaded from files may read files; WebGPU where the engine has it.
  virtual void enable_file_access() = 0;
  virtual void enable_webgpu() = 0;
  virtual void open_inspector() = 0;
  // Undo, redo, cut, copy, paste or select all in the page.
  virtual void editing_command(MenuCommand command) = 0;
  // Asked just before the page's context menu shows: null leaves the page's own
  // menu, a node without items shows no menu, a node with items shows those
  // instead (choices go to chosen; editing commands act on this page).
  virtual void set_context_menu_provider(std::function<std::shared_ptr<const MenuNode>()> provider,
                                         MenuChosen chosen) = 0;
  // The toolkit object (WebKitWebView* on GTK), for the desktop layer only.
  virtual void* native_handle() = 0;

  // Searches the page's text for the next match (wrapping), selects and reveals
  // it; done(found) comes once, also when the page goes away (found false).
  virtual void find(const std::string& text, bool backwards, bool case_sensitive,
                    std::function<void(bool found)> done) = 0;
  // Runs a script in the main frame's private script world, out of the page's
  // reach; done gets its result when that is a string, else nothing. done comes
  // once, also when the page goes away.
  virtual void eval_private(const std::string& script, std::function<void(std::optional<std::string>)> done) = 0;
  // Renders the page to a PDF file at path; done(error), "" on success. The file
  // at path may be left partly written on failure.
  virtual void print_to_pdf(const std::string& path, std::function<void(const std::string& error)> done) = 0;
  // The print dialog for this page, over its window; prints what the user chose.
  virtual void show_print_dialog() = 0;
  // Who shows the page's alert, confirm and prompt dialogs and its file choosers
  // (null: the engine's own).
  virtual void set_page_dialog_handlers(PageDialogHandler dialogs, FileChooserHandler files) = 0;
  // Who decides where the view's downloads go and hears how they go (empty
  // members: the engine's own behaviour).
  virtual void set_download_events(DownloadEvents events) = 0;
  // Who hears of files dropped onto the view (null: nobody); the page still gets
  // its own drop afterwards.
  virtual void set_drop_handler(DropHandler handler) = 0;
  // ---- navigation ----
  virtual void set_navigation_events(NavigationEvents events) = 0;
  // A new view for a window this view's page opens: it shares this view's web
  // process (the new page's window.opener) and its settings, with user scripts and
  // message handlers of its own.
  virtual std::unique_ptr<WebView> make_related_view() = 0;
  // The page's URL ("" before any, and for text loaded without an address); after
  // its web process ended, the URL it had.
  virtual std::string url() const = 0;
  virtual std::string title() const = 0;
  // Reloads without the cache; brings back a page whose web process ended.
  virtual void reload_from_origin() = 0;
};

}  // namespace platform
