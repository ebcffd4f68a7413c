// SHELL, LOGIN, POWER, SOUND and SPOTLIGHT.

#include "services/capture_files.h"
#include "services/desktop_commands.h"

#include <pwd.h>
#include <unistd.h>

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "base/utf8.h"
#include "core/answers.h"
#include "core/app_hooks.h"
#include "base/json_out.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "platform/desktop_shell.h"
#include "platform/platform.h"
#include "services/get_reply.h"

namespace fs = std::filesystem;

namespace {


int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += char(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// A URL has a scheme of a letter then letters, digits, "+", "-" or ".", and no
// white space or control characters anywhere (which no URL may have).
bool has_url_scheme(const std::string& s) {
  const size_t colon = s.find(':');
  if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  for (size_t i = 1; i < colon; ++i) {
    const char c = s[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  for (unsigned char c : s)
    if (c <= ' ' || c == 0x7f) return false;
  return true;
}

std::string expand_tilde(const std::string& arg, const std::string& home) {
  if (arg.empty() || arg[0] != '~') return arg;
  const size_t slash = arg.find('/');
  const std::string user = arg.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  std::string base;
  if (user.empty()) {
    base = home;
  } else if (const passwd* pw = getpwnam(user.c_str())) {
    base = pw->pw_dir;
  } else {
    return arg;  // no such user: left as it is
  }
  return base + (slash == std::string::npos ? "" : arg.substr(slash));
}

std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

// ---- power ------------------------------------------------------------------

std::uint64_t g_power_assertion = 0;  // the held inhibition; 0 = none
std::uint64_t g_power_generation = 0; // which POWER the desktop's answer belongs to

}  // namespace

std::string home_dir() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid())) return pw->pw_dir;
  return "/";
}

ShellTarget parse_shell_arg(const std::string& arg, const std::string& home) {
  ShellTarget t;
  t.has_scheme = has_url_scheme(arg);
  t.path = expand_tilde(arg, home);
  if (t.has_scheme && arg.size() >= 5 && strncasecmp(arg.c_str(), "file:", 5) == 0) {
    t.file_url = true;
    std::string rest = arg.substr(5);
    if (rest.rfind("//", 0) == 0) {  // an authority: empty or localhost
      const size_t slash = rest.find('/', 2);
      rest = slash == std::string::npos ? "/" : rest.substr(slash);
    }
    rest = rest.substr(0, rest.find_first_of("?#"));
    t.path = percent_decode(rest);
  }
  return t;
}


void do_shell(void*, std::unique_ptr<ShellReq> req) {
  const std::string id = req->id;
  platform::DesktopShell* shell = platform::desktop_shell();
  const ShellTarget t = parse_shell_arg(req->arg, home_dir());
  const std::string& op = req->op;
  if (op != "open" && op != "reveal" && op != "trash") return send_got(id, ok_error_json(false, "unknown shell op"));
  if (!shell) return send_got(id, ok_error_json(false, "unsupported"));
  if (op == "open") {
    if (t.has_scheme)
      return shell->open_uri(req->arg, [id](bool ok, std::string) {
        send_got(id, ok_error_json(ok, ok ? "" : "no application registered for URL"));
      });
    const std::string path = absolute(t.path);
    if (path.empty() || !shell->path_exists(path)) return send_got(id, ok_error_json(false, "no such file"));
    return shell->open_uri(file_uri(path),
                           [id](bool ok, std::string) { send_got(id, ok_error_json(ok, ok ? "" : "open failed")); });
  }
  if (op == "reveal") {
    const std::string path = absolute(t.path);
    if (path.empty() || !shell->path_exists(path)) return send_got(id, ok_error_json(false, "no such file"));
    shell->reveal(path);
    return send_got(id, ok_error_json(true, ""));
  }
  // Trash only what is named in full: an empty or relative path would name the
  // working folder or something in it, and a URL of another scheme names no file.
  if (t.has_scheme && !t.file_url) return send_got(id, ok_error_json(false, "not a file URL"));
  if (t.path.empty() || t.path[0] != '/') return send_got(id, ok_error_json(false, "not an absolute path"));
  std::string error;
  const bool ok = shell->trash(t.path, error);
  send_got(id, ok_error_json(ok, ok ? "" : error.empty() ? "trash failed" : error));
}

// ---- the login item -----------------------------------------------------------

namespace {

// One argument of a desktop entry's Exec key, quoted, then escaped as a string value.
std::string exec_arg(const std::string& arg) {
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string out;
  for (char c : quoted) {
    if (c == '\\') out += "\\\\";
    else if (c == '%') out += "%%";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string one_line(const std::string& s) {
  std::string out;
  for (char c : s) out += (c == '\n' || c == '\r') ? ' ' : c;
  return out;
}

bool entry_enabled(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line))
    if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return false;
  return true;
}

}  // namespace

std::string autostart_entry(const std::string& name, const std::string& executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + one_line(name) + "\n"
         "Exec=" + exec_arg(executable) + "\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::string autostart_path(const std::string& app_id) {
  std::string config;
  if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c == '/') config = c;
  else config = home_dir() + "/.config";
  return config + "/autostart/" + app_id + ".desktop";
}

