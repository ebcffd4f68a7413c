#pragma once
// The navigation half of a web view on WebKitGTK: policy decisions answered
// later, load progress, the end of the web process, and the views a page opens
// with window.open. One per GtkWebView; see gtk_navigation.cc.

#include <webkit2/webkit2.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/webview.h"

namespace platform::gtk {

// The private script world of the page bridge, where the host's own scripts run.
inline constexpr const char* kBridgeWorld = "quibex-bridge";
// The private world's message handler that marks navigations of the main frame.
inline constexpr const char* kNavMarkHandler = "quibnav";
// Private world, main frame, document start: posts "<page>\n<number>\n<url>" to
// kNavMarkHandler for each navigation the main document's navigation object
// announces and each click on a link that navigates the main frame, and answers
// the view's probe about a mark (gtk_navigation.cc).
extern const char* const kNavMarkJs;

// Turns on the engine feature of that identifier for the settings' views; false
// when this WebKitGTK has no such feature.
bool enable_engine_feature(WebKitSettings* settings, const char* id);

// The navigation of a view; null once the view is going away.
class GtkNavigation;
GtkNavigation* navigation_of(WebKitWebView* view);

class GtkNavigation {
 public:
  explicit GtkNavigation(WebKitWebView* view);
  ~GtkNavigation();
  GtkNavigation(const GtkNavigation&) = delete;
  GtkNavigation& operator=(const GtkNavigation&) = delete;

  void set_events(NavigationEvents events) { events_ = std::move(events); }
  // A view made for a window that `opener`'s page opens.
  void set_opener(WebKitWebView* opener) { opener_ = opener; }
  // The host itself is about to load into the view (a URI, a file, a reload).
  void host_load() { host_load_ = true; }
  // A navigation of the main frame, marked by the private world; `number` is
  // the mark's number in its document (digits).
  void note_mark(std::string number, std::string url);
  // The page's URL; after the web process ended, the one it had.
  std::string url() const;
  // A web process shows a document in the view: from the start of its first load
  // until the process ends, and again from the next load's start.
  bool has_document() const { return document_; }

 private:
  struct Mark {
    std::string number;
    std::string url;
  };
  struct FrameProbe;
  static void finish_probe(const std::shared_ptr<FrameProbe>& p, bool main_frame);
  void deliver(const NavigationAction& a, std::unique_ptr<PolicyDecision> d);
  void classify(NavigationAction a, std::unique_ptr<PolicyDecision> d, std::optional<Mark> mark);
  void capture_features();

  static gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* d, WebKitPolicyDecisionType type,
                                   GtkNavigation* self);
  static void on_load_changed(WebKitWebView*, WebKitLoadEvent e, GtkNavigation* self);
  static gboolean on_load_failed(WebKitWebView*, WebKitLoadEvent, char* failing_uri, GError* error,
                                 GtkNavigation* self);
  static void on_terminated(WebKitWebView*, WebKitWebProcessTerminationReason, GtkNavigation* self);
  static void on_uri(WebKitWebView* view, GParamSpec*, GtkNavigation* self);
  static void on_title(WebKitWebView*, GParamSpec*, GtkNavigation* self);
  static gboolean on_user_message(WebKitWebView*, WebKitUserMessage* message, GtkNavigation* self);
  static GtkWidget* on_create(WebKitWebView*, WebKitNavigationAction* na, GtkNavigation* self);
  static void on_geometry(WebKitWindowProperties* props, GParamSpec*, GtkNavigation* self);
  static void on_ready_to_show(WebKitWebView*, GtkNavigation* self);
  static void on_close(WebKitWebView*, GtkNavigation* self);

  WebKitWebView* view_;
  GObjectPtr<GCancellable> cancel_;
  std::vector<SignalConnection> signals_;  // on the view and its window properties, which outlive this
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // asynchronous callbacks check it
  NavigationEvents events_;
  WebKitWebView* opener_ = nullptr;  // the view whose page opened this one's
  bool host_load_ = false;           // a load the host asked for has not started yet
  bool committed_ = false;           // a main-frame document is there (with or without sub-frames)
  bool failed_ = false;              // the current load failed: its end reports nothing more
  bool crashed_ = false;             // the web process ended; nothing loaded since
  bool document_ = false;            // see has_document()
  std::string last_uri_;             // the page's last URL, which WebKit forgets when its process ends
  std::string provisional_uri_;      // the main frame's last provisional URL, from the web process
  std::optional<Mark> mark_;                      // the private world's last mark, for the next action
  std::vector<std::weak_ptr<FrameProbe>> marked_;  // probes of actions that took a mark
  bool capturing_ = false;
  WindowFeatures features_;
};

}  // namespace platform::gtk
