// The "quib-media" scheme on WebKitGTK, fetched with libsoup 3 and streamed to
// the page as it arrives; and camera and microphone requests.
//
// The proxy's session has no content decoder, so bytes, lengths and ranges pass
// through exactly as the server sent them. WebKit holds a page's request until
// it is answered or the page drops it, so a request dropped before the upstream
// answered ends the upstream transfer at once; when WebKit lets go of a body it
// has not read to the end, closing the stream closes the upstream connection.

#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

MediaScheme g_scheme;
SoupSession* g_session = nullptr;

GQuark quibex_quark() { return g_quark_from_static_string("quibex"); }

void fail(WebKitURISchemeRequest* req, int code, const std::string& message) {
  GPtr<GError> e(g_error_new_literal(quibex_quark(), code, message.c_str()));
  webkit_uri_scheme_request_finish_error(req, e.get());
}

// One upstream transfer for one page request. It only watches the request:
// when WebKit lets go of it unanswered, the transfer is cancelled.
class Transfer {
 public:
  Transfer(WebKitURISchemeRequest* request, SoupMessage* message)
      : request_(request), message_(message), cancel_(g_cancellable_new()) {
    g_object_weak_ref(G_OBJECT(request_), &Transfer::dropped, this);
  }
  ~Transfer() {
    if (request_) g_object_weak_unref(G_OBJECT(request_), &Transfer::dropped, this);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  WebKitURISchemeRequest* request() const { return request_; }  // null once dropped
  SoupMessage* message() const { return message_.get(); }
  GCancellable* cancellable() const { return cancel_.get(); }

 private:
  static void dropped(gpointer self, GObject*) {
    auto* t = static_cast<Transfer*>(self);
    t->request_ = nullptr;
    g_cancellable_cancel(t->cancel_.get());
  }

  WebKitURISchemeRequest* request_;  // weak
  GObjectPtr<SoupMessage> message_;
  GObjectPtr<GCancellable> cancel_;
};

void on_sent(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Transfer> t(static_cast<Transfer*>(data));
  GPtr<GError> error;
  GObjectPtr<GInputStream> body(soup_session_send_finish(SOUP_SESSION(source), result, out_ptr(error)));
  if (!t->request()) return;  // the page dropped the request; nothing is left to answer
  if (!body) return webkit_uri_scheme_request_finish_error(t->request(), error.get());
  SoupMessageHeaders* in = soup_message_get_response_headers(t->message());
  MediaUpstream up;
  up.http = true;
  up.status = int(soup_message_get_status(t->message()));
  if (const char* type = soup_message_headers_get_content_type(in, nullptr)) up.mime = type;
  if (soup_message_headers_get_encoding(in) == SOUP_ENCODING_CONTENT_LENGTH)
    up.length = soup_message_headers_get_content_length(in);
  soup_message_headers_foreach(
      in,
      +[](const char* name, const char* value, gpointer list) {
        static_cast<HeaderList*>(list)->emplace_back(name, value);
      },
      &up.headers);
  const MediaHead head = g_scheme.head(up);

  GObjectPtr<WebKitURISchemeResponse> response(webkit_uri_scheme_response_new(body.get(), -1));
  const char* reason = soup_message_get_reason_phrase(t->message());
  webkit_uri_scheme_response_set_status(response.get(), guint(head.status), reason && *reason ? reason : nullptr);
  SoupMessageHeaders* out = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  for (const auto& [name, value] : head.headers) {
    soup_message_headers_append(out, name.c_str(), value.c_str());
    if (g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0)
      webkit_uri_scheme_response_set_content_type(response.get(), value.c_str());
  }
  webkit_uri_scheme_response_set_http_headers(response.get(), out);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(t->request(), response.get());
}

void on_request(WebKitURISchemeRequest* req, gpointer) {
  MediaRequest r;
  r.url = webkit_uri_scheme_request_get_uri(req);
  if (SoupMessageHeaders* h = webkit_uri_scheme_request_get_http_headers(req)) {
    soup_message_headers_foreach(
        h,
        +[](const char* name, const char* value, gpointer list) {
          static_cast<HeaderList*>(list)->emplace_back(name, value);
        },
        &r.headers);
    if (const char* v = soup_message_headers_get_one(h, "Accept")) r.accept = v;
    if (const char* v = soup_message_headers_get_one(h, "Origin")) r.origin = v;
  }
  if (WebKitWebView* view = webkit_uri_scheme_request_get_web_view(req))
    if (const char* uri = webkit_web_view_get_uri(view)) r.document_url = uri;

  const MediaDecision d = g_scheme.decide ? g_scheme.decide(r) : MediaDecision{};
  if (d.kind != MediaDecision::kFetch) return fail(req, d.code, d.message);
  SoupMessage* msg = soup_message_new("GET", d.target.c_str());
  if (!msg) return fail(req, 400, "quib.proxyURL: only http/https URLs can be proxied");
  SoupMessageHeaders* out = soup_message_get_request_headers(msg);
  for (const auto& [name, value] : d.headers) soup_message_headers_replace(out, name.c_str(), value.c_str());
  auto* t = new Transfer(req, msg);
  soup_session_send_async(g_session, msg, G_PRIORITY_DEFAULT, t->cancellable(), on_sent, t);
}

// Asks the user, as the desktop's own question. The page's documents of other
// origins are named, since any of them may be the one asking.
void ask_user(WebKitWebView* view, WebKitPermissionRequest* request, const CaptureRequest& c, bool screen) {
  const bool both = c.camera && c.microphone;
  const char* what = screen ? "your screen"
                     : both ? "your camera and microphone"
                     : c.camera ? "your camera"
                                : "your microphone";
  const char* title = screen ? "Screen" : both ? "Camera and Microphone" : c.camera ? "Camera" : "Microphone";
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  GtkWidget* dialog = gtk_message_dialog_new(GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr, GTK_DIALOG_DESTROY_WITH_PARENT,
                                             GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "Allow %s to use %s?",
                                             c.origin.empty() ? "this page" : c.origin.c_str(), what);
  std::vector<std::string> others;
  for (const std::string& o : c.frames)
    if (o != c.origin && std::find(others.begin(), others.end(), o) == others.end()) others.push_back(o);
  if (!others.empty()) {
    std::string list = others.front();
    for (size_t i = 1; i < others.size(); ++i) list += ", " + others[i];
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog),
                                             "The page also shows content from %s, which may be the one asking.",
                                             list.c_str());
  }
  gtk_window_set_title(GTK_WINDOW(dialog), title);
  gtk_dialog_add_buttons(GTK_DIALOG(dialog), "Don't Allow", GTK_RESPONSE_REJECT, "Allow", GTK_RESPONSE_ACCEPT, nullptr);
  // The dialog holds the request until it goes.
  g_signal_connect_data(dialog, "response", G_CALLBACK(+[](GtkDialog* d, int response, WebKitPermissionRequest* r) {
                          if (response == GTK_RESPONSE_ACCEPT)
                            webkit_permission_request_allow(r);
                          else
                            webkit_permission_request_deny(r);
                          gtk_widget_destroy(GTK_WIDGET(d));
                        }),
                        g_object_ref(request), +[](gpointer r, GClosure*) { g_object_unref(r); }, GConnectFlags(0));
  gtk_widget_show(dialog);
}

