// The HTTP client of the Linux desktop: libcurl's, from its module, opened by
// the first exchange (on the AI queue's thread, never the main thread's).

#include "platform/common/module_loader.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/http.h"

namespace platform::gtk {

namespace {

class ModuleHttp : public HttpClient {
 public:
  bool ready() override {
    HttpClient* c = module_.get();
    return c && c->ready();
  }
  HttpResponse send(const HttpRequest& request) override {
    if (HttpClient* c = module_.get()) return c->send(request);
    HttpResponse out;
    out.error = "the HTTP library could not be set up";
    return out;
  }
  bool url_parts(const std::string& url, std::string& scheme, std::string& host) override {
    HttpClient* c = module_.get();
    return c && c->url_parts(url, scheme, host);
  }

 private:
  ModuleOf<HttpClient> module_{"http", "quibex_http_module", "HTTP (the model server's transport)"};
};

}  // namespace

void install_gtk_http_client(bool install) {
  static auto* client = new ModuleHttp;
  if (install) install_http_client(client);
  else if (http_client() == client) install_http_client(nullptr);
}

}  // namespace platform::gtk
