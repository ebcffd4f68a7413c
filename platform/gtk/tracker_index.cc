// The file-index module: one SPARQL query to the files miner over the session
// bus, its rows read one at a time while the host wants more.

#include <gio/gio.h>
#include <libtracker-sparql/tracker-sparql.h>

#include <memory>

#include "platform/gtk/index_module.h"
#include "platform/module_entry.h"

namespace platform::gtk {

namespace {

struct Query {
  std::string text;
  GCancellable* cancel = nullptr;
  std::function<bool(const std::string&)> found;
  std::function<void(bool)> done;
  TrackerSparqlConnection* conn = nullptr;
  Query(std::string t, GCancellable* c) : text(std::move(t)), cancel(G_CANCELLABLE(g_object_ref(c))) {}
  ~Query() {
    g_object_unref(cancel);
    if (conn) g_object_unref(conn);
  }
  void finish(bool ok) {
    if (!done) return;
    auto d = std::move(done);
    done = nullptr;
    d(ok);
  }
};

void next_row(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Query> q(static_cast<Query*>(data));
  TrackerSparqlCursor* cursor = TRACKER_SPARQL_CURSOR(source);
  GError* error = nullptr;
  const bool more = tracker_sparql_cursor_next_finish(cursor, res, &error);
  g_clear_error(&error);
  if (more && !g_cancellable_is_cancelled(q->cancel)) {
    std::string p;
    if (char* path = g_filename_from_uri(tracker_sparql_cursor_get_string(cursor, 0, nullptr), nullptr, nullptr)) {
      p = path;
      g_free(path);
    }
    if (q->found(p)) {
      Query* again = q.release();
      return tracker_sparql_cursor_next_async(cursor, again->cancel, next_row, again);
    }
  }
  tracker_sparql_cursor_close(cursor);
  q->finish(true);
}

void queried(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Query> q(static_cast<Query*>(data));
  GError* error = nullptr;
  TrackerSparqlCursor* cursor = tracker_sparql_statement_execute_finish(TRACKER_SPARQL_STATEMENT(source), res, &error);
  g_object_unref(source);
  if (!cursor) {
    if (error) g_printerr("quibex: the file index did not answer: %s\n", error->message);
    g_clear_error(&error);
    return q->finish(false);
  }
  Query* keep = q.release();
  tracker_sparql_cursor_next_async(cursor, keep->cancel, next_row, keep);
  g_object_unref(cursor);  // the pending call holds it
}

void index_connected(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Query> q(static_cast<Query*>(data));
  GError* error = nullptr;
  q->conn = tracker_sparql_connection_bus_new_finish(res, &error);
  if (!q->conn) {
    g_clear_error(&error);
    return q->finish(false);
  }
  // Names that contain the query, or indexed text that matches it; case and
  // accents aside, as the walk does.
  const char* sparql =
      "SELECT DISTINCT ?url WHERE {"
      " { ?f a nfo:FileDataObject ; nie:url ?url ; nfo:fileName ?name ."
      "   FILTER(CONTAINS(tracker:case-fold(tracker:unaccent(?name)), tracker:case-fold(tracker:unaccent(~q)))) }"
      " UNION { ?ie fts:match ~q ; nie:isStoredAs ?f . ?f nie:url ?url }"
      "} LIMIT 1000";
  TrackerSparqlStatement* st = tracker_sparql_connection_query_statement(q->conn, sparql, q->cancel, &error);
  if (!st) {
    g_clear_error(&error);
    return q->finish(false);
  }
  tracker_sparql_statement_bind_string(st, "q", q->text.c_str());
  Query* keep = q.release();
  tracker_sparql_statement_execute_async(st, keep->cancel, queried, keep);
}

class TrackerIndex : public FileIndex {
 public:
  void search(GDBusConnection* bus, const std::string& query, GCancellable* cancel,
              std::function<bool(const std::string&)> found, std::function<void(bool)> done) override {
    auto* q = new Query(query, cancel);
    q->found = std::move(found);
    q->done = std::move(done);
    tracker_sparql_connection_bus_new_async(kFileIndexName, nullptr, bus, q->cancel, index_connected, q);
  }
};

}  // namespace

}  // namespace platform::gtk

QUIBEX_MODULE_ENTRY(quibex_index_module) {
  static auto* index = new platform::gtk::TrackerIndex;
  return static_cast<platform::gtk::FileIndex*>(index);
}
