// libcanberra (the sound module) opens its own connection to the sound server and
// waits for it, and for each sound to start, with no time limit. It runs on a
// thread of its own, where the module is opened too, so
// that a server that stops answering holds up that thread alone; the thread is
// never joined, so that a call stuck there cannot hold up the host's exit either.

#include "platform/common/module_loader.h"
#include "platform/gtk/gtk_sounds.h"

#include <gdk/gdk.h>

#include "platform/gtk/glib_loop.h"
#include "platform/gtk/sound_module.h"
#include "platform/platform.h"

namespace platform::gtk {

namespace {

// Opened on the sound thread by the first sound.
ModuleOf<SoundPlayer>& sounds() {
  static auto* m = new ModuleOf<SoundPlayer>("sound", "quibex_sound_module", "sound (libcanberra)");
  return *m;
}

}  // namespace

void play_desktop_sound(const std::string& name, std::function<void(bool)> done) {
  if (name.empty()) {
    gdk_display_beep(gdk_display_get_default());
    return done(true);
  }
  static SerialQueue* const sound_thread = new GlibSerialQueue("quibex-sound");  // lives as long as the process
  sound_thread->post([name, done = std::move(done)]() mutable {
    SoundPlayer* player = sounds().get();
    const bool ok = player && player->play(name);
    platform::current().main_queue().post([ok, done = std::move(done)] { done(ok); });
  });
}

}  // namespace platform::gtk
