// Downloads and file drops on WebKitGTK.
//
// Downloads start on the web context, not the view; the view that asked for one
// is looked up when WebKit asks where it goes. WebKit reports "failed" and then
// "finished" for a download that fails, so "finished" counts only when no
// failure came first.
//
// Drops: WebKit fetches a drag's data itself while the drag moves over the
// view; the text/uri-list it gets is read on its way past, and when the drop
// comes the files are reported before WebKit's own handler runs. Should the data
// not be there yet at the drop, the files are reported as it arrives, again
// before WebKit sees it.

#include "platform/gtk/gtk_downloads.h"

#include <dlfcn.h>
#include <unistd.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_platform.h"

namespace platform::gtk {

namespace {

constexpr const char* kEventsKey = "quibex-download-events";
constexpr const char* kDropKey = "quibex-drop-state";

// One download from WebKit's download-started until both its end and the
// answer to its destination question: the host may answer after it ended.
class GtkDownload : public Download {
 public:
  GtkDownload(WebKitDownload* dl, DownloadEvents events) : dl_(add_ref(dl)), events_(std::move(events)) {
    signals_[0] = SignalConnection(dl, "decide-destination", G_CALLBACK(&GtkDownload::on_decide), this);
    signals_[1] = SignalConnection(dl, "received-data", G_CALLBACK(&GtkDownload::on_data), this);
    signals_[2] = SignalConnection(dl, "failed", G_CALLBACK(&GtkDownload::on_failed), this);
    signals_[3] = SignalConnection(dl, "finished", G_CALLBACK(&GtkDownload::on_finished), this);
  }

  bool set_destination(const std::string& path, bool allow_overwrite) override {
    if (answered_) return false;
    answered_ = true;
    const bool live = !ended_;
    if (live) {
      if (path.empty()) {
        webkit_download_cancel(dl_.get());
      } else if (GPtr<char> uri{g_filename_to_uri(path.c_str(), nullptr, nullptr)}) {
        webkit_download_set_allow_overwrite(dl_.get(), allow_overwrite);
        webkit_download_set_destination(dl_.get(), uri.get());
      } else {
        webkit_download_cancel(dl_.get());  // not an absolute path: nowhere to write
      }
    }
    release();
    return live;
  }

 private:
  void release() {
    if (--holds_ == 0) delete this;
  }

  static gboolean on_decide(WebKitDownload* dl, gchar* suggested, GtkDownload* self) {
    WebKitWebView* view = webkit_download_get_web_view(dl);
    auto* live = view ? static_cast<DownloadEvents*>(g_object_get_data(G_OBJECT(view), kEventsKey)) : nullptr;
    if (!live || !live->destination) {
      // The page that asked for it is gone.
      self->set_destination("", false);
      return TRUE;
    }
    DownloadResponse r;
    if (WebKitURIResponse* resp = webkit_download_get_response(dl)) {
      if (const char* u = webkit_uri_response_get_uri(resp)) r.url = u;
      if (const char* m = webkit_uri_response_get_mime_type(resp)) r.mime_type = m;
    }
    if (r.url.empty())
      if (WebKitURIRequest* req = webkit_download_get_request(dl))
        if (const char* u = webkit_uri_request_get_uri(req)) r.url = u;
    if (suggested) r.suggested_name = suggested;
    // Answered now or later (a save panel); WebKit waits until then.
    live->destination(self, r);
    return TRUE;
  }
  static void on_data(WebKitDownload* dl, guint64, GtkDownload* self) {
    if (self->ended_ || !self->events_.progress) return;
    gint64 total = 0;
    if (WebKitURIResponse* resp = webkit_download_get_response(dl))
      total = gint64(webkit_uri_response_get_content_length(resp));
    self->events_.progress(self, gint64(webkit_download_get_received_data_length(dl)), total);
  }
  static void on_failed(WebKitDownload*, GError* error, GtkDownload* self) {
    if (self->failed_) return;
    self->failed_ = true;
    if (self->events_.failed) self->events_.failed(self, error && error->message ? error->message : "");
  }
  static void on_finished(WebKitDownload*, GtkDownload* self) {
    if (self->ended_) return;
    self->ended_ = true;
    if (!self->failed_ && self->events_.finished) self->events_.finished(self);
    self->release();
  }

