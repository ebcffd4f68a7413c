#pragma once
// Screen capture and image services on X11: frames through MIT-SHM with the cursor
// from XFixes, H.264/MP4 through GStreamer; text recognition and thumbnails from
// the image module (platform/gtk/image_module.h).

#include <string>

#include "platform/capture.h"

namespace platform::gtk {

ScreenCapture& gtk_capture();

// Pieces kept in their own files.
std::unique_ptr<VideoWriter> make_gst_writer(const std::string& path, std::string& error);

}  // namespace platform::gtk