// The page's web-process extension answers the origins of the page's documents,
// the top one's first.
void on_origins(GObject* source, GAsyncResult* result, gpointer data) {
  auto* view = WEBKIT_WEB_VIEW(source);
  GObjectPtr<WebKitPermissionRequest> owned(static_cast<WebKitPermissionRequest*>(data));  // from on_permission
  WebKitPermissionRequest* request = owned.get();
  auto* media = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request);
  CaptureRequest c;
  c.camera = webkit_user_media_permission_is_for_video_device(media);
  c.microphone = webkit_user_media_permission_is_for_audio_device(media);
  const bool screen = webkit_user_media_permission_is_for_display_device(media);
  GPtr<GError> error;
  if (GObjectPtr<WebKitUserMessage> reply{webkit_web_view_send_message_to_page_finish(view, result, out_ptr(error))}) {
    GVariant* origins = webkit_user_message_get_parameters(reply.get());
    if (origins && g_variant_is_of_type(origins, G_VARIANT_TYPE_STRING_ARRAY)) {
      GVariantIter it;
      const char* o;
      g_variant_iter_init(&it, origins);
      while (g_variant_iter_next(&it, "&s", &o)) c.frames.emplace_back(o);
      if (!c.frames.empty()) c.origin = c.frames.front();
    }
  } else {
    std::fprintf(stderr, "quibex: camera or microphone request: the page's documents are not known (%s); asking\n",
                 error->message);
  }
  if (!screen && g_scheme.capture && g_scheme.capture(c))
    webkit_permission_request_allow(request);
  else
    ask_user(view, request, c, screen);
}

// WebKitGTK does not say which document asked: the decision waits for the
// origins of every document in the page.
gboolean on_permission(WebKitWebView* view, WebKitPermissionRequest* request, gpointer) {
  if (!WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) return FALSE;
  webkit_web_view_send_message_to_page(view, webkit_user_message_new("quibex:origins", nullptr), nullptr, on_origins,
                                       g_object_ref(request));
  return TRUE;
}

}  // namespace

void GtkPlatform::install_media_scheme(MediaScheme scheme) {
  g_scheme = std::move(scheme);
  if (g_session) return;
  g_session = soup_session_new();
  soup_session_remove_feature_by_type(g_session, SOUP_TYPE_CONTENT_DECODER);
  WebKitWebContext* ctx = webkit_web_context_get_default();
  webkit_web_context_register_uri_scheme(ctx, "quib-media", on_request, nullptr, nullptr);
  WebKitSecurityManager* sm = webkit_web_context_get_security_manager(ctx);
  webkit_security_manager_register_uri_scheme_as_secure(sm, "quib-media");
  webkit_security_manager_register_uri_scheme_as_cors_enabled(sm, "quib-media");
}

void connect_capture_permission(WebKitWebView* view) {
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_enable_media_stream(settings, TRUE);
  // Tests run where there is no camera or microphone: WebKit's stand-ins.
  if (const char* mock = std::getenv("QUIBEX_TEST_MOCK_CAPTURE"); mock && *mock)
    webkit_settings_set_enable_mock_capture_devices(settings, TRUE);
  g_signal_connect(view, "permission-request", G_CALLBACK(on_permission), nullptr);
}

}  // namespace platform::gtk
