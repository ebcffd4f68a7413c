// The quibex executable: the Linux desktop under the launcher core.

#include "app/command_table.h"
#include "app/startup_parts.h"
#include "app/window_observers.h"
#include "core/startup.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/pulse/pulse_audio.h"
#include "platform/pulse/pulse_speech.h"

int main(int argc, char** argv) {
  static platform::gtk::GtkPlatform desktop;
  platform::install(&desktop);
  // Before any web process starts, so that the pages' sound carries the tag too.
  platform::pulse::tag_own_streams();
  platform::install_audio_server(&platform::pulse::pulse_audio_server());
  platform::install_speech_output(platform::pulse::make_pulse_speech_output);
  install_command_table(app_command_table());
  // The features above the core: their start-up parts and what follows windows.
  install_startup_parts();
  install_window_observers();
  return launcher_main(argc, argv);
}
