#include "webui/downloads.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "base/json_out.h"
#include "base/utf8.h"
#include "core/page_files.h"
#include "core/settings.h"
#include "core/wire.h"
#include "platform/platform.h"
#include "webui/dialogs.h"

namespace fs = std::filesystem;

std::map<platform::Download*, QuibDownloadInfo> g_downloads;
std::int64_t g_download_seq = 0;

namespace {

bool g_drop_hook = false;
constexpr double kProgressIntervalMs = 250.0;

// A name's extension: after its last dot, when that dot neither starts nor ends
// the name (".profile" and "notes." have none).
void split_extension(const std::string& name, std::string& base, std::string& ext) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
    base = name;
    ext.clear();
    return;
  }
  base = name.substr(0, dot);
  ext = name.substr(dot + 1);
}

// The name "base" + suffix + "." + ext, base cut at a UTF-8 boundary so that the
// whole fits in `limit` bytes. An extension too long to keep beside a base is cut
// with the rest of the name.
std::string fitted_name(std::string base, const std::string& suffix, std::string ext, size_t limit) {
  if (!ext.empty() && ext.size() + 1 > limit / 2) {
    base += "." + ext;
    ext.clear();
  }
  const std::string tail = suffix + (ext.empty() ? "" : "." + ext);
  size_t keep = tail.size() < limit ? limit - tail.size() : 0;
  base.resize(utf8_cut(base, keep));
  return base + tail;
}

// Anything at all under that name counts, a dangling link or a folder too:
// nothing may be written through or over it.
bool name_in_use(const std::string& path, const std::vector<std::string>& taken) {
  for (const std::string& t : taken)
    if (t == path) return true;
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  return fs::status_known(st) && st.type() != fs::file_type::not_found;
}

std::string join(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The paths of downloads under way: their files may not be there yet.
std::vector<std::string> paths_under_way() {
  std::vector<std::string> out;
  for (const auto& [d, info] : g_downloads) out.push_back(info.path);
  return out;
}

void on_end(platform::Download* d, const char* state, const std::string& error);

void start_download(platform::Download* d, const std::string& url, const std::string& name, const std::string& path,
                    bool allow_overwrite) {
  QuibDownloadInfo info;
  info.id = ++g_download_seq;
  info.url = url;
  info.filename = name;
  info.path = path;
  g_downloads[d] = info;
  quib_download_event(info.id, url, name, path, "started", "", -1, -1);
  g_downloads[d].observing = true;
  // The engine may have given up while the save panel was open: every started
  // download still ends with an event.
  if (!d->set_destination(path, allow_overwrite)) on_end(d, "failed", "the download ended before it could start");
}

void refuse(platform::Download* d, const std::string& url, const std::string& name, const char* state) {
  quib_download_event(++g_download_seq, url, name, "", state, "", -1, -1);
  d->set_destination("", false);
}

void on_destination(platform::WebView* view, platform::Download* d, const platform::DownloadResponse& r) {
  const std::string& url = r.url;
  const std::string mode = settings().downloads.empty() ? "auto" : settings().downloads;
  std::string name = download_safe_name(r.suggested_name);

  if (mode == "deny") {
    refuse(d, url, name, "denied");
    return;
  }
  if (mode == "ask") {
    platform::DialogPlace place;
    place.page = view;
    place.close_with_window = true;
    const std::string folder = quib_downloads_dir();
    run_save_panel("", fit_download_name(name, platform::current().download_name_max(folder)), place, [d, url, name](const std::string* chosen) {
      if (!chosen || chosen->empty()) {
        refuse(d, url, name, "cancelled");
        return;
      }
      // The user chose this file, and the panel asked before replacing one.
      start_download(d, url, fs::path(*chosen).filename().string(), *chosen, true);
    }, folder);
    return;
  }

  std::string base, ext;
  split_extension(name, base, ext);
  if (ext.empty() && !r.mime_type.empty()) {
    const std::string preferred = platform::current().preferred_extension(r.mime_type);
    if (!preferred.empty() && download_safe_name(preferred) == preferred) name += "." + preferred;
  }
  const std::string dir = quib_downloads_dir();
  std::error_code ec;
  fs::create_directories(dir, ec);  // a missing folder would fail every download
  name = unique_download_name(dir, name, paths_under_way(), platform::current().download_name_max(dir));
  start_download(d, url, name, join(dir, name), false);
}

void on_progress(platform::Download* d, std::int64_t received, std::int64_t total) {
  auto it = g_downloads.find(d);
  if (it == g_downloads.end() || !it->second.observing) return;
  const double now = quib_now_ms();
  if (now - it->second.lastProgressMs < kProgressIntervalMs) return;
  it->second.lastProgressMs = now;
  const QuibDownloadInfo& i = it->second;
  quib_download_event(i.id, i.url, i.filename, i.path, "progress", "", received < 0 ? 0 : received, total);
}

void on_end(platform::Download* d, const char* state, const std::string& error) {
  auto it = g_downloads.find(d);
  if (it == g_downloads.end()) return;
  const QuibDownloadInfo info = it->second;
  g_downloads.erase(it);
  quib_download_event(info.id, info.url, info.filename, info.path, state, error, -1, -1);
}

}  // namespace

