#pragma once
// A web view that records what the host asked of it and lets a test post page messages.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/webview.h"

namespace platform::fake {

class FakeWebView : public WebView {
 public:
  void navigate(const std::string& url) override { urls.push_back(url); }
  void load_html(const std::string& html, const std::string& base) override { htmls.push_back(html); }
  void eval(const std::string& script) override { scripts.push_back(script); }
  void add_user_script(const std::string& source) override { user_scripts.push_back(source); }
  void set_message_handler(const std::string& name,
                           std::function<void(const ScriptMessage&)> h) override {
    handlers[name] = std::move(h);
  }
  void set_user_agent(const std::string& ua) override { user_agent = ua; }
  void open_inspector() override { inspector_opened = true; }
  void* native_handle() override { return this; }
  // Delivers a message as a page would post it.
  void post_message(const std::string& name, const ScriptMessage& m) {
    if (handlers.count(name)) handlers[name](m);
  }

  std::vector<std::string> urls, htmls, scripts, user_scripts;
  std::map<std::string, std::function<void(const ScriptMessage&)>> handlers;
  std::string user_agent;
  bool inspector_opened = false;
};

}  // namespace platform::fake
