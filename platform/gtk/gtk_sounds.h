#pragma once
// Sounds on the Linux desktop: theme sounds and files through libcanberra, on a
// thread of their own, and the display's bell.

#include <functional>
#include <string>

namespace platform::gtk {

// Plays a theme sound's event id, or a file by absolute path, stopping the sound
// before; "" rings the display's bell. Main thread; returns at once. done(ok)
// runs on the main thread once the sound has started or failed; never while the
// sound server does not answer.
void play_desktop_sound(const std::string& name_or_path, std::function<void(bool ok)> done);

}  // namespace platform::gtk
