#pragma once
// An embedded web view with the page bridge's hooks.

#include <functional>
#include <memory>
#include <string>

#include "platform/menu.h"

namespace platform {

struct ScriptMessage {
  std::string body;      // the posted text
  std::string origin;    // the sending document's security origin, "null" when opaque
  bool main_frame = true;
  std::string document;  // names the sending document; a new document gets a new name
};

// The way back into the one document that posted a message.
class MessageReply {
 public:
  virtual ~MessageReply() = default;
  // Calls the page's window.__quibResolve(n, ok, json) in the document that
  // posted the message, n being the number before the first colon of its text;
  // nowhere else, and nothing once that document is gone. json must be UTF-8.
  // A reply dropped unanswered settles nothing.
  virtual void answer(bool ok, const std::string& json) = 0;
};

using MessageHandler = std::function<void(const ScriptMessage&, std::unique_ptr<MessageReply>)>;

class WebView;

// ---- Navigation: what a page asks to load, and how its loads go ----

// A navigation the page (or the host) asks for, before anything is requested.
struct NavigationAction {
  std::string url;  // the target's absolute URL, as the engine has it
  // Whether the action targets the main frame. Where the engine cannot tell before
  // the load (WebKitGTK 2.50), the desktop layer reports the main frame
  // whenever it cannot rule it out, except when the page has sub-frames and nothing
  // points at the main frame: then it reports a sub-frame, and a main-frame load
  // reported so is recognised for certain when its response arrives
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

  // ---- navigation ----
  virtual void set_navigation_events(NavigationEvents events) = 0;
  // A new view for a window this view's page opens: it shares this view's web
  // process (the new page's window.opener) and its settings, with user scripts and
  // message handlers of its own.
  virtual std::unique_ptr<WebView> make_related_view() = 0;
  // The page's URL ("" before any); after its web process ended, the URL it had.
  virtual std::string url() const = 0;
  virtual std::string title() const = 0;
  // Reloads without the cache; brings back a page whose web process ended.
  virtual void reload_from_origin() = 0;
};

}  // namespace platform
