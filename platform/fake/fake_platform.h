#pragma once
// An in-memory desktop for tests: the main queue and timers run only when the
// test drains them or advances the virtual clock; windows, web views and screens
// record what was asked and let the test fire desktop events.

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fake/fake_audio.h"
#include "platform/fake/fake_services.h"
#include "platform/fake/fake_dialogs.h"
#include "platform/fake/fake_desktop_services.h"
#include "platform/fake/fake_system_info.h"
#include "platform/fake/fake_webview.h"
#include "platform/fake/fake_window.h"
#include "platform/platform.h"

namespace platform::fake {

class FakeMainQueue : public MainQueue {
 public:
  using Item = QueuedItem;
  void post(HandlerFn handler, void* w, void* record) override;
  void post_batch(const QueuedItem* items, size_t n) override;
  using MainQueue::post;
  // Runs queued items (and items they queue) in order, stopping while the queue
  // is held; returns how many ran.
  size_t drain();
  // Removes the queued items without running them.
  std::vector<Item> take();
  size_t size();
  void run() override;
  void quit() override { quit_requested_ = true; }
  bool quit_requested() const { return quit_requested_; }
  void clear_quit() { quit_requested_ = false; }

 private:
  std::mutex mu_;
  std::deque<Item> items_;
  bool quit_requested_ = false;
};

class FakeTimers : public Timers {
 public:
  TimerId once(double ms, std::function<void()> fn) override;
  TimerId repeating(double ms, std::function<void()> fn) override;
  void cancel(TimerId id) override;
  double now_ms() override { return now_; }
  // Moves the virtual clock forward, firing due timers in time order.
  void advance(double ms);
  size_t pending() const { return timers_.size(); }

 private:
  struct Timer {
    double due;
    double period;  // 0 = one-shot
    std::function<void()> fn;
  };
  double now_ = 0;
  TimerId next_ = 1;
  std::map<TimerId, Timer> timers_;
};

class FakeSerialQueue : public SerialQueue {
 public:
  void post(std::function<void()> fn) override;
  size_t drain();

 private:
  std::mutex mu_;
  std::deque<std::function<void()>> items_;
};

class FakeStatusItem : public StatusItem {
 public:
  void set_image(const std::string& path, const std::string& name, bool tmpl) override {
    image_path = path;
    icon_name = name;
    template_image = tmpl;
  }
  bool has_image() const override { return !image_path.empty() || !icon_name.empty(); }
  void set_title(const std::string& t) override { title = t; }
  void set_tooltip(const std::string& t) override { tooltip = t; }
  void set_menu(std::shared_ptr<const MenuNode> m, MenuChosen c) override {
    menu = std::move(m);
    chosen = std::move(c);
  }
  void set_click_handler(std::function<void(bool, bool)> h) override { clicks = std::move(h); }
  void set_secondary_menu(std::shared_ptr<const MenuNode> m, MenuChosen c) override {
    secondary_menu = std::move(m);
    secondary_chosen = std::move(c);
  }
  void popup_menu(std::shared_ptr<const MenuNode> m, MenuChosen c) override {
    popped.push_back(m);
    chosen = std::move(c);
  }
  std::optional<Rect> frame() const override { return where; }
  // A click on the item: with its own menu the desktop opens it, else the host hears it.
  void click(bool secondary = false, bool control = false) {
    if (menu) {
      opened.push_back(menu);
    } else if (clicks) {
      clicks(secondary, control);
    }
  }

  std::string image_path, icon_name, title, tooltip;
  bool template_image = true;
  std::shared_ptr<const MenuNode> menu;
  MenuChosen chosen;
  std::shared_ptr<const MenuNode> secondary_menu;  // offered to a desktop that draws it itself
  MenuChosen secondary_chosen;
  std::function<void(bool, bool)> clicks;
  std::vector<std::shared_ptr<const MenuNode>> popped;  // menus the host opened on a click
  std::vector<std::shared_ptr<const MenuNode>> opened;  // menus the desktop opened itself
  std::optional<Rect> where;
};

// Cookies in a list. Completions come at once, or, while hold is set, wait in
// `held` until release().
class FakeCookieStore : public CookieStore {
 public:
  void get_all(std::function<void(std::vector<Cookie>)> done) override {
    later([this, done] { done(cookies); });
  }
  void set(const Cookie& c, std::function<void(bool)> done) override {
    sets.push_back(c);
    if (!refuse) {
      erase(c);
      cookies.push_back(c);
    }
    later([this, done] { done(!refuse); });
  }
  void remove(const Cookie& c, std::function<void()> done) override {
    removes.push_back(c);
    erase(c);
    later(done);
  }
  void release() {
    auto run = std::move(held);
    held.clear();
    for (auto& fn : run) fn();
  }
  std::vector<Cookie> cookies, sets, removes;
  bool refuse = false, hold = false;
  std::vector<std::function<void()>> held;

