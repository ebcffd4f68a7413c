#include "core/launcher.h"

#include "platform/platform.h"

std::atomic<void*> g_w{nullptr};
int g_listen_fd = -1;
std::atomic<bool> g_about_to_app{false};

void launcher_dispatch(void* w, platform::HandlerFn handler, void* record) {
  platform::current().main_queue().post(handler, w, record);
}
