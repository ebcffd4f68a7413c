// Web views on WebKitGTK 4.1.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <map>

#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

// ---- web views -------------------------------------------------------------

class GtkWebView : public WebView {
 public:
  GtkWebView() {
    ucm_ = webkit_user_content_manager_new();
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(ucm_));
    g_object_ref_sink(view_);
  }
  ~GtkWebView() override {
    for (auto& [name, h] : handlers_) {
      webkit_user_content_manager_unregister_script_message_handler(ucm_, name.c_str());
      (void)h;
    }
    g_signal_handlers_disconnect_matched(ucm_, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(&GtkWebView::on_message), nullptr);
    g_object_unref(view_);
    g_object_unref(ucm_);
  }
  void navigate(const std::string& url) override { webkit_web_view_load_uri(view_, url.c_str()); }
  void load_html(const std::string& html, const std::string& base) override {
    webkit_web_view_load_html(view_, html.c_str(), base.empty() ? nullptr : base.c_str());
  }
  void eval(const std::string& script) override {
    webkit_web_view_evaluate_javascript(view_, script.c_str(), gssize(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }
  void add_user_script(const std::string& source) override {
    WebKitUserScript* s = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                 WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr,
                                                 nullptr);
    webkit_user_content_manager_add_script(ucm_, s);
    webkit_user_script_unref(s);
  }
  void set_message_handler(const std::string& name,
                           std::function<void(const ScriptMessage&)> handler) override {
    if (!handlers_.count(name)) {
      webkit_user_content_manager_register_script_message_handler(ucm_, name.c_str());
      std::string signal = "script-message-received::" + name;
      g_signal_connect_data(ucm_, signal.c_str(), G_CALLBACK(&GtkWebView::on_message),
                            new Route{this, name}, +[](gpointer p, GClosure*) { delete static_cast<Route*>(p); },
                            GConnectFlags(0));
    }
    handlers_[name] = std::move(handler);
  }
  void set_user_agent(const std::string& ua) override {
    webkit_settings_set_user_agent(webkit_web_view_get_settings(view_), ua.c_str());
  }
  void open_inspector() override {
    webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(view_), TRUE);
    webkit_web_inspector_show(webkit_web_view_get_inspector(view_));
  }
  void* native_handle() override { return view_; }

 private:
  struct Route {
    GtkWebView* self;
    std::string name;
  };
  static void on_message(WebKitUserContentManager*, WebKitJavascriptResult* r, Route* route) {
    JSCValue* v = webkit_javascript_result_get_js_value(r);
    char* text = jsc_value_to_string(v);
    ScriptMessage m;
    m.body = text ? text : "";
    g_free(text);
    auto it = route->self->handlers_.find(route->name);
    if (it != route->self->handlers_.end() && it->second) it->second(m);
  }

  WebKitUserContentManager* ucm_;
  WebKitWebView* view_;
  std::map<std::string, std::function<void(const ScriptMessage&)>> handlers_;
};

std::unique_ptr<WebView> GtkPlatform::make_webview() { return std::make_unique<GtkWebView>(); }

}  // namespace platform::gtk
