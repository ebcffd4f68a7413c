#pragma once
// Owners for what the desktop code gets from GLib and its libraries: a reference
// to a GObject, a g_free'd string, a GError, a GVariant and the other kinds below,
// each given back exactly once when its owner goes; and a signal handler that is
// disconnected when its connection goes. A C++ object that holds a GLib value or
// listens to a GObject holds one of these, so that no early return leaks it and
// no handler outlives the data it was given.
//
// Contract:
// - GObjectPtr<T> owns one reference to a GObject of type T; GPtr<T> owns one
//   value of a kind GRelease<T> knows. Both are std::unique_ptr: null is a valid
//   value and releases nothing; release() hands the value back to the caller.
//   They may live on any thread that may release their value.
// - out_ptr(owner) is the address a call writes a new value to: it frees what the
//   owner held first, and the owner takes the value when the full expression ends
//   (so the owner reads null inside the same expression).
// - SignalConnection is main-thread only (it keeps a weak pointer to its
//   instance). It disconnects its handler once: when it is destroyed, assigned or
//   disconnected, and only while both the instance and the handler are still
//   there; an instance that was disposed first (a destroyed widget, a finalized
//   object), or a handler that was disconnected elsewhere, is left alone.

#include <gio/gio.h>
#include <glib-object.h>

#include <memory>
#include <string>
#include <utility>

namespace platform::gtk {

template <typename T>
struct GObjectUnref {
  void operator()(T* object) const { g_object_unref(object); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref<T>>;

// A new reference to object (null stays null).
template <typename T>
GObjectPtr<T> add_ref(T* object) {
  return GObjectPtr<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

// Takes over a newly made object whose first reference is floating (widgets).
template <typename T>
GObjectPtr<T> ref_sink(T* object) {
  return GObjectPtr<T>(object ? static_cast<T*>(g_object_ref_sink(object)) : nullptr);
}

// How each kind of value other than a GObject is given back. A kind this file
// does not list may be added by a specialization beside its only user.
template <typename T>
struct GRelease;
template <>
struct GRelease<char> {
  void operator()(char* s) const { g_free(s); }
};
template <>
struct GRelease<char*> {  // a null-terminated string array
  void operator()(char** v) const { g_strfreev(v); }
};
template <>
struct GRelease<GError> {
  void operator()(GError* e) const { g_error_free(e); }
};
template <>
struct GRelease<GVariant> {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
template <>
struct GRelease<GVariantIter> {
  void operator()(GVariantIter* i) const { g_variant_iter_free(i); }
};
template <>
struct GRelease<GBytes> {
  void operator()(GBytes* b) const { g_bytes_unref(b); }
};
template <>
struct GRelease<GHashTable> {
  void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
template <>
struct GRelease<GDateTime> {
  void operator()(GDateTime* t) const { g_date_time_unref(t); }
};
template <>
struct GRelease<GTimeZone> {
  void operator()(GTimeZone* z) const { g_time_zone_unref(z); }
};
template <>
struct GRelease<GDBusNodeInfo> {
  void operator()(GDBusNodeInfo* i) const { g_dbus_node_info_unref(i); }
};
template <>
struct GRelease<GDir> {
  void operator()(GDir* d) const { g_dir_close(d); }
};
template <>
struct GRelease<GSource> {
  void operator()(GSource* s) const { g_source_unref(s); }
};
template <>
struct GRelease<GMainLoop> {
  void operator()(GMainLoop* l) const { g_main_loop_unref(l); }
};
template <>
struct GRelease<GAsyncQueue> {
  void operator()(GAsyncQueue* q) const { g_async_queue_unref(q); }
};

template <typename T>
using GPtr = std::unique_ptr<T, GRelease<T>>;

// The text of a string the caller was given to free; "" for null.
inline std::string take_string(char* s) {
  GPtr<char> owned(s);
  return s ? std::string(s) : std::string();
}

// See out_ptr below.
template <typename Owner>
class OutPtr {
 public:
  using Pointer = typename Owner::pointer;
  explicit OutPtr(Owner& owner) : owner_(owner) { owner_.reset(); }
  ~OutPtr() {
    if (raw_) owner_.reset(raw_);
  }
  OutPtr(const OutPtr&) = delete;
  OutPtr& operator=(const OutPtr&) = delete;
  operator Pointer*() { return &raw_; }

 private:
  Owner& owner_;
  Pointer raw_ = nullptr;
};

// For a call's out-argument: g_file_trash(file, nullptr, out_ptr(error)).
template <typename Owner>
OutPtr<Owner> out_ptr(Owner& owner) {
  return OutPtr<Owner>(owner);
}

// One signal handler, disconnected when this goes (see the contract above).
class SignalConnection {
 public:
  SignalConnection() = default;
  // Connects handler to the signal of instance (a GObject), as g_signal_connect_data does.
  SignalConnection(gpointer instance, const char* signal, GCallback handler, gpointer data,
                   GClosureNotify destroy_data = nullptr, GConnectFlags flags = GConnectFlags(0))
      : id_(g_signal_connect_data(instance, signal, handler, data, destroy_data, flags)) {
    watch(instance);
  }
  ~SignalConnection() { disconnect(); }
  SignalConnection(SignalConnection&& other) noexcept { take(other); }
  SignalConnection& operator=(SignalConnection&& other) noexcept {
    if (this != &other) {
      disconnect();
      take(other);
    }
    return *this;
  }
  SignalConnection(const SignalConnection&) = delete;
  SignalConnection& operator=(const SignalConnection&) = delete;

  // The handler is connected and its instance alive.
  bool connected() const { return instance_ && id_ && g_signal_handler_is_connected(instance_, id_); }

  void disconnect() {
    if (connected()) g_signal_handler_disconnect(instance_, id_);
    unwatch();
    id_ = 0;
  }

 private:
  void watch(gpointer instance) {
    instance_ = instance;
    if (instance_) g_object_add_weak_pointer(G_OBJECT(instance_), &instance_);
  }
  void unwatch() {
    if (instance_) g_object_remove_weak_pointer(G_OBJECT(instance_), &instance_);
    instance_ = nullptr;
  }
  // The weak pointer is kept at the address of instance_, so it moves with it.
  void take(SignalConnection& other) {
    gpointer instance = other.instance_;
    id_ = other.id_;
    other.unwatch();
    other.id_ = 0;
    watch(instance);
  }

  gpointer instance_ = nullptr;  // null once the instance is disposed
  gulong id_ = 0;
};

}  // namespace platform::gtk
