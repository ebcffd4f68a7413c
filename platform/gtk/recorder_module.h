#pragma once
// The recorder's module (libquibex-recorder.so): the MP4 writer on GStreamer,
// which the host loads only with it (platform/common/module_loader.h).

#include <memory>
#include <string>

#include "platform/capture.h"

namespace platform::gtk {

class VideoWriterMaker {
 public:
  virtual ~VideoWriterMaker() = default;
  // Main thread: a writer of path, made creatable now; null with error set (or
  // "" when the file cannot be created).
  virtual std::unique_ptr<VideoWriter> make(const std::string& path, std::string& error) = 0;
};

}  // namespace platform::gtk
