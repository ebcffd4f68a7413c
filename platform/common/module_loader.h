#pragma once
// Optional services live in modules: shared objects that the host opens the first
// time a command needs one, so that their libraries (tesseract, libcurl,
// GStreamer, espeak-ng, ...) load then and not at every start. A module is
// looked for in modules/ beside the executable (the build tree and a bundle's
// Contents/MacOS), then in ../lib/quibex/modules (an installed host).
//
// A module's entry is declared with platform/module_entry.h.
//
// Contract: a module is opened at most once and never closed. When it cannot be
// opened (missing, or a library of its own is missing) its service is null, and
// the host answers as it does for a desktop without the service; the reason is
// said on stderr once.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/module_entry.h"

namespace platform {

class Module {
 public:
  // name: the file is libquibex-<name>.so; entry: its entry's name; what: the
  // service, for the message when it cannot be had.
  Module(const char* name, const char* entry, const char* what);
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Any thread: the service, opening the module now when it is not open yet (or
  // waiting for the open under way); null when it cannot be had.
  void* get();
  // Main thread: fn(service or null) runs exactly once on the main thread, after
  // every fn given before it: at once when the module is open, else once a
  // thread of its own has opened it (through the main queue, so commands behind
  // the first use wait their turn as usual). For modules too slow to open on the
  // main thread.
  void with(std::function<void(void*)> fn);

 private:
  void open();  // with mu_ not held; fills service_ and sets opened_
  void opened_on_main();

  const char* name_;
  const char* entry_;
  const char* what_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool opening_ = false, opened_ = false;
  void* service_ = nullptr;
  // Main thread only: fns waiting for an open under way, and whether they have run.
  bool started_ = false, ready_ = false;
  std::deque<std::function<void(void*)>> waiting_;
};

// A Module whose service is a T.
template <class T>
class ModuleOf {
 public:
  ModuleOf(const char* name, const char* entry, const char* what) : module_(name, entry, what) {}
  T* get() { return static_cast<T*>(module_.get()); }
  void with(std::function<void(T*)> fn) {
    module_.with([fn = std::move(fn)](void* s) { fn(static_cast<T*>(s)); });
  }

 private:
  Module module_;
};

}  // namespace platform

