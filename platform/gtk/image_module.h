#pragma once
// The image services' module (libquibex-image.so): text recognition with
// tesseract and thumbnails with gdk-pixbuf and poppler, whose libraries the
// host loads only with it (platform/common/module_loader.h).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture.h"

namespace platform::gtk {

// Both calls return at once; done runs exactly once, on any thread.
class ImageServices {
 public:
  virtual ~ImageServices() = default;
  virtual void recognize_text(const std::string& path,
                              std::function<void(std::optional<std::vector<TextLine>>, std::string)> done) = 0;
  virtual void thumbnail(const std::string& path, std::uint32_t max_px,
                         std::function<void(std::optional<PngImage>, std::string)> done) = 0;
};

// The module's entry: its ImageServices.
inline constexpr const char* kImageModuleEntry = "quibex_image_module";

}  // namespace platform::gtk