void do_login(void*, std::unique_ptr<LoginReq> req) {
  if (settings().bundle_identifier.empty())
    return send_got(req->id, R"({"status":"unsupported","ok":false,"error":null})");
  const std::string app_id = application_id_for(settings().bundle_identifier, "", settings().bundle_path);
  const std::string path = autostart_path(app_id);
  bool ok = true;
  std::string error;
  if (req->action == 1 && !entry_enabled(path)) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    // Written beside and renamed over, so a half-written entry never stands.
    if (!write_file_atomically(path, autostart_entry(settings().app_name, platform::current().executable_path()))) {
      ok = false;
      error = std::string("cannot write ") + path + ": " + std::strerror(errno);
    }
  } else if (req->action == 0 && entry_enabled(path)) {
    if (std::remove(path.c_str()) != 0) {
      ok = false;
      error = std::string("cannot remove ") + path + ": " + std::strerror(errno);
    }
  }
  send_got(req->id, JsonObject()
                        .text("status", entry_enabled(path) ? "enabled" : "disabled")
                        .boolean("ok", ok)
                        .raw("error", error.empty() ? "null" : json_text(error))
                        .str());
}

// ---- power --------------------------------------------------------------------

void power_reset_for_tests() {
  g_power_assertion = 0;
  g_power_generation = 0;
}

void do_power(void*, std::unique_ptr<PowerReq> req) {
  platform::DesktopShell* shell = platform::desktop_shell();
  // The reason travels as a D-Bus string, which must be UTF-8: an "on" with
  // another reason is refused whole, and what is held stays held.
  if (req->on && !utf8_valid(req->reason)) {
    std::fprintf(stderr, "quibex: POWER %s: the reason is not UTF-8 text\n", req->id.c_str());
    return send_got(req->id, JsonObject().boolean("ok", false).boolean("active", g_power_assertion != 0).str());
  }
  const std::uint64_t generation = ++g_power_generation;
  if (g_power_assertion) {
    if (shell) shell->uninhibit(g_power_assertion);
    g_power_assertion = 0;
  }
  if (!req->on) return send_got(req->id, R"({"ok":true,"active":false})");
  if (!shell) return send_got(req->id, R"({"ok":false,"active":false})");
  const std::string id = req->id;
  const std::string reason = req->reason.empty() ? "quibex app" : req->reason;
  shell->inhibit(req->display, utf8_sanitize(settings().app_name), reason, [id, generation](std::uint64_t token) {
    if (token && generation != g_power_generation) {
      // A later POWER came while this one was being set up: it decides what is held.
      if (platform::DesktopShell* s = platform::desktop_shell()) s->uninhibit(token);
      return send_got(id, R"({"ok":true,"active":false})");
    }
    if (token) g_power_assertion = token;
    send_got(id, JsonObject().boolean("ok", token != 0).boolean("active", token != 0).str());
  });
}

// ---- sounds and search --------------------------------------------------------

void do_sound(void*, std::unique_ptr<SoundReq> req) {
  platform::DesktopShell* shell = platform::desktop_shell();
  if (!shell) return send_got(req->id, ok_json(false));
  // One answer whatever the sound server does: a sound not started in time answers false.
  auto answer = std::make_shared<GetReply>(req->id, req->name, ok_json(false), "SOUND");
  GetReply::guard(answer, kSoundAnswerLimitMs);
  shell->play_sound(req->name, [answer](bool ok) { answer->send(ok_json(ok)); });
}

namespace {
constexpr int kSearchLimit = 100;
constexpr int kSearchTimeoutMs = 10000;
}  // namespace

void do_spotlight(void*, std::unique_ptr<SpotlightReq> req) {
  const std::string id = req->id;
  platform::DesktopShell* shell = platform::desktop_shell();
  if (!shell || req->query.empty()) return send_got(id, R"({"ok":true,"paths":[]})");
  // The index is asked over D-Bus, where text must be UTF-8.
  shell->search(utf8_sanitize(req->query), home_dir(), kSearchLimit, kSearchTimeoutMs, [id](std::vector<std::string> paths) {
    std::string list = "[";
    int n = 0;
    for (const std::string& p : paths) {
      if (n++ == kSearchLimit) break;
      if (list.size() > 1) list += ',';
      list += json_text(p);
    }
    send_got(id, "{\"ok\":true,\"paths\":" + list + "]}");
  });
}

// ---- sharing and previews -----------------------------------------------------

void do_share(void* w, std::unique_ptr<ShareReq> req) {
  platform::ShareItems items;
  items.text = req->text;
  if (!req->url.empty() && has_url_scheme(req->url)) items.url = req->url;
  items.files = req->files;
  if (items.text.empty() && items.url.empty() && items.files.empty()) return;
  platform::WebView* view = webview_for_id(w, req->window);
  platform::DesktopShell* shell = platform::desktop_shell();
  if (!view || !shell) return;
  shell->share(view, items, req->x, req->y);
}

void do_quicklook(void*, std::unique_ptr<QLReq> req) {
  if (platform::DesktopShell* shell = platform::desktop_shell()) shell->preview(req->paths);
}
