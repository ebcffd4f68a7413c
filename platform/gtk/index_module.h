#pragma once
// The file-index module (libquibex-index.so): the desktop's file index
// (Tracker 3's files miner) through tracker-sparql, which the host loads only
// with it (platform/common/module_loader.h).

#include <functional>
#include <string>

typedef struct _GCancellable GCancellable;
typedef struct _GDBusConnection GDBusConnection;

namespace platform::gtk {

// The index's bus name.
inline constexpr const char* kFileIndexName = "org.freedesktop.Tracker3.Miner.Files";

class FileIndex {
 public:
  virtual ~FileIndex() = default;
  // Main thread: the files whose names contain query, or whose indexed text
  // matches it, case and accents aside. found(path) runs on the main thread for
  // each one, in the index's order ("" for an entry that is no local file), and
  // says whether more are wanted; then done(ok) runs once: ok false when the
  // index could not be asked. Once cancel is cancelled nothing more is found.
  virtual void search(GDBusConnection* bus, const std::string& query, GCancellable* cancel,
                      std::function<bool(const std::string& path)> found, std::function<void(bool ok)> done) = 0;
};

}  // namespace platform::gtk
