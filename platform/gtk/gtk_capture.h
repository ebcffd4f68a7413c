#pragma once
// Screen capture and image services on X11: frames through MIT-SHM with the cursor
// from XFixes, H.264/MP4 through GStreamer, text through tesseract, thumbnails
// through gdk-pixbuf and poppler.

#include <string>

#include "platform/capture.h"

namespace platform::gtk {

ScreenCapture& gtk_capture();

// Pieces kept in their own files.
std::unique_ptr<VideoWriter> make_gst_writer(const std::string& path, std::string& error);
void recognize_text_file(const std::string& path,
                         std::function<void(std::optional<std::vector<TextLine>>, std::string)> done);
void thumbnail_file(const std::string& path, std::uint32_t max_px,
                    std::function<void(std::optional<PngImage>, std::string)> done);

}  // namespace platform::gtk
