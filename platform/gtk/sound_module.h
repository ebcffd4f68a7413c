#pragma once
// The sound module (libquibex-sound.so): theme sounds and sound files through
// libcanberra, which the host loads only with it (platform/common/module_loader.h).

#include <string>

namespace platform::gtk {

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // The sound thread only: stops the sound before and starts a theme sound's
  // event id, or a file by absolute path; false when it cannot start. May wait on
  // the sound server without limit.
  virtual bool play(const std::string& name) = 0;
};

}  // namespace platform::gtk
