// libcanberra opens its own connection to the sound server and waits for it, and
// for each sound to start, with no time limit. It runs on a thread of its own so
// that a server that stops answering holds up that thread alone; the thread is
// never joined, so that a call stuck there cannot hold up the host's exit either.

#include "platform/gtk/gtk_sounds.h"

#include <canberra.h>
#include <gdk/gdk.h>

#include "platform/gtk/glib_loop.h"
#include "platform/platform.h"

namespace platform::gtk {

namespace {

// The sound thread's only: the library's context, made on first use.
ca_context* g_sounds = nullptr;

bool play(const std::string& name) {
  if (!g_sounds && ca_context_create(&g_sounds) != CA_SUCCESS) {
    g_sounds = nullptr;
    return false;
  }
  ca_context_cancel(g_sounds, 1);  // the sound before stops
  const int rc = name[0] == '/' ? ca_context_play(g_sounds, 1, CA_PROP_MEDIA_FILENAME, name.c_str(), nullptr)
                                : ca_context_play(g_sounds, 1, CA_PROP_EVENT_ID, name.c_str(), nullptr);
  if (rc != CA_SUCCESS) g_printerr("quibex: sound \"%s\": %s\n", name.c_str(), ca_strerror(rc));
  return rc == CA_SUCCESS;
}

}  // namespace

void play_desktop_sound(const std::string& name, std::function<void(bool)> done) {
  if (name.empty()) {
    gdk_display_beep(gdk_display_get_default());
    return done(true);
  }
  static SerialQueue* const sound_thread = new GlibSerialQueue("quibex-sound");  // lives as long as the process
  sound_thread->post([name, done = std::move(done)]() mutable {
    const bool ok = play(name);
    platform::current().main_queue().post([ok, done = std::move(done)] { done(ok); });
  });
}

}  // namespace platform::gtk
