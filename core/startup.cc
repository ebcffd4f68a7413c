#include "core/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/file_text.h"
#include "base/json_out.h"
#include "base/utf8.h"
#include "core/app_hooks.h"
#include "core/app_identity.h"
#include "core/debug_notes.h"
#include "core/launcher.h"
#include "core/page_bridge.h"
#include "core/page_files.h"
#include "core/reader.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/startup_phases.h"
#include "core/usage.h"
#include "core/window_chrome.h"
#include "core/window_observers.h"
#include "core/window_screens.h"
#include "core/window_state.h"
#include "core/wire.h"
#include "platform/webview_lib.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char* kUsage = "usage: %s <html-file-or-url> <socket-path> [title] [WxH]\n";

// A Unix socket address, refused (ENAMETOOLONG) when the path does not fit:
// a silently shortened path would name some other socket.
bool socket_address(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

int connect_socket(const std::string& path) {
  sockaddr_un addr;
  if (!socket_address(path, addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int r;
  do {
    r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

int listen_socket(const std::string& path) {
  sockaddr_un addr;
  if (!socket_address(path, addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, 1) < 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

struct Bundle {
  std::string path;
  platform::PlistDict info;
  bool info_read = false;  // Contents/Info.plist was there and a property list
};

Bundle main_bundle() {
  Bundle b;
  b.path = find_app_bundle(platform::current().executable_path());
  if (!b.path.empty()) b.info_read = platform::current().read_plist(b.path + "/Contents/Info.plist", b.info);
  return b;
}

void show_arch_unsupported_alert() {
  const char* message = "This app was built for another processor";
  const char* informative =
      "Sorry \xe2\x80\x94 this quibex app was built for a different processor, so it can\xe2\x80\x99t start on "
      "this machine.";
  // Said on stderr too: without a display there is nobody to show the alert to.
  std::fprintf(stderr, "quibex: %s. %s\n", message, informative);
  if (platform::current().init_display()) platform::current().show_alert(true, message, informative);
}

// Why a bundle that has no page cannot start, naming what its Info.plist lacks.
std::string no_page_reason(const Bundle& bundle) {
  std::error_code ec;
  const std::string plist = fs::exists(bundle.path + "/Contents/Info.plist", ec) ? "cannot be read" : "is missing";
  return bundle.path + " has no page to show: there is no Contents/Resources/app/frontend/index.html, and " +
         (bundle.info_read ? "its Info.plist names no QuibexUrl" : "Contents/Info.plist " + plist);
}

// why: what kept the bundle from starting, when nothing was said yet.
bool bundle_mode_setup(const Bundle& bundle, std::string& page, std::string& title, std::string& size,
                       std::string& version, std::string& why) {
  settings().windowless = bundle.info.boolean("QuibexNoMainWindow");
  if (bundle.path.size() < 4 || bundle.path.compare(bundle.path.size() - 4, 4, ".app") != 0) {
    why = "not an application bundle: " + platform::current().executable_path() +
          " is not inside a folder whose name ends in .app";
    return false;
  }
  const std::string index = bundle.path + "/Contents/Resources/app/frontend/index.html";
  const std::string url = bundle.info.string("QuibexUrl");
  std::error_code ec;
  if (!settings().windowless && url.empty() && !fs::exists(index, ec)) {
    why = no_page_reason(bundle);
    return false;
  }
  page = url.empty() ? index : url;
  title = bundle.info.string("CFBundleName").empty() ? "quibex" : bundle.info.string("CFBundleName");
  version = bundle.info.string("CFBundleVersion").empty() ? "0.0.0" : bundle.info.string("CFBundleVersion");
  size = bundle.info.string("QuibexWindowSize").empty() ? "960x640" : bundle.info.string("QuibexWindowSize");

  std::string tmpl = platform::current().temp_dir() + "quibex-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    const int e = errno;
    why = "cannot make the socket folder in " + platform::current().temp_dir() + ": " + std::strerror(e);
    return false;
  }
  g_sock_dir = buf.data();
  const std::string sock_path = g_sock_dir + "/app.sock";
  g_listen_fd = listen_socket(sock_path);
  if (g_listen_fd < 0) {
    std::fprintf(stderr, "launcher: cannot listen on %s: %s\n", sock_path.c_str(), std::strerror(errno));
    return false;
  }
  setenv("QUIBEX_SOCKET", sock_path.c_str(), 1);

  std::string exe = platform::current().executable_path();
  std::string backend = exe.substr(0, exe.rfind('/')) + "/qbx";
  std::string entry = bundle.path + "/Contents/Resources/app/entry.js";
  char* args[] = {backend.data(), const_cast<char*>("run"), entry.data(), nullptr};
  pid_t pid = 0;
  int r = posix_spawn(&pid, backend.c_str(), nullptr, nullptr, args, environ);
  if (r == ENOEXEC) {
    show_arch_unsupported_alert();
    std::exit(1);
  }
  if (r != 0) {
    std::fprintf(stderr, "launcher: cannot spawn backend: %s\n", std::strerror(r));
    return false;
  }
  g_backend_pid = pid;
#ifdef SYS_pidfd_open
  g_backend_pidfd = int(syscall(SYS_pidfd_open, pid, 0));
#endif
  return true;
}

void show_main_window() {
  if (platform::NativeWindow* win = webview_window(g_w.load())) win->show();
}

// The bundle's directory name without ".app".
std::string bundle_dir_name(const Bundle& b) {
  std::string name = fs::path(b.path).filename().string();
  return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
}

// Claims the application's one instance on the desktop. A later start hands its
// open requests to the running instance and ends: no backend, no socket. Answers
// the exit code when this process should end, else -1.
int claim_application(const Bundle& b, const std::vector<std::string>& open_args) {
  platform::AppInstance* instance = platform::app_instance();
  if (!instance) return -1;
  const std::string id = bundle_application_id(b.info.string("CFBundleIdentifier"), b.path);
  std::string error;
  switch (instance->claim(id, open_args, error)) {
    case platform::AppInstance::Role::kForwarded:
      return 0;
    case platform::AppInstance::Role::kFailed: {
      const std::string name = b.info.string("CFBundleName").empty() ? bundle_dir_name(b) : b.info.string("CFBundleName");
      std::fprintf(stderr, "quibex: %s is running, but did not take this request: %s\n", name.c_str(), error.c_str());
      return 1;
    }
    default:
      return -1;
  }
}

// Windowless: the application's policy as start-up read it; nothing is held back.
void initialize_windowless_application() {
  if (platform::Application* a = platform::application())
    a->set_activation_policy(settings().accessory ? platform::ActivationPolicy::kAccessory
                                         : platform::ActivationPolicy::kRegular);
  settings().suppress_order_front = false;
}

bool initialize_main_window(const std::string& title, int width, int height, bool bundle,
                            const StartupInfo& start) {
  const platform::PlistDict& info = start.info;
  platform::WindowParams params;
  params.title = title;
  params.panel = start.settings.panel;
  if (width >= 1) params.width = width;
  if (height >= 1) params.height = height;
  void* w = webview_create(settings().debug_on, params);
  if (!w) {
    std::fputs("launcher: failed to create webview\n", stderr);
    return false;
  }
  g_w.store(w);
  platform::WebView* view = webview_view(w);
  platform::NativeWindow* win = webview_window(w);
  view->set_developer_extras(settings().debug_on);
  forward_page_console(view, "main");
  view->enable_webgpu();
  view->enable_file_access();
  // Closing the main window ends the application, unless it only hides.
  win->set_events({[win] {
                     if (settings().hide_on_close)
                       win->hide();
                     else
                       platform::current().main_queue().quit();
                   },
                   {}, {}, {}});

  auto apply_plist_chrome = [&] {
    if (bundle && info.has("QuibexChrome"))
      do_chrome(w, std::make_unique<ChromeReq>(chrome_req_from_setting(info.string("QuibexChrome"))));
  };
  apply_plist_chrome();
  webview_set_title(w, title);
  webview_set_size(w, width, height, WEBVIEW_HINT_NONE);
  if (width >= 1 && height >= 1) {
    set_content_size_keep_top(win, width, height);
    center_window(win);
  }
  apply_plist_chrome();
  // The hooks that belong to the main window's set-up (none in windowless mode).
  run_startup_phase(startup_phases().main_window_made, start);
  attach_quib_bridge(view, "main");
  if (!settings().user_agent.empty()) view->set_user_agent(settings().user_agent);
  quib_apply_web_delegates(view);
  return true;
}

void parse_size(const std::string& size, int& width, int& height) {
  std::sscanf(size.c_str(), "%dx%d", &width, &height);
}

}  // namespace

std::string find_app_bundle(const std::string& executable_path) {
  fs::path p = fs::path(executable_path).parent_path();
  for (; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    std::string name = p.filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) return p.string();
  }
  return "";
}

StartupSettings read_settings(const EnvLookup& env, const platform::PlistDict& info, const std::string& bundle_path) {
  StartupSettings s;
  auto var = [&](const char* name) -> const char* { return env(name); };
  auto nonempty = [&](const char* name) { const char* v = var(name); return v && *v; };

  const char* v = var("QUIBEX_ACTIVATION");
  s.accessory = (v && std::strcmp(v, "accessory") == 0) || info.string("QuibexActivation") == "accessory";
  v = var("QUIBEX_DEFER_SHOW");
  s.defer_show = ((v && std::strcmp(v, "1") == 0) || info.boolean("QuibexDeferShow")) && !s.accessory;
  v = var("QUIBEX_PANEL");
  s.panel = (v && std::strcmp(v, "1") == 0) || info.boolean("QuibexPanel");
  // Set at all (even empty) wins over the key.
  v = var("QUIBEX_READ_ACCESS");
  s.read_access = v ? v : info.string("QuibexReadAccess");
  if (!s.read_access.empty()) s.read_access = expand_tilde(s.read_access);
  v = var("QUIBEX_UA");
  s.user_agent = v ? v : info.string("QuibexUserAgent");
  // Non-empty wins over the key.
  s.debug = nonempty("QUIBEX_DEBUG") ? var("QUIBEX_DEBUG") : info.string("QuibexDebug");
  if (nonempty("QUIBEX_INJECT")) {
    s.inject_js = var("QUIBEX_INJECT");
  } else if (!bundle_path.empty()) {
    s.inject_js = read_file(bundle_path + "/Contents/Resources/app/inject.js");
  }
  s.downloads = nonempty("QUIBEX_DOWNLOADS") ? var("QUIBEX_DOWNLOADS") : info.string("QuibexDownloads");
  s.popups = nonempty("QUIBEX_POPUPS") ? var("QUIBEX_POPUPS") : info.string("QuibexPopups");
  s.has_chrome = info.has("QuibexChrome");
  s.chrome = info.string("QuibexChrome");
  s.attribution = nonempty("QUIBEX_ATTRIBUTION") ? var("QUIBEX_ATTRIBUTION") : info.string("QuibexAttribution");
  if (!bundle_path.empty())
    for (const char* ext : {"html", "rtf", "rtfd"}) {
      const std::string f = bundle_path + "/Contents/Resources/Credits." + ext;
      std::error_code ec;
      if (fs::exists(f, ec)) {
        s.credits_file = f;
        break;
      }
    }
  s.help_book = info.string("CFBundleHelpBookName");
  s.ai_url = nonempty("QUIBEX_AI_URL") ? var("QUIBEX_AI_URL") : info.string("QuibexAIURL");
  s.ai_model = nonempty("QUIBEX_AI_MODEL") ? var("QUIBEX_AI_MODEL") : info.string("QuibexAIModel");
  v = var("QUIBEX_AI_REMOTE");
  s.ai_remote = (v && std::strcmp(v, "1") == 0) || info.boolean("QuibexAIRemote");
  return s;
}

int launcher_main(int argc, char** argv) {
  if (int code = answer_help_or_version(argc, argv); code >= 0) return code;
  std::string title = "quibex", size = "960x640", page, sock_path;
  Bundle bundle = main_bundle();
  settings().bundle_identifier = bundle.info.string("CFBundleIdentifier");  // desktop services
  settings().bundle_path = bundle.path;                                     // desktop services
  // A bundle's desktop entry starts its host with what to open: those are open
  // requests, not arguments of the host's own.
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    if (argv[i]) args.push_back(argv[i]);
  const StartArgs start = split_start_args(args, !bundle.path.empty());
  const bool open_start = start.open_start;
  const std::vector<std::string>& open_args = start.open;
  settings().own_argv_paths.insert(start.own.begin(), start.own.end());
  if (start.ignored)
    std::fprintf(stderr,
                 "quibex: this start ignores its argument %s: a bundle opens a link or an existing file given "
                 "alone, or what follows --open\n",
                 json_escape(utf8_sanitize(*start.ignored)).c_str());

  // Asked to end by a signal, the host ends as on QUIT: through the main loop (once
  // it runs), with the socket directory removed.
  platform::current().on_termination_signal([] { do_terminate(nullptr); });

  bool bundle_flag = false;
  std::string bundle_failure;
  if (argc < 3 || open_start) {
    if (!bundle.path.empty())
      if (int code = claim_application(bundle, open_args); code >= 0) return code;
    bundle_flag = bundle_mode_setup(bundle, page, title, size, settings().app_version, bundle_failure);
  }
  if (!bundle_flag) {
    const char* nm = std::getenv("QUIBEX_NO_MAIN_WINDOW");
    settings().windowless = nm && std::strcmp(nm, "1") == 0;
    if (argc < 3 || open_start) {
      if (!bundle_failure.empty()) std::fprintf(stderr, "quibex: %s\n", bundle_failure.c_str());
      std::fprintf(stderr, kUsage, argv[0]);
      return 1;
    }
    page = argv[1];
    sock_path = argv[2];
    if (argc > 3) title = argv[3];
    if (argc > 4) size = argv[4];
    if (argc > 5) settings().app_version = argv[5];
  }
  settings().app_name = title;
  int width = 960, height = 640;
  parse_size(size, width, height);
  // Before the first window, so that every window of the process carries it.
  set_host_identity(host_identity(bundle_flag, bundle.info, bundle.path, title));

  if (!platform::current().init_display()) {
    std::fputs(
        "quibex: cannot create the webview window: no display server session (SSH, CI, or a sandbox that blocks "
        "the display server?).\nquibex: the app code is likely fine; run from a logged-in GUI session on this "
        "machine.\n",
        stderr);
    return 3;
  }
  if (!bundle_flag) {
    int fd = connect_socket(sock_path);
    if (fd < 0) {
      std::fprintf(stderr, "launcher: cannot connect to %s: %s\n", sock_path.c_str(), std::strerror(errno));
      return 1;
    }
    g_sock = fd;
  }
  settings().bundle_mode = bundle_flag;

  // What start-up reads goes straight into the one settings object.
  Settings& set = settings();
  static_cast<StartupSettings&>(set) =
      read_settings([](const char* n) { return std::getenv(n); }, bundle.info, bundle.path);
  const StartupSettings& s = set;
  const StartupInfo startup{s, bundle.info};
  const StartupPhases& phases = startup_phases();
  run_startup_phase(phases.settings_read, startup);
  if (s.accessory) install_accessory_mode();
  if (s.defer_show) install_order_front_suppression();
  set.debug_on = !s.debug.empty();
  set.debug_open = s.debug == "open";
  set.media_origins_key = bundle.info.string("QuibexMediaOrigins");
  run_startup_phase(phases.settings_applied, startup);

  if (settings().windowless) {
    initialize_windowless_application();
  } else if (!initialize_main_window(title, width, height, bundle_flag, startup)) {
    return 1;
  }
  run_startup_phase(phases.windows_ready, startup);
  install_winstate_observers();
  install_open_handlers();
  run_startup_phase(phases.before_page, startup);

  if (!settings().windowless) {
    void* w = g_w.load();
    if (is_web_url(page)) {
      webview_navigate(w, page);
    } else {
      settings().html_path = page;
      if (!load_html_file(w, page)) {
        std::fprintf(stderr, "launcher: cannot read %s\n", page.c_str());
        return 1;
      }
    }
    // Every show is held back while start-up suppresses them: the main window
    // then stays hidden until a show command (or the deferred show).
    show_main_window();
    if (settings().suppress_order_front) {
      if (platform::NativeWindow* win = webview_window(w)) win->hide();
      settings().suppress_order_front = false;
    }
    if (settings().defer_show)
      platform::current().timers().once(3000, [] {
        if (!settings().defer_show) return;
        settings().defer_show = false;
        show_main_window();
      });
    if (settings().debug_open)
      platform::current().main_queue().post([] {
        if (platform::WebView* v = webview_view(g_w.load())) v->open_inspector();
      });
  }

  std::thread(sock_read_loop).detach();
  platform::current().main_queue().run();
  launcher_finish(0);
}

