// The web views' shared cookie store: WebKit's cookie manager of the default
// web context, which every web view of the process uses.

#include <webkit2/webkit2.h>

#include <cmath>
#include <memory>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

WebKitCookieManager* cookie_manager() {
  return webkit_website_data_manager_get_cookie_manager(
      webkit_web_context_get_website_data_manager(webkit_web_context_get_default()));
}

Cookie from_soup(SoupCookie* s) {
  Cookie c;
  auto text = [](const char* p) { return std::string(p ? p : ""); };
  c.name = text(soup_cookie_get_name(s));
  c.value = text(soup_cookie_get_value(s));
  c.domain = text(soup_cookie_get_domain(s));
  c.path = text(soup_cookie_get_path(s));
  if (GDateTime* t = soup_cookie_get_expires(s))
    c.expires_ms = double(g_date_time_to_unix(t)) * 1000.0 + g_date_time_get_microsecond(t) / 1000;
  c.secure = soup_cookie_get_secure(s);
  c.http_only = soup_cookie_get_http_only(s);
  switch (soup_cookie_get_same_site_policy(s)) {
    case SOUP_SAME_SITE_POLICY_LAX: c.same_site = SameSite::Lax; break;
    case SOUP_SAME_SITE_POLICY_STRICT: c.same_site = SameSite::Strict; break;
    default: c.same_site = SameSite::NoPolicy;
  }
  return c;
}

// Null when the expiry lies outside what a date can hold.
SoupCookie* to_soup(const Cookie& c) {
  SoupCookie* s = soup_cookie_new(c.name.c_str(), c.value.c_str(), c.domain.c_str(),
                                  c.path.empty() ? "/" : c.path.c_str(), -1);
  if (c.expires_ms) {
    const double secs = std::floor(*c.expires_ms / 1000.0);
    GPtr<GDateTime> t;
    if (std::isfinite(secs) && std::fabs(secs) < 253402300799.0)
      if (GPtr<GDateTime> whole{g_date_time_new_from_unix_utc(gint64(secs))})
        t.reset(g_date_time_add(whole.get(), GTimeSpan((*c.expires_ms - secs * 1000.0) * 1000.0)));
    if (!t) {
      soup_cookie_free(s);
      return nullptr;
    }
    soup_cookie_set_expires(s, t.get());
  }
  soup_cookie_set_secure(s, c.secure);
  soup_cookie_set_http_only(s, c.http_only);
  soup_cookie_set_same_site_policy(s, c.same_site == SameSite::Lax      ? SOUP_SAME_SITE_POLICY_LAX
                                      : c.same_site == SameSite::Strict ? SOUP_SAME_SITE_POLICY_STRICT
                                                                        : SOUP_SAME_SITE_POLICY_NONE);
  return s;
}

template <class F>
struct Pending {
  F done;
};

class GtkCookieStore : public CookieStore {
 public:
  void get_all(std::function<void(std::vector<Cookie>)> done) override {
    using P = Pending<std::function<void(std::vector<Cookie>)>>;
    webkit_cookie_manager_get_all_cookies(
        cookie_manager(), nullptr,
        +[](GObject* src, GAsyncResult* res, gpointer data) {
          std::unique_ptr<P> p(static_cast<P*>(data));
          GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(src), res, nullptr);
          std::vector<Cookie> out;
          for (GList* l = list; l; l = l->next) out.push_back(from_soup(static_cast<SoupCookie*>(l->data)));
          g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
          p->done(std::move(out));
        },
        new P{std::move(done)});
  }
  void set(const Cookie& c, std::function<void(bool)> done) override {
    SoupCookie* s = to_soup(c);
    if (!s) {
      done(false);
      return;
    }
    using P = Pending<std::function<void(bool)>>;
    webkit_cookie_manager_add_cookie(
        cookie_manager(), s, nullptr,
        +[](GObject* src, GAsyncResult* res, gpointer data) {
          std::unique_ptr<P> p(static_cast<P*>(data));
          p->done(webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(src), res, nullptr));
        },
        new P{std::move(done)});
    soup_cookie_free(s);
  }
  void remove(const Cookie& c, std::function<void()> done) override {
    Cookie plain = c;
    plain.expires_ms.reset();  // matched by name, domain and path
    SoupCookie* s = to_soup(plain);
    using P = Pending<std::function<void()>>;
    webkit_cookie_manager_delete_cookie(
        cookie_manager(), s, nullptr,
        +[](GObject* src, GAsyncResult* res, gpointer data) {
          std::unique_ptr<P> p(static_cast<P*>(data));
          webkit_cookie_manager_delete_cookie_finish(WEBKIT_COOKIE_MANAGER(src), res, nullptr);
          p->done();
        },
        new P{std::move(done)});
    soup_cookie_free(s);
  }
};

}  // namespace

CookieStore& GtkPlatform::cookie_store() {
  static GtkCookieStore store;
  return store;
}

}  // namespace platform::gtk
