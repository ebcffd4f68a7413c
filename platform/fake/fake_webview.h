#pragma once
// A web view that records what the host asked of it and lets a test post page messages.

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/webview.h"

namespace platform::fake {

class FakeWebView : public WebView {
 public:
  void navigate(const std::string& url) override { urls.push_back(url); }
  void load_html(const std::string& html, const std::string& base) override { htmls.push_back(html); }
  void load_file(const std::string& path, const std::string& dir) override { files.push_back({path, dir}); }
  void eval(const std::string& script) override { scripts.push_back(script); }
  void eval_in_document(const std::string& script, const std::string& doc) override {
    doc_scripts.push_back({script, doc});
  }
  void add_user_script(const std::string& source) override { user_scripts.push_back(source); }
  void set_message_handler(const std::string& name,
                           std::function<void(const ScriptMessage&)> h) override {
    handlers[name] = std::move(h);
  }
  void set_user_agent(const std::string& ua) override { user_agent = ua; }
  void set_developer_extras(bool on) override { developer_extras = on; }
  void enable_file_access() override { file_access = true; }
  void enable_webgpu() override { webgpu = true; }
  void open_inspector() override { inspector_opened = true; }
  void editing_command(MenuCommand c) override { editing.push_back(c); }
  void set_context_menu_provider(std::function<std::shared_ptr<const MenuNode>()> p, MenuChosen c) override {
    ctx_provider = std::move(p);
    ctx_chosen = std::move(c);
  }
  // What a right click in the page would show: null = the page's own menu.
  std::shared_ptr<const MenuNode> open_context_menu() { return ctx_provider ? ctx_provider() : nullptr; }
  void* native_handle() override { return this; }
  // Delivers a message as a page would post it.
  void post_message(const std::string& name, const ScriptMessage& m) {
    if (handlers.count(name)) handlers[name](m);
  }

  std::vector<std::string> urls, htmls, scripts, user_scripts;
  std::vector<std::pair<std::string, std::string>> files;        // path, read-access dir
  std::vector<std::pair<std::string, std::string>> doc_scripts;  // script, document
  std::map<std::string, std::function<void(const ScriptMessage&)>> handlers;
  std::string user_agent;
  bool developer_extras = false, file_access = false, webgpu = false, inspector_opened = false;
  std::vector<MenuCommand> editing;
  std::function<std::shared_ptr<const MenuNode>()> ctx_provider;
  MenuChosen ctx_chosen;
};

}  // namespace platform::fake
