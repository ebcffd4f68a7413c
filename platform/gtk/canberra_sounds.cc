// The sound module: libcanberra, driven from the host's sound thread.

#include <canberra.h>
#include <glib.h>

#include "platform/gtk/sound_module.h"
#include "platform/module_entry.h"

namespace platform::gtk {

namespace {

class CanberraSounds : public SoundPlayer {
 public:
  bool play(const std::string& name) override {
    if (!ctx_ && ca_context_create(&ctx_) != CA_SUCCESS) {
      ctx_ = nullptr;
      return false;
    }
    ca_context_cancel(ctx_, 1);  // the sound before stops
    const int rc = name[0] == '/' ? ca_context_play(ctx_, 1, CA_PROP_MEDIA_FILENAME, name.c_str(), nullptr)
                                  : ca_context_play(ctx_, 1, CA_PROP_EVENT_ID, name.c_str(), nullptr);
    if (rc != CA_SUCCESS) g_printerr("quibex: sound \"%s\": %s\n", name.c_str(), ca_strerror(rc));
    return rc == CA_SUCCESS;
  }

 private:
  ca_context* ctx_ = nullptr;  // made on first use
};

}  // namespace

}  // namespace platform::gtk

QUIBEX_MODULE_ENTRY(quibex_sound_module) {
  static auto* sounds = new platform::gtk::CanberraSounds;
  return static_cast<platform::gtk::SoundPlayer*>(sounds);
}
