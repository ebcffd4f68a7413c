// Opening the optional services' modules; see module_loader.h.

#include "platform/common/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

// The folders a module may be in, in the order they are tried.
const std::vector<std::string>& module_dirs() {
  static const std::vector<std::string> dirs = [] {
    std::vector<std::string> out;
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return out;
    std::string exe(buf, size_t(n));
    const std::string dir = exe.substr(0, exe.rfind('/') + 1);
    out.push_back(dir + "modules/");
    out.push_back(dir + "../lib/quibex/modules/");
    return out;
  }();
  return dirs;
}

}  // namespace

Module::Module(const char* name, const char* entry, const char* what) : name_(name), entry_(entry), what_(what) {}

void Module::open() {
  const std::string file = std::string("libquibex-") + name_ + ".so";
  void* handle = nullptr;
  std::string why = "no " + file + " beside the host";
  for (const std::string& dir : module_dirs()) {
    const std::string path = dir + file;
    if (access(path.c_str(), F_OK) != 0) continue;
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* e = dlerror();
      why = e ? e : "it cannot be loaded";
    }
    break;
  }
  void* service = nullptr;
  if (handle) {
    const ModuleHost host;
    if (auto entry = reinterpret_cast<ModuleEntry>(dlsym(handle, entry_))) {
      service = entry(&host);
      if (!service) why = "it does not start";
    } else {
      why = file + " has no " + entry_;
    }
  }
  if (!service) std::fprintf(stderr, "quibex: %s is not available: %s\n", what_, why.c_str());
  std::lock_guard<std::mutex> lock(mu_);
  service_ = service;
  opened_ = true;
  opening_ = false;
  cv_.notify_all();
}

void* Module::get() {
  {
    std::unique_lock<std::mutex> lock(mu_);
    if (opening_) cv_.wait(lock, [this] { return opened_; });
    if (opened_) return service_;
    opening_ = true;
  }
  open();
  std::lock_guard<std::mutex> lock(mu_);
  return service_;
}

void Module::with(std::function<void(void*)> fn) {
  if (ready_) return fn(get());
  waiting_.push_back(std::move(fn));
  if (started_) return;
  started_ = true;
  // Opens the module, or waits for an open under way through get, off the main thread.
  std::thread([this] {
    get();
    platform::current().main_queue().post([this] { opened_on_main(); });
  }).detach();
}

void Module::opened_on_main() {
  void* service = get();
  // A waiting fn that asks again joins the end of the line.
  while (!waiting_.empty()) {
    std::function<void(void*)> fn = std::move(waiting_.front());
    waiting_.pop_front();
    fn(service);
  }
  ready_ = true;
}

}  // namespace platform