double quib_now_ms() { return platform::current().timers().now_ms(); }

std::string quib_downloads_dir() {
  std::string dir = platform::current().downloads_dir();
  if (dir.empty()) dir = expand_tilde("~/Downloads");
  return dir;
}

void quib_download_event(std::int64_t id, const std::string& url, const std::string& filename, const std::string& path,
                         const char* state, const std::string& error, std::int64_t bytes, std::int64_t total) {
  std::string line = "DOWNLOAD {\"id\":" + std::to_string(id) + ",\"url\":" + json_escape(url) +
                     ",\"filename\":" + json_escape(filename) +
                     ",\"path\":" + (path.empty() ? std::string("null") : json_escape(path)) + ",\"state\":\"" + state +
                     "\"";
  if (bytes >= 0)
    line += ",\"bytes\":" + std::to_string(bytes) + ",\"total\":" + std::to_string(total <= 0 ? -1 : total);
  if (!error.empty()) line += ",\"error\":" + json_escape(error);
  line += "}";
  sock_write_line(line);
}

std::string download_safe_name(const std::string& suggested) {
  // Only the last component: a name with "/" (or a "\" of another system's
  // paths) in it must not lead out of the folder.
  const size_t slash = suggested.find_last_of("/\\");
  const std::string last = slash == std::string::npos ? suggested : suggested.substr(slash + 1);
  std::string out;
  for (size_t i = 0; i < last.size(); ++i) {
    const unsigned char c = last[i];
    if (c < 0x20 || c == 0x7f) continue;
    // The C1 controls, U+0080 to U+009F, in UTF-8.
    if (c == 0xc2 && i + 1 < last.size() && (unsigned char)last[i + 1] >= 0x80 && (unsigned char)last[i + 1] <= 0x9f) {
      ++i;
      continue;
    }
    out += char(c);
  }
  if (out.empty() || out == "." || out == "..") return "download";
  return out;
}

std::string fit_download_name(const std::string& name, size_t limit) {
  std::string base, ext;
  split_extension(name, base, ext);
  return fitted_name(base, "", ext, limit);
}

std::string unique_download_name(const std::string& dir, const std::string& name,
                                 const std::vector<std::string>& taken, size_t limit) {
  std::string base, ext;
  split_extension(name, base, ext);
  std::string candidate = fitted_name(base, "", ext, limit);
  for (int n = 2; name_in_use(join(dir, candidate), taken) && n < 1000; ++n)
    candidate = fitted_name(base, " (" + std::to_string(n) + ")", ext, limit);
  return candidate;
}

void apply_download_delegate(platform::WebView* view) {
  if (!view) return;
  platform::DownloadEvents e;
  e.destination = [view](platform::Download* d, const platform::DownloadResponse& r) { on_destination(view, d, r); };
  e.progress = on_progress;
  e.finished = [](platform::Download* d) { on_end(d, "done", ""); };
  e.failed = [](platform::Download* d, const std::string& error) { on_end(d, "failed", error); };
  view->set_download_events(std::move(e));
}

void install_drop_hook() { g_drop_hook = true; }

std::string drop_line(const std::vector<std::string>& paths) {
  if (paths.empty()) return "";
  std::string line = "DROP [";
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i) line += ',';
    line += json_escape(paths[i]);
  }
  return line + "]";
}

void apply_drop_hook(platform::WebView* view) {
  if (!view || !g_drop_hook) return;
  view->set_drop_handler([](const std::vector<std::string>& paths) {
    // A path that is not UTF-8 cannot be named in JSON without becoming another path.
    const std::string line = drop_line(keep_utf8_paths(paths));
    if (!line.empty()) sock_write_line(line);
  });
}

void downloads_reset_for_tests() {
  g_downloads.clear();
  g_download_seq = 0;
  g_drop_hook = false;
}
