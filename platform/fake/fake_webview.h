#pragma once
// A web view that records what the host asked of it and lets a test post page messages.

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/webview.h"

namespace platform::fake {

// How the host answered one policy decision of a fake view.
struct FakeDecision {
  std::optional<Policy> policy;  // the first answer
  int answers = 0;               // how many times the host answered
  bool dropped = false;          // destroyed without an answer (which cancels)
  bool pending() const { return !policy && !dropped; }
};

class FakePolicyDecision : public PolicyDecision {
 public:
  explicit FakePolicyDecision(std::shared_ptr<FakeDecision> log) : log_(std::move(log)) {}
  ~FakePolicyDecision() override {
    if (!log_->policy) log_->dropped = true;
  }
  void decide(Policy p) override {
    ++log_->answers;
    if (!log_->policy) log_->policy = p;
  }

 private:
  std::shared_ptr<FakeDecision> log_;
};

// An answer as the page that posted the message would get it.
struct FakeAnswer {
  std::string body, document;  // of the message answered
  bool ok = false;
  std::string json;
  std::string batch = {};  // the text handed to window.__quibAnswers; "" for a single answer
  bool operator==(const FakeAnswer&) const = default;
};

class FakeWebView : public WebView {
 public:
  void navigate(const std::string& url) override { urls.push_back(url); }
  void load_html(const std::string& html, const std::string& base) override { htmls.push_back(html); }
  void load_file(const std::string& path, const std::string& dir) override { files.push_back({path, dir}); }
  void eval(const std::string& script) override { scripts.push_back(script); }
  void add_user_script(const std::string& source) override { user_scripts.push_back(source); }
  void set_message_handler(const std::string& name, MessageHandler h) override { handlers[name] = std::move(h); }
  void set_user_agent(const std::string& ua) override { user_agent = ua; }
  void set_developer_extras(bool on) override { developer_extras = on; }
  void set_console_handler(ConsoleHandler h) override { console = std::move(h); }
  // The page writes to its console (or leaves an error uncaught).
  void page_console(const ConsoleMessage& m) {
    if (console) console(m);
  }
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
  struct FindAsk {
    std::string text;
    bool backwards, case_sensitive;
  };
  void find(const std::string& text, bool backwards, bool cs, std::function<void(bool)> done) override {
    finds.push_back({text, backwards, cs});
    done(find_found);
  }
  void eval_private(const std::string& script, std::function<void(std::optional<std::string>)> done) override {
    private_scripts.push_back(script);
    done(private_result);
  }
  // Writes pdf_bytes to path, or, with pdf_error set, a partial file and the error.
  // A path outside write_root (when set) is refused without a file.
  void print_to_pdf(const std::string& path, std::function<void(const std::string&)> done) override {
    pdf_paths.push_back(path);
    if (!write_root.empty() && path.rfind(write_root, 0) != 0) return done("outside the test's folder");
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      const std::string& bytes = pdf_error.empty() ? pdf_bytes : std::string("%PDF-1.");
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    done(pdf_error);
  }
  void show_print_dialog() override { ++print_dialogs; }

  bool find_found = true;
  std::optional<std::string> private_result;
  std::vector<FindAsk> finds;
  std::vector<std::string> private_scripts;
  std::string pdf_bytes = "%PDF-1.7\n%fake\n%%EOF\n", pdf_error;
  std::vector<std::string> pdf_paths;
  std::string write_root;  // "" = anywhere; a test that sends made-up paths keeps files in its folder
  int print_dialogs = 0;
  void set_page_dialog_handlers(PageDialogHandler d, FileChooserHandler f) override {
    page_dialogs = std::move(d);
    file_chooser = std::move(f);
  }
  void set_download_events(DownloadEvents e) override { download_events = std::move(e); }
  void set_drop_handler(DropHandler h) override { drop_handler = std::move(h); }
  // A file drop as the engine hands it over (before the page sees it).
  void drop_files(const std::vector<std::string>& paths) {
    if (drop_handler && !paths.empty()) drop_handler(paths);
  }
  DownloadEvents download_events;
  DropHandler drop_handler;

  // A page's alert(), confirm() or prompt(), or a click on its file input, as
  // the engine hands it over; what the page gets back lands in the result.
  struct PageAnswer {
    int answers = 0;  // never more than one
    bool ok = false;
    std::string text;
    bool null_text = true;  // prompt answered null
    std::vector<std::string> files;
    bool dropped = false;  // the reply went away unanswered
  };
  std::shared_ptr<PageAnswer> page_dialog(const PageDialog& d) {
    auto out = std::make_shared<PageAnswer>();
    if (page_dialogs) page_dialogs(d, std::make_unique<DialogReply>(out));
    return out;
  }
  std::shared_ptr<PageAnswer> click_file_input(bool multiple) {
    auto out = std::make_shared<PageAnswer>();
    if (file_chooser) file_chooser(FileChooserRequest{multiple}, std::make_unique<FilesReply>(out));
    return out;
  }

  void set_navigation_events(NavigationEvents e) override { nav = std::move(e); }
  std::unique_ptr<WebView> make_related_view() override {
    auto v = std::make_unique<FakeWebView>();
    v->opener = this;
    v->registry = registry;
    v->write_root = write_root;
    if (registry) registry->push_back(v.get());
    return v;
  }
  std::string url() const override { return current_url; }
  std::string title() const override { return current_title; }
  void reload_from_origin() override { ++reloads; }

