#pragma once
// An embedded web view with the page bridge's hooks.

#include <functional>
#include <string>

namespace platform {

struct ScriptMessage {
  std::string body;    // the posted text
  std::string origin;  // the sending document's origin
  bool main_frame = true;
};

class WebView {
 public:
  virtual ~WebView() = default;
  virtual void navigate(const std::string& url) = 0;
  virtual void load_html(const std::string& html, const std::string& base_url) = 0;
  virtual void eval(const std::string& script) = 0;
  // Adds a script that runs at document start in the main frame of every page.
  virtual void add_user_script(const std::string& source) = 0;
  // Messages posted to window.webkit.messageHandlers.<name>.
  virtual void set_message_handler(const std::string& name,
                                   std::function<void(const ScriptMessage&)> handler) = 0;
  virtual void set_user_agent(const std::string& ua) = 0;
  virtual void open_inspector() = 0;
  // The toolkit object (WebKitWebView* on GTK), for the desktop layer only.
  virtual void* native_handle() = 0;
};

}  // namespace platform
