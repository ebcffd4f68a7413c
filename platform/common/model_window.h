#pragma once
// The part of a native window that only keeps what it was given: a desktop's
// window derives from ModelWindow and overrides only what also shows on screen.

#include <cstdint>

#include "platform/window.h"

namespace platform {

// Keeps the model values a window was given (level, collection behaviour, opacity,
// button visibility, ...) and answers them back. Desktop layers derive from it and
// override only the setters that also change something on screen.
class ModelWindow : public NativeWindow {
 public:
  void set_level(long l) override { level_ = l; }
  void set_collection_behavior(std::uint64_t b) override { behavior_ = b; }
  void set_ignores_mouse_events(bool v) override { ignores_ = v; }
  void set_opaque(bool v) override { opaque_ = v; }
  void set_background_clear(bool v) override { clear_ = v; }
  void set_has_shadow(bool v) override { shadow_ = v; }
  void set_titlebar_appears_transparent(bool v) override { tb_transparent_ = v; }
  void set_title_visible(bool v) override { title_visible_ = v; }
  void set_titlebar_hidden(bool v) override { tb_hidden_ = v; }
  void set_button_visible(WindowButton b, bool v) override { buttons_[int(b)] = v; }
  void set_can_become_key(bool v) override { can_key_ = v; }
  long level() const override { return level_; }
  std::uint64_t collection_behavior() const override { return behavior_; }
  bool ignores_mouse_events() const override { return ignores_; }
  bool is_opaque() const override { return opaque_; }
  bool background_clear() const override { return clear_; }
  bool has_shadow() const override { return shadow_; }
  bool titlebar_appears_transparent() const override { return tb_transparent_; }
  bool title_visible() const override { return title_visible_; }
  bool titlebar_hidden() const override { return tb_hidden_; }
  bool button_visible(WindowButton b) const override { return buttons_[int(b)]; }
  bool can_become_key() const override { return can_key_; }
 protected:
  long level_ = 0;
  std::uint64_t behavior_ = 0;
  bool ignores_ = false, opaque_ = true, clear_ = false, shadow_ = true;
  bool tb_transparent_ = false, title_visible_ = true, tb_hidden_ = false, can_key_ = true;
  bool buttons_[3] = {true, true, true};
};

}  // namespace platform
