// The quibex executable: the Linux desktop under the launcher core.

#include "core/startup.h"
#include "platform/gtk/gtk_platform.h"

int main(int argc, char** argv) {
  static platform::gtk::GtkPlatform desktop;
  platform::install(&desktop);
  return launcher_main(argc, argv);
}