  GObjectPtr<WebKitDownload> dl_;
  SignalConnection signals_[4];  // the download may outlive this
  DownloadEvents events_;
  int holds_ = 2;  // the destination's answer and the end
  bool answered_ = false, failed_ = false, ended_ = false;
};

void on_download_started(WebKitWebContext*, WebKitDownload* dl, gpointer) {
  WebKitWebView* view = webkit_download_get_web_view(dl);
  auto* events = view ? static_cast<DownloadEvents*>(g_object_get_data(G_OBJECT(view), kEventsKey)) : nullptr;
  if (!events || !events->destination) return;  // WebKit's own behaviour
  new GtkDownload(dl, *events);
}

struct DropState;
std::set<DropState*> g_drop_states;

struct DropState {
  DropState() { g_drop_states.insert(this); }
  DropHandler handler;
  GObjectPtr<GdkDragContext> ctx;  // the drag the files below belong to
  std::vector<std::string> files;
  bool have = false;     // its text/uri-list has arrived
  bool pending = false;  // it was dropped before that
  SignalConnection data_received, dropped;

  void track(GdkDragContext* c) {
    if (ctx.get() == c) return;
    ctx = add_ref(c);
    files.clear();
    have = pending = false;
  }
  ~DropState() { g_drop_states.erase(this); }
  void report() {
    pending = false;
    if (!files.empty() && handler) handler(files);
  }
};

// A drag over one of the host's views whose files have arrived.
bool carries_files(GdkDragContext* ctx) {
  for (DropState* s : g_drop_states)
    if (s->ctx.get() == ctx && s->have && !s->files.empty()) return true;
  return false;
}

GdkAtom uri_list_atom() { return gdk_atom_intern_static_string("text/uri-list"); }

bool offers_uri_list(GdkDragContext* ctx) {
  for (GList* l = gdk_drag_context_list_targets(ctx); l; l = l->next)
    if (GDK_POINTER_TO_ATOM(l->data) == uri_list_atom()) return true;
  return false;
}

void on_drag_data(GtkWidget*, GdkDragContext* ctx, gint, gint, GtkSelectionData* data, guint, guint, DropState* s) {
  if (gtk_selection_data_get_target(data) != uri_list_atom()) return;
  s->track(ctx);
  s->files.clear();
  if (GPtr<char*> uris{gtk_selection_data_get_uris(data)}) {
    for (gchar** u = uris.get(); *u; ++u)
      if (GPtr<char> path{g_filename_from_uri(*u, nullptr, nullptr)}) s->files.push_back(path.get());  // file URIs only
  }
  s->have = true;
  if (s->pending) s->report();
}

gboolean on_drag_drop(GtkWidget*, GdkDragContext* ctx, gint, gint, guint, DropState* s) {
  if (!offers_uri_list(ctx)) return FALSE;
  s->track(ctx);
  if (s->have)
    s->report();
  else
    s->pending = true;
  return FALSE;  // WebKit's own drop goes on: the page gets its drop event
}

// Shared MIME info's preferred extension per type: the heaviest simple "*.ext"
// glob of globs2 in the XDG data folders, the user's first.
const std::map<std::string, std::string>& extension_table() {
  static const std::map<std::string, std::string> table = [] {
    std::map<std::string, std::pair<int, std::string>> best;
    std::vector<std::string> dirs{g_get_user_data_dir()};
    for (const gchar* const* d = g_get_system_data_dirs(); d && *d; ++d) dirs.push_back(*d);
    for (const std::string& dir : dirs) {
      std::ifstream in(dir + "/mime/globs2");
      std::string line;
      while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream ss(line);
        std::string weight, mime, glob;
        if (!std::getline(ss, weight, ':') || !std::getline(ss, mime, ':') || !std::getline(ss, glob, ':')) continue;
        if (glob.size() < 3 || glob.compare(0, 2, "*.") != 0) continue;
        const std::string ext = glob.substr(2);
        if (ext.find_first_of("*?[]/\\") != std::string::npos) continue;
        const int w = std::atoi(weight.c_str());
        auto it = best.find(mime);
        if (it == best.end() || w > it->second.first) best[mime] = {w, ext};  // ties: the first listed
      }
    }
    std::map<std::string, std::string> out;
    for (auto& [mime, we] : best) out[mime] = we.second;
    return out;
  }();
  return table;
}

}  // namespace

}  // namespace platform::gtk

