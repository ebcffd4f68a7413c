#include "platform/capture.h"

namespace platform {

namespace {
ScreenCapture* g_capture = nullptr;
}

ScreenCapture* screen_capture() { return g_capture; }
void install_screen_capture(ScreenCapture* c) { g_capture = c; }

}  // namespace platform
