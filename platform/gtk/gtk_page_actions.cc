// Find in page, private-world scripts, PDF export and printing on WebKitGTK.

#include "platform/gtk/gtk_page_actions.h"
#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_navigation.h"

#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>

#include <cstdio>
#include <deque>
#include <memory>

#include "base/json_out.h"
#include "base/utf8.h"

namespace platform::gtk {

namespace {

// What each evaluation's completion needs; the C++ view may be gone by then,
// the WebKitWebView is kept alive by the evaluation itself.
struct Evaluation {
  std::function<void(JSCValue*)> done;  // null value: the script failed or the page went away
};

void on_evaluated(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Evaluation> e(static_cast<Evaluation*>(data));
  GObjectPtr<JSCValue> v(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, nullptr));
  e->done(v.get());
}

void evaluate(WebKitWebView* view, const std::string& script, std::function<void(JSCValue*)> done) {
  webkit_web_view_evaluate_javascript(view, script.c_str(), gssize(script.size()), kBridgeWorld, nullptr, nullptr,
                                      &on_evaluated, new Evaluation{std::move(done)});
}

// The printer GTK's file backend offers, by the name it shows in this locale.
const char* file_printer_name() { return g_dgettext("gtk30", "Print to File"); }

// The settings the user last printed with, offered again next time.
GObjectPtr<GtkPrintSettings> g_last_settings;
GObjectPtr<GtkPageSetup> g_last_page_setup;

// Print operations of one view run one at a time: the page's web process does
// not survive several at once, and the next operation on a view whose process
// ended crashed the host. So each view keeps a queue, and an operation whose turn
// comes while the view shows no document (never loaded, or its process ended)
// ends at once with an error instead of reaching WebKit.
constexpr const char* kPrintQueueKey = "quibex-print-queue";
constexpr const char* kNoDocument = "no document";

struct PrintJob {
  std::shared_ptr<GtkPrintSettings> settings;
  std::shared_ptr<GtkPageSetup> setup;  // null: WebKit's own
  std::function<void(const std::string& error)> done;
  const char* fallback;  // the error when WebKit gives no words for one
};

struct PrintQueue {
  std::deque<PrintJob> waiting;
  bool busy = false;  // an operation of the view runs
  // A view goes only once its running operation let it go; anything still
  // waiting is answered all the same.
  ~PrintQueue() {
    for (PrintJob& job : waiting) job.done("the window closed");
  }
};

// The operation running for a view, from its start to its "finished".
struct RunningPrint {
  WebKitWebView* view;
  std::function<void(const std::string&)> done;
  const char* fallback;
  std::string error;
};

void run_next_print(WebKitWebView* view);

void on_print_failed(WebKitPrintOperation*, GError* error, RunningPrint* r) {
  r->error = error && error->message && *error->message ? error->message : r->fallback;
}

void on_print_finished(WebKitPrintOperation* op, RunningPrint* running) {
  std::unique_ptr<RunningPrint> r(running);
  g_signal_handlers_disconnect_by_data(op, running);
  // The operation holds the view; it stays until the queue has moved on.
  GObjectPtr<WebKitWebView> view = add_ref(r->view);
  g_object_unref(op);  // the reference run_next_print made it with
  if (auto* q = static_cast<PrintQueue*>(g_object_get_data(G_OBJECT(view.get()), kPrintQueueKey))) q->busy = false;
  r->done(r->error);
  run_next_print(view.get());
}

void run_next_print(WebKitWebView* view) {
  auto* q = static_cast<PrintQueue*>(g_object_get_data(G_OBJECT(view), kPrintQueueKey));
  while (q && !q->busy && !q->waiting.empty()) {
    PrintJob job = std::move(q->waiting.front());
    q->waiting.pop_front();
    GtkNavigation* nav = navigation_of(view);
    if (!nav || !nav->has_document()) {
      job.done(kNoDocument);
      continue;
    }
    q->busy = true;
    WebKitPrintOperation* op = webkit_print_operation_new(view);
    webkit_print_operation_set_print_settings(op, job.settings.get());
    if (job.setup) webkit_print_operation_set_page_setup(op, job.setup.get());
    auto* running = new RunningPrint{view, std::move(job.done), job.fallback, {}};
    g_signal_connect(op, "failed", G_CALLBACK(&on_print_failed), running);
    g_signal_connect(op, "finished", G_CALLBACK(&on_print_finished), running);
    webkit_print_operation_print(op);
  }
}

void queue_print(WebKitWebView* view, PrintJob job) {
  auto* q = static_cast<PrintQueue*>(g_object_get_data(G_OBJECT(view), kPrintQueueKey));
  if (!q) {
    q = new PrintQueue;
    g_object_set_data_full(G_OBJECT(view), kPrintQueueKey, q, +[](gpointer p) { delete static_cast<PrintQueue*>(p); });
  }
  q->waiting.push_back(std::move(job));
  run_next_print(view);
}

template <typename T>
std::shared_ptr<T> hold(T* object) {
  return std::shared_ptr<T>(object, [](T* o) { g_object_unref(o); });
}

void on_print_response(GtkDialog* dialog, gint response, WebKitWebView* view) {
  if (response == GTK_RESPONSE_OK) {
    GtkPrintUnixDialog* d = GTK_PRINT_UNIX_DIALOG(dialog);
    GtkPrintSettings* settings = gtk_print_unix_dialog_get_settings(d);
    if (GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(d))
      gtk_print_settings_set_printer(settings, gtk_printer_get_name(printer));
    GtkPageSetup* setup = gtk_print_unix_dialog_get_page_setup(d);
    g_last_settings = add_ref(settings);
    g_last_page_setup.reset(gtk_page_setup_copy(setup));
    queue_print(view, {hold(settings), hold(GTK_PAGE_SETUP(g_object_ref(setup))), [](const std::string& error) {
                         if (!error.empty()) std::fprintf(stderr, "quibex: PRINT: %s\n", error.c_str());
                       },
                       "printing failed"});
  }
  gtk_widget_destroy(GTK_WIDGET(dialog));
}

}  // namespace