// The web views take dragged files even where the page does not: WebKit answers
// every move of a drag with the page's operation, and a page that refuses would
// keep the drop from ever happening, so files never reached the backend. The
// answer "none" to a drag carrying files becomes "copy" on its way to the drag's
// source; a page that takes the drag keeps its own operation. WebKit gives the
// answer straight to GDK, so this is where it can be seen.
extern "C" void gdk_drag_status(GdkDragContext* context, GdkDragAction action, guint32 time) {
  using Real = void (*)(GdkDragContext*, GdkDragAction, guint32);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "gdk_drag_status"));
  if (action == 0 && context && platform::gtk::carries_files(context)) action = GDK_ACTION_COPY;
  if (real) real(context, action, time);
}

namespace platform::gtk {

void set_view_download_events(WebKitWebView* view, DownloadEvents events) {
  // Views normally share one context; each context is listened to once.
  static std::set<WebKitWebContext*> contexts;
  WebKitWebContext* ctx = webkit_web_view_get_context(view);
  if (contexts.insert(ctx).second) g_signal_connect(ctx, "download-started", G_CALLBACK(on_download_started), nullptr);
  g_object_set_data_full(
      G_OBJECT(view), kEventsKey, new DownloadEvents(std::move(events)),
      +[](gpointer p) { delete static_cast<DownloadEvents*>(p); });
}

void set_view_drop_handler(WebKitWebView* view, DropHandler handler) {
  auto* s = new DropState;
  s->handler = std::move(handler);
  // Connected ahead of WebKit's class handlers, which run last.
  s->data_received = SignalConnection(view, "drag-data-received", G_CALLBACK(on_drag_data), s);
  s->dropped = SignalConnection(view, "drag-drop", G_CALLBACK(on_drag_drop), s);
  g_object_set_data_full(
      G_OBJECT(view), kDropKey, s, +[](gpointer p) { delete static_cast<DropState*>(p); });
}

void forget_view_downloads_and_drops(WebKitWebView* view) {
  g_object_set_data(G_OBJECT(view), kEventsKey, nullptr);
  g_object_set_data(G_OBJECT(view), kDropKey, nullptr);
}

std::string GtkPlatform::downloads_dir() {
  const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  return dir ? dir : "";
}

size_t GtkPlatform::download_name_max(const std::string& dir) {
  // WebKit writes a download to "<name>.wkdownload" and renames it once whole.
  static constexpr size_t kPartSuffix = sizeof ".wkdownload" - 1;
  const long n = pathconf(dir.c_str(), _PC_NAME_MAX);
  const size_t limit = n > 0 ? size_t(n) : size_t(NAME_MAX);
  return limit > kPartSuffix + 1 ? limit - kPartSuffix : 1;
}

std::string GtkPlatform::preferred_extension(const std::string& mime_type) {
  std::string mime = mime_type;
  if (GPtr<char> type{g_content_type_from_mime_type(mime_type.c_str())})
    if (GPtr<char> m{g_content_type_get_mime_type(type.get())}) mime = m.get();  // aliases lead to the type's own name
  const auto& table = extension_table();
  auto it = table.find(mime);
  return it == table.end() ? std::string() : it->second;
}

}  // namespace platform::gtk