 private:
  void erase(const Cookie& c) {
    std::erase_if(cookies, [&](const Cookie& k) { return k.name == c.name && k.domain == c.domain && k.path == c.path; });
  }
  void later(std::function<void()> fn) {
    if (hold) held.push_back(std::move(fn));
    else fn();
  }
};
// claim() answers what the test sets; later starts of the application are
// played with later_start_open and later_start_reopen, and reach the handlers
// through the main queue, as on the desktop.
class FakeAppInstance : public AppInstance {
 public:
  Role claim(const std::string& app_id, const std::vector<std::string>& args, std::string& error) override;
  void set_handlers(std::function<void(const std::vector<OpenItem>&)> open, std::function<void()> reopen) override;
  void later_start_open(std::vector<OpenItem> items) { request(std::move(items), false); }
  void later_start_reopen() { request({}, true); }

  Role role = Role::kAlone;  // what claim() answers
  std::string failure = "the running instance did not answer";  // the error of kFailed

 private:
  struct Request {
    std::vector<OpenItem> items;
    bool reopen = false;
  };
  void request(std::vector<OpenItem> items, bool reopen);
  void deliver(Request r);
  std::function<void(const std::vector<OpenItem>&)> open_;
  std::function<void()> reopen_;
  std::vector<Request> early_;  // came before the handlers
};

class FakePlatform : public Platform {
 public:
  FakePlatform() {
    install_application(&app);
    install_system_info(&system);
    install_app_instance(&instance);
    install_clipboard(&clip);
    install_notifier(&notes);
    install_desktop_keys(&keys);
    install_system_events(&events);
    install_permissions(&perms);
    install_audio_server(&audio);  // audio
    app.closing = [this](FakeWindow* w) { dialog_box.window_closed(w); };
  }
  ~FakePlatform() override {
    if (desktop_keys() == &keys) install_desktop_keys(nullptr);
    if (system_events() == &events) install_system_events(nullptr);
    if (permissions() == &perms) install_permissions(nullptr);
    if (system_info() == &system) install_system_info(nullptr);
    if (app_instance() == &instance) install_app_instance(nullptr);
    if (clipboard() == &clip) install_clipboard(nullptr);
    if (notifier() == &notes) install_notifier(nullptr);
    if (audio_server() == &audio) install_audio_server(nullptr);  // audio
  }
  bool init_display() override { return has_display; }
  std::string executable_path() override { return exe_path; }
  std::string temp_dir() override { return tmp_dir; }
  bool read_plist(const std::string& path, PlistDict& out) override {
    auto it = plists.find(path);
    if (it == plists.end()) return false;
    out = it->second;
    return true;
  }
  void on_termination_signal(std::function<void()> fn) override { termination = std::move(fn); }
  void show_alert(bool critical, const std::string& message, const std::string& informative) override {
    alerts.push_back(message + "|" + informative);
  }
  MainQueue& main_queue() override { return queue; }
  Timers& timers() override { return clock; }
  Screens& screens() override { return monitors; }
  std::unique_ptr<SerialQueue> make_serial_queue(const std::string& name) override;
  std::unique_ptr<NativeWindow> make_window(const WindowParams& params) override;
  std::unique_ptr<WebView> make_webview() override;
  std::unique_ptr<StatusItem> make_status_item() override;
  void install_media_scheme(MediaScheme s) override { media = std::move(s); }
  void show_about_panel(const AboutPanel& about) override { abouts.push_back(about); }
  void set_identity(const HostIdentity& id) override { identity = id; }
  void show_help(const std::string& book) override { helps.push_back(book); }
  CookieStore& cookie_store() override { return cookies; }  // cookies
  Dialogs& dialogs() override { return dialog_box; }
  std::string downloads_dir() override { return downloads_folder; }
  std::string preferred_extension(const std::string& mime) override {
    auto it = mime_extensions.find(mime);
    return it == mime_extensions.end() ? std::string() : it->second;
  }
  size_t download_name_max(const std::string&) override { return download_name_limit; }
  void open_external(const std::string& url) override { opened.push_back(url); }

  FakeMainQueue queue;
  FakeTimers clock;
  FakeScreens monitors;
  FakeApplication app{&monitors};
  FakeSystemInfo system;
  FakeCookieStore cookies;  // cookies
  FakeAppInstance instance;
  FakeClipboard clip;
  FakeNotifier notes;
  FakeDesktopKeys keys;
  FakeSystemEvents events;
  FakePermissions perms;
  FakeAudioServer audio;  // audio
  bool has_display = true;
  bool fail_windows = false;  // make_window gives null, as a desktop that cannot make one
  std::string exe_path = "/opt/quibex/quibex";
  std::string tmp_dir = "/tmp/";
  std::string write_root;  // handed to every web view made: files only under it ("" = anywhere)
  std::map<std::string, PlistDict> plists;
  std::vector<std::string> alerts;
  std::function<void()> termination;  // what a termination signal would run
  std::vector<FakeWindow*> windows;    // every window made, alive or not (not owned)
  std::vector<FakeWebView*> webviews;  // likewise
  std::vector<FakeStatusItem*> status_items;  // likewise
  std::vector<AboutPanel> abouts;
  HostIdentity identity;
  std::vector<std::string> helps;
  MediaScheme media;
  FakeDialogs dialog_box;  // every dialog the host opened
  std::string downloads_folder;                              // "" = the desktop names none
  std::map<std::string, std::string> mime_extensions;        // MIME type -> preferred extension
  size_t download_name_limit = 255;
  std::vector<std::string> opened;  // URLs handed to the desktop's handlers
};

}  // namespace platform::fake
