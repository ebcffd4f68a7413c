// The owners of GLib values and signal connections: what each gives back, when,
// and that a connection outlived by its instance or disconnected elsewhere is
// left alone. GLib's warnings and criticals fail a test.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/gtk/glib_ptr.h"

namespace {

using namespace platform::gtk;

class GlibPtr : public ::testing::Test {
 protected:
  void SetUp() override {
    handler_ = g_log_set_handler(
        "GLib-GObject", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
        +[](const gchar*, GLogLevelFlags, const gchar* message, gpointer) { ADD_FAILURE() << message; }, nullptr);
  }
  void TearDown() override { g_log_remove_handler("GLib-GObject", handler_); }

  // An action that counts its activations into `runs`.
  GObjectPtr<GSimpleAction> action() {
    return GObjectPtr<GSimpleAction>(g_simple_action_new("a", nullptr));
  }
  SignalConnection count_runs(GSimpleAction* a) {
    return SignalConnection(a, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, int* n) { ++*n; }), &runs);
  }
  static void activate(GSimpleAction* a) { g_action_activate(G_ACTION(a), nullptr); }

  int runs = 0;
  guint handler_ = 0;
};

// Set when the object is finalized.
void watch_finalize(gpointer object, bool* gone) {
  g_object_weak_ref(G_OBJECT(object), +[](gpointer flag, GObject*) { *static_cast<bool*>(flag) = true; }, gone);
}

TEST_F(GlibPtr, AConnectionHandsItsSignalToTheHandlerUntilItGoes) {
  auto a = action();
  {
    SignalConnection c = count_runs(a.get());
    EXPECT_TRUE(c.connected());
    activate(a.get());
    EXPECT_EQ(runs, 1);
  }
  activate(a.get());
  EXPECT_EQ(runs, 1);
}

TEST_F(GlibPtr, AConnectionWhoseInstanceWentFirstDoesNothing) {
  auto a = action();
  bool data_freed = false;
  SignalConnection c(a.get(), "activate", G_CALLBACK(+[] {}), &data_freed,
                     +[](gpointer flag, GClosure*) { *static_cast<bool*>(flag) = true; });
  a.reset();
  EXPECT_TRUE(data_freed);
  EXPECT_FALSE(c.connected());
  c.disconnect();
}

TEST_F(GlibPtr, AHandlerDisconnectedElsewhereIsLeftAlone) {
  auto a = action();
  SignalConnection c = count_runs(a.get());
  EXPECT_EQ(g_signal_handlers_disconnect_by_data(a.get(), &runs), 1u);
  EXPECT_FALSE(c.connected());
  // Disconnecting again would be a GLib critical.
}

TEST_F(GlibPtr, AMovedConnectionIsDisconnectedOnceByItsLastOwner) {
  auto a = action();
  std::vector<SignalConnection> held;
  SignalConnection first = count_runs(a.get());
  held.push_back(std::move(first));
  for (int i = 0; i < 8; ++i) held.push_back(count_runs(a.get()));  // the vector moves them as it grows
  EXPECT_FALSE(first.connected());
  first.disconnect();
  activate(a.get());
  EXPECT_EQ(runs, 9);
  SignalConnection last = std::move(held.back());
  held.pop_back();
  held.front() = std::move(last);  // disconnects the one it replaces
  activate(a.get());
  EXPECT_EQ(runs, 17);
  held.clear();
  activate(a.get());
  EXPECT_EQ(runs, 17);
  // Moved connections still learn that their instance went.
  held.push_back(count_runs(a.get()));
  bool gone = false;
  watch_finalize(a.get(), &gone);
  a.reset();
  ASSERT_TRUE(gone);
  EXPECT_FALSE(held.back().connected());
}

TEST_F(GlibPtr, AnObjectOwnerHoldsOneReference) {
  bool gone = false;
  GObjectPtr<GObject> owner(G_OBJECT(g_simple_action_new("a", nullptr)));
  watch_finalize(owner.get(), &gone);
  GObjectPtr<GObject> second = add_ref(owner.get());
  owner.reset();
  EXPECT_FALSE(gone);
  GObject* raw = second.release();
  EXPECT_FALSE(gone);
  GObjectPtr<GObject> again(raw);
  GObjectPtr<GObject> moved = std::move(again);
  moved.reset();
  EXPECT_TRUE(gone);
  EXPECT_TRUE(add_ref<GObject>(nullptr) == nullptr);

  gone = false;
  GObject* floating = G_OBJECT(g_object_new(G_TYPE_INITIALLY_UNOWNED, nullptr));
  ASSERT_TRUE(g_object_is_floating(floating));
  watch_finalize(floating, &gone);
  GObjectPtr<GObject> sunk = ref_sink(floating);
  EXPECT_FALSE(g_object_is_floating(sunk.get()));
  sunk.reset();
  EXPECT_TRUE(gone);
}

TEST_F(GlibPtr, AnOutArgumentReachesItsOwnerAfterTheCall) {
  GPtr<GError> error;
  GPtr<char> text;
  EXPECT_FALSE(g_file_get_contents("/nonexistent/quibex", out_ptr(text), nullptr, out_ptr(error)));
  ASSERT_TRUE(error);
  EXPECT_TRUE(g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT));
  EXPECT_TRUE(text == nullptr);
  // A call that sets nothing leaves its owner empty: the old value is gone.
  EXPECT_TRUE(g_file_get_contents("/proc/self/cmdline", out_ptr(text), nullptr, out_ptr(error)));
  EXPECT_TRUE(error == nullptr);
  EXPECT_TRUE(text != nullptr);
}

TEST_F(GlibPtr, ATakenStringIsCopiedAndFreed) {
  EXPECT_EQ(take_string(g_strdup("käse")), "käse");
  EXPECT_EQ(take_string(nullptr), "");
  GPtr<char*> parts(g_strsplit("a,b", ",", -1));
  EXPECT_STREQ(parts.get()[1], "b");
}

}  // namespace
