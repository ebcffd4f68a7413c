#include "core/launcher.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

#include "core/wire.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "platform/webview_lib.h"

std::atomic<void*> g_w{nullptr};
int g_listen_fd = -1;
std::string g_sock_dir;
int g_backend_pid = -1;
int g_backend_pidfd = -1;
std::atomic<bool> g_about_to_app{false};

void launcher_dispatch(void* w, platform::HandlerFn handler, void* record) {
  platform::current().main_queue().post(handler, w, record);
}

void launcher_dispatch_batch(const platform::QueuedItem* items, size_t n) {
  platform::current().main_queue().post_batch(items, n);
}

namespace {
std::mutex g_at_finish_mu;
std::vector<std::function<void()>>& at_finish() {
  static auto* fns = new std::vector<std::function<void()>>;
  return *fns;
}
}  // namespace

void launcher_at_finish(std::function<void()> fn) {
  std::lock_guard<std::mutex> l(g_at_finish_mu);
  at_finish().push_back(std::move(fn));
}

void launcher_finish(int code) {
  // Lines still waiting for a slow backend get a moment to leave.
  sock_flush(1000);
  std::vector<std::function<void()>> fns;
  {
    std::lock_guard<std::mutex> l(g_at_finish_mu);
    fns = at_finish();
  }
  for (auto& fn : fns) fn();
  // Streams moved for the equalizer go back, and what it loaded goes.
  if (platform::AudioServer* audio = platform::audio_server()) audio->shutdown();
  if (void* w = g_w.exchange(nullptr)) webview_destroy(w);
  if (!g_sock_dir.empty()) {
    unlink((g_sock_dir + "/app.sock").c_str());
    rmdir(g_sock_dir.c_str());
  }
  std::fflush(stderr);
  _exit(code);
}

void do_terminate(void*) { platform::current().main_queue().quit(); }

void do_backend_exited(void*, std::unique_ptr<std::string> how) {
  std::fprintf(stderr, "launcher: the backend exited before it connected%s\n", how ? how->c_str() : "");
  launcher_finish(1);
}
