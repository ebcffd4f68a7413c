#pragma once
// Screen capture and image services on X11: frames through MIT-SHM with the cursor
// from XFixes; H.264/MP4 from the recorder module (platform/gtk/recorder_module.h),
// text recognition and thumbnails from the image module (platform/gtk/image_module.h).

#include <string>

#include "platform/capture.h"

namespace platform::gtk {

ScreenCapture& gtk_capture();

}  // namespace platform::gtk