  // The page asks for a navigation; the host's answer lands in the returned log.
  std::shared_ptr<FakeDecision> navigate_action(const NavigationAction& a) {
    auto log = std::make_shared<FakeDecision>();
    if (nav.decide_action) nav.decide_action(a, std::make_unique<FakePolicyDecision>(log));
    return log;
  }
  std::shared_ptr<FakeDecision> page_navigates(const std::string& url, bool main_frame = true) {
    NavigationAction a;
    a.url = url;
    a.main_frame = main_frame;
    return navigate_action(a);
  }
  std::shared_ptr<FakeDecision> respond(const NavigationResponse& r) {
    auto log = std::make_shared<FakeDecision>();
    if (nav.decide_response) nav.decide_response(r, std::make_unique<FakePolicyDecision>(log));
    return log;
  }
  // The main frame's load events, as the engine reports them.
  // The start names the URL being loaded; by default the view's current one.
  void load_started(const std::string& url) { if (nav.did_start) nav.did_start(url); }
  void load_started() { load_started(current_url); }
  void load_committed() { if (nav.did_commit) nav.did_commit(); }
  void load_finished() { if (nav.did_finish) nav.did_finish(); }
  void load_failed(const LoadError& e) { if (nav.did_fail) nav.did_fail(e); }
  void process_ends() { if (nav.process_terminated) nav.process_terminated(); }
  void title_changes(const std::string& t) {
    current_title = t;
    if (nav.title_changed) nav.title_changed();
  }
  // A page script calls window.open; null when the host refused a view.
  FakeWebView* window_open(const std::string& url) {
    NavigationAction a;
    a.url = url;
    a.new_window = true;
    return nav.create_view ? static_cast<FakeWebView*>(nav.create_view(a)) : nullptr;
  }
  void ready(const WindowFeatures& f) { if (nav.ready_to_show) nav.ready_to_show(f); }
  // The page calls window.close() (or its opener closes it).
  void page_closes() { if (nav.close_requested) nav.close_requested(); }

  // Delivers a message as a page would post it; its answers land in `answers`,
  // also after the view is gone.
  void post_message(const std::string& name, const ScriptMessage& m) {
    if (handlers.count(name)) handlers[name](m, std::make_unique<Reply>(answers, live_replies, m));
  }

  std::vector<std::string> urls, htmls, scripts, user_scripts;
  std::vector<std::pair<std::string, std::string>> files;  // path, read-access dir
  std::shared_ptr<std::vector<FakeAnswer>> answers = std::make_shared<std::vector<FakeAnswer>>();
  std::shared_ptr<int> live_replies = std::make_shared<int>(0);  // ways back still held by the host
  std::map<std::string, MessageHandler> handlers;
  std::string user_agent;
  bool developer_extras = false, file_access = false, webgpu = false, inspector_opened = false;
  std::vector<MenuCommand> editing;
  ConsoleHandler console;
  std::function<std::shared_ptr<const MenuNode>()> ctx_provider;
  MenuChosen ctx_chosen;
  PageDialogHandler page_dialogs;
  FileChooserHandler file_chooser;
  NavigationEvents nav;
  FakeWebView* opener = nullptr;                 // the view this one was made for (make_related_view)
  std::vector<FakeWebView*>* registry = nullptr;  // where views made from this one are listed
  std::string current_url, current_title;
  int reloads = 0;

 private:
  class DialogReply : public PageDialogReply {
   public:
    explicit DialogReply(std::shared_ptr<PageAnswer> out) : out_(std::move(out)) {}
    ~DialogReply() override {
      if (!out_->answers) out_->dropped = true;
    }
    void answer(bool ok, const std::string& text) override {
      ++out_->answers;
      out_->ok = ok;
      out_->null_text = !ok;
      out_->text = ok ? text : "";
    }

   private:
    std::shared_ptr<PageAnswer> out_;
  };
  class FilesReply : public FileChooserReply {
   public:
    explicit FilesReply(std::shared_ptr<PageAnswer> out) : out_(std::move(out)) {}
    ~FilesReply() override {
      if (!out_->answers) out_->dropped = true;
    }
    void choose(const std::vector<std::string>& paths) override {
      ++out_->answers;
      out_->files = paths;
    }

   private:
    std::shared_ptr<PageAnswer> out_;
  };

  class Reply : public MessageReply {
   public:
    Reply(std::shared_ptr<std::vector<FakeAnswer>> log, std::shared_ptr<int> live, const ScriptMessage& m)
        : log_(std::move(log)), live_(std::move(live)), m_(m) {
      ++*live_;
    }
    ~Reply() override { --*live_; }
    void answer(bool ok, const std::string& json) override { log_->push_back({m_.body, m_.document, ok, json}); }
    void answer_batch(const std::string& text) override {
      log_->push_back({m_.body, m_.document, false, "", text});
    }

   private:
    std::shared_ptr<std::vector<FakeAnswer>> log_;
    std::shared_ptr<int> live_;
    ScriptMessage m_;
  };
};

}  // namespace platform::fake
