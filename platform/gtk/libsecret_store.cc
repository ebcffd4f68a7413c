// The secrets module: the Secret Service through libsecret, asked
// asynchronously on the main context.

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <memory>

#include "platform/gtk/secret_module.h"
#include "platform/module_entry.h"

namespace platform::gtk {

namespace {

// One schema for every item: the service and account pair names it.
const SecretSchema* schema() {
  static const SecretSchema s = {"org.quibex.Secret",
                                 SECRET_SCHEMA_NONE,
                                 {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                  {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                  {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return &s;
}

GHashTable* attributes(const std::string& service, const std::string& account) {
  GHashTable* t = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
  g_hash_table_insert(t, g_strdup("service"), g_strdup(service.c_str()));
  g_hash_table_insert(t, g_strdup("account"), g_strdup(account.c_str()));
  return t;
}

SecretResult from_error(GError* error) {
  SecretResult r;
  r.status = error->code ? error->code : -1;
  r.message = error->message ? error->message : "";
  g_error_free(error);
  return r;
}

void lookup_done(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<SecretStore::Done> done(static_cast<SecretStore::Done*>(data));
  GError* error = nullptr;
  SecretValue* value = secret_password_lookup_binary_finish(res, &error);
  if (error) return (*done)(from_error(error));
  SecretResult r;
  if (value) {
    r.found = true;
    gsize n = 0;
    const gchar* bytes = secret_value_get(value, &n);
    if (g_utf8_validate(bytes, gssize(n), nullptr)) r.value = std::string(bytes, n);
    secret_value_unref(value);
  }
  (*done)(r);
}

void stored(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<SecretStore::Done> done(static_cast<SecretStore::Done*>(data));
  GError* error = nullptr;
  secret_password_store_finish(res, &error);
  (*done)(error ? from_error(error) : SecretResult{});
}

void cleared(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<SecretStore::Done> done(static_cast<SecretStore::Done*>(data));
  GError* error = nullptr;
  secret_password_clear_finish(res, &error);  // false without error: nothing matched
  (*done)(error ? from_error(error) : SecretResult{});
}

class LibsecretStore : public SecretStore {
 public:
  void lookup(const std::string& service, const std::string& account, GCancellable* cancel, Done done) override {
    GHashTable* attrs = attributes(service, account);
    secret_password_lookupv(schema(), attrs, cancel, lookup_done, new Done(std::move(done)));
    g_hash_table_unref(attrs);
  }
  void store(const std::string& service, const std::string& account, const std::string& value,
             GCancellable* cancel, Done done) override {
    GHashTable* attrs = attributes(service, account);
    // The service replaces the matching item as it stores the new one: there is
    // never a moment without a secret, and a failed store keeps the old one.
    SecretValue* v = secret_value_new(value.data(), gssize(value.size()), "text/plain");
    const std::string label = service + " (" + account + ")";
    secret_password_storev_binary(schema(), attrs, SECRET_COLLECTION_DEFAULT, label.c_str(), v, cancel, stored,
                                  new Done(std::move(done)));
    secret_value_unref(v);
    g_hash_table_unref(attrs);
  }
  void clear(const std::string& service, const std::string& account, GCancellable* cancel, Done done) override {
    GHashTable* attrs = attributes(service, account);
    secret_password_clearv(schema(), attrs, cancel, cleared, new Done(std::move(done)));
    g_hash_table_unref(attrs);
  }
};

}  // namespace

}  // namespace platform::gtk

QUIBEX_MODULE_ENTRY(quibex_secret_module) {
  static auto* store = new platform::gtk::LibsecretStore;
  return static_cast<platform::gtk::SecretStore*>(store);
}