void evaluate_private(WebKitWebView* view, const std::string& script,
                      std::function<void(std::optional<std::string>)> done) {
  evaluate(view, utf8_sanitize(script), [done = std::move(done)](JSCValue* v) {
    if (!v || !jsc_value_is_string(v)) {
      done(std::nullopt);
      return;
    }
    done(take_string(jsc_value_to_string(v)));
  });
}

void find_in_page(WebKitWebView* view, const std::string& text, bool backwards, bool case_sensitive,
                  std::function<void(bool)> done) {
  // The engine's own find, called from the private world so that the page
  // cannot replace it: it searches from the selection, wraps, selects the match
  // and scrolls it into view.
  std::string script = "window.find(" + json_escape(utf8_sanitize(text)) + ", " +
                       (case_sensitive ? "true" : "false") + ", " + (backwards ? "true" : "false") +
                       ", true, false, false, false) === true";
  evaluate(view, script, [done = std::move(done)](JSCValue* v) {
    done(v && jsc_value_is_boolean(v) && jsc_value_to_boolean(v));
  });
}

void print_view_to_pdf(WebKitWebView* view, const std::string& path, std::function<void(const std::string&)> done) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GPtr<char> uri(g_file_get_uri(file.get()));
  GtkPrintSettings* settings = gtk_print_settings_new();
  gtk_print_settings_set_printer(settings, file_printer_name());
  gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
  gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri.get());
  queue_print(view, {hold(settings), nullptr, std::move(done), "pdf write failed"});
}

void show_view_print_dialog(WebKitWebView* view) {
  GtkNavigation* nav = navigation_of(view);
  if (!nav || !nav->has_document()) {
    std::fputs("quibex: PRINT: the window shows no document to print\n", stderr);
    return;
  }
  // The dialog keeps the page's window waiting without a nested main loop: the
  // answer arrives as a signal, like any other.
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  GtkWindow* parent = gtk_widget_is_toplevel(top) ? GTK_WINDOW(top) : nullptr;
  GtkWidget* dialog = gtk_print_unix_dialog_new(nullptr, parent);
  GtkPrintUnixDialog* d = GTK_PRINT_UNIX_DIALOG(dialog);
  gtk_print_unix_dialog_set_embed_page_setup(d, TRUE);
  gtk_print_unix_dialog_set_manual_capabilities(
      d, GtkPrintCapabilities(GTK_PRINT_CAPABILITY_GENERATE_PDF | GTK_PRINT_CAPABILITY_COPIES |
                              GTK_PRINT_CAPABILITY_COLLATE | GTK_PRINT_CAPABILITY_REVERSE |
                              GTK_PRINT_CAPABILITY_SCALE | GTK_PRINT_CAPABILITY_NUMBER_UP));
  if (g_last_settings) gtk_print_unix_dialog_set_settings(d, g_last_settings.get());
  if (g_last_page_setup) gtk_print_unix_dialog_set_page_setup(d, g_last_page_setup.get());
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  // Goes with its window; the page stays alive as long as the dialog does.
  gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  g_signal_connect_data(dialog, "response", G_CALLBACK(&on_print_response), g_object_ref(view),
                        +[](gpointer v, GClosure*) { g_object_unref(v); }, GConnectFlags(0));
  gtk_widget_show(dialog);
}

std::string view_url(WebKitWebView* view) {
  const char* uri = webkit_web_view_get_uri(view);
  // Text loaded without an address shows as about:blank.
  if (!uri || !*uri || g_str_equal(uri, "about:blank")) return "";
  return uri;
}

}  // namespace platform::gtk
